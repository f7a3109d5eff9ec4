#pragma once

#include <QString>

namespace velmar {

// The client library's escaping of a string literal's contents (quotes, backslash, NUL, CR, LF,
// Ctrl-Z) for the first fromLength bytes of from in UTF-8; needs no connection.
QString libraryEscape(const QString &from, qint32 fromLength);

}  // namespace velmar
