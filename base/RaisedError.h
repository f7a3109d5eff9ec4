#pragma once

#include <QString>

#include <exception>
#include <string>

namespace velmar {

// An error raised to the caller: a number, the operation it comes from and a description.
// The client wrapper raises it with the library's numbers; file and other run-time failures
// use the numbers that the users know from the original tool (53 file not found, 75 path or
// file access error, 61 disk full, 62 input past end of file, 6 overflow, ...).
class RaisedError : public std::exception {
public:
    RaisedError(qint32 number, QString source, QString description);

    qint32 Number;
    QString Source;
    QString Description;

    const char *what() const noexcept override { return m_what.c_str(); }

    // Any exception as a RaisedError, so one report serves every catch.
    static RaisedError from(const std::exception &e);

private:
    std::string m_what;
};

// Well-known run-time error numbers.
namespace err {
constexpr qint32 Overflow = 6;
constexpr qint32 OutOfMemory = 7;
constexpr qint32 FileNotFound = 53;
constexpr qint32 DiskFull = 61;
constexpr qint32 InputPastEnd = 62;
constexpr qint32 PathFileAccess = 75;
constexpr qint32 PathNotFound = 76;
constexpr qint32 ObjectNotSet = 91;
}  // namespace err

// A file error as the users know them: "<name of the error>: <path>", and " (<reason>)" when
// the system gave one; number is one of the file numbers above.
RaisedError fileError(qint32 number, const QString &path, const QString &reason = QString());

// The program-wide report of an unexpected error: an OK-only box reading
// "Error <n> (<description>) in procedure <procedure> of <unit>", where unit is for example
// "Form FrmMain" or "Module modMain".
QString errorReportText(const RaisedError &e, const QString &procedure, const QString &unit);
void reportError(const RaisedError &e, const QString &procedure, const QString &unit);

}  // namespace velmar
