#pragma once

#include <QString>
#include <QStringList>

namespace velmar {

// The 13 version lines of an executable, in this key order: CompanyName, FileDescription,
// FileVersion, InternalName, LegalCopyright, OriginalFilename, ProductName, ProductVersion,
// Comments, LegalTrademarks, PrivateBuild, SpecialBuild ("Key: value" or "Key: Not specified"),
// then "Language: " and the language of the first string table. Empty when the file has no
// version information. The keys are found by scanning the raw block, not by a value query.
QStringList GetFileVer(const QString &path);

// The English name of a Windows language identifier given by the first four hexadecimal
// digits of code (either case); empty when the table does not know it.
QString GetLanguageName(const QString &code);

// The file's FileVersion value. keepLast: its last dot-separated part in plain decimal form
// (1.00.0025 gives 1.00.25); otherwise without its last part (1.00). silent: no report of its
// own failures (reports from GetFileVer still show).
QString GetFileVersionText(const QString &path, bool keepLast, bool silent);

}  // namespace velmar
