#pragma once

#include "RaisedError.h"
#include "modWaitProc.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

namespace velmar {

// The MySQL programs the copy runs, under the names the log shows.
QString dumpProgramName();    // mysqldump (mysqldump.exe on Windows)
QString clientProgramName();  // mysql (mysql.exe on Windows)

// A program looked up in the program folder first, then along the search path; the bare name
// when neither has it (the start then fails with the name).
QString findProgram(const QString &name, const QString &programFolder);

// The password reaches the client programs through an option file that only the user can read,
// never through an argument list that every local user can see. Removed when it goes.
class PasswordFile {
public:
    // dumpOptions: long options (without "--") for the dump program alone, which may be too
    // many for a command line.
    explicit PasswordFile(const QString &password, const QStringList &dumpOptions = {});
    // Must be the first argument of the program.
    QString argument() const;

private:
    QTemporaryFile m_file;
};

// Host arguments for the client programs: -h name, and for name:port the port over TCP.
QStringList hostArguments(const QString &hostText);

// The log's notice that the dump options leave the source's stored procedures and functions
// (routines) or events out, with the option that would take them in; empty when nothing is left
// out. The options are read as the dump program reads them ("-R", "--routines", "-qeR", ...).
QString leftOutNotice(const QString &dumpOption, int routines, int events);

// Whether the dump options say anything about the protocol's compression, on or off ("-C",
// "--compress", "--skip-compress", "--compress=0", "--compression-algorithms=..."): then the
// choice is the user's and velmar adds nothing.
bool optionsSayCompression(const QString &dumpOption);

// Whether the dump takes triggers in (its default), unless the options turn them off
// ("--skip-triggers", "--triggers=0"; the last word that names them decides).
bool optionsDumpTriggers(const QString &dumpOption);

// The program's own error text, short enough for a message box: the client echoes a failing
// statement (which can be a whole multi-megabyte INSERT) before its "ERROR" line.
QString errorSummary(const QByteArray &errorOutput);

// A failed run as a raised error: its exit status and its own error text.
RaisedError programError(const QString &program, const RunResult &r);

}  // namespace velmar
