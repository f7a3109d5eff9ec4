#include "ClientPrograms.h"

#include "cMySQL.h"

#include <QDir>
#include <QStandardPaths>

namespace velmar {

QString dumpProgramName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("mysqldump.exe");
#else
    return QStringLiteral("mysqldump");
#endif
}

QString clientProgramName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("mysql.exe");
#else
    return QStringLiteral("mysql");
#endif
}

QString findProgram(const QString &name, const QString &programFolder)
{
    QString found = QStandardPaths::findExecutable(name, {programFolder});
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? name : found;
}

namespace {

// A value of an option file, in double quotes: a backslash and a quote inside escaped.
QByteArray optionValue(QString text)
{
    text.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return '"' + text.toUtf8() + '"';
}

}  // namespace

PasswordFile::PasswordFile(const QString &password, const QStringList &dumpOptions)
    : m_file(QDir::tempPath() + QStringLiteral("/velmar-XXXXXX.cnf"))
{
    if (!m_file.open())
        throw fileError(err::PathFileAccess, m_file.fileName(), m_file.errorString());
    m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // The mysql client gives up a server that does not answer; the dump program has no such
    // option (and ignores this group): its first output bounds it instead.
    QByteArray text = "[client]\npassword=" + optionValue(password) + "\n[mysql]\nconnect-timeout=10\n";
    if (!dumpOptions.isEmpty()) {
        text += "[mysqldump]\n";
        for (const QString &option : dumpOptions) {
            const qsizetype eq = option.indexOf(u'=');
            text += (eq < 0 ? option.toUtf8() : option.left(eq).toUtf8() + '=' + optionValue(option.mid(eq + 1))) + '\n';
        }
    }
    m_file.write(text);
    m_file.flush();
}

QString PasswordFile::argument() const
{
    return QStringLiteral("--defaults-extra-file=") + QDir::toNativeSeparators(m_file.fileName());
}

QStringList hostArguments(const QString &hostText)
{
    QString name;
    qint32 port = 0;
    if (cMySQL::splitHostPort(hostText, name, port))
        return {QStringLiteral("-h") + name, QStringLiteral("-P") + QString::number(port),
                QStringLiteral("--protocol=TCP")};
    return {QStringLiteral("-h") + hostText};
}

namespace {

// Whether the dump options take a switch in (its short letter, its long name), the last word
// that names it deciding ("--skip-routines" after "-R" leaves the routines out again).
bool optionsTakeIn(const QStringList &words, QChar letter, const QString &name)
{
    // Short options of the dump program that take a value: what follows them in a cluster is it.
    static const QString valued = QStringLiteral("hupPSwrTWoDAV");
    const QString option = QStringLiteral("--") + name;
    const QStringList on{option, option + QStringLiteral("=1"), option + QStringLiteral("=TRUE")};
    const QStringList off{QStringLiteral("--skip-") + name, option + QStringLiteral("=0"), option + QStringLiteral("=FALSE")};
    bool in = false;
    for (const QString &w : words) {
        if (on.contains(w))
            in = true;
        else if (off.contains(w))
            in = false;
        else if (w.size() > 1 && w.at(0) == u'-' && w.at(1) != u'-') {
            for (qsizetype i = 1; i < w.size(); ++i) {
                if (w.at(i) == letter)
                    in = true;
                if (valued.contains(w.at(i)))
                    break;
            }
        }
    }
    return in;
}

}  // namespace

bool optionsSayCompression(const QString &dumpOption)
{
    const QStringList words = splitShellWords(dumpOption);
    for (const QString &w : words) {
        if (w == QStringLiteral("--skip-compress") || w == QStringLiteral("--compress")
            || w.startsWith(QStringLiteral("--compress=")) || w.startsWith(QStringLiteral("--compression-algorithms"))
            || w.startsWith(QStringLiteral("--zstd-compression-level")))
            return true;
    }
    return optionsTakeIn(words, u'C', QStringLiteral("compress"));
}

bool optionsDumpTriggers(const QString &dumpOption)
{
    bool in = true;
    for (const QString &w : splitShellWords(dumpOption)) {
        if (w == QStringLiteral("--triggers") || w == QStringLiteral("--triggers=1") || w == QStringLiteral("--triggers=TRUE"))
            in = true;
        else if (w == QStringLiteral("--skip-triggers") || w == QStringLiteral("--triggers=0")
                 || w == QStringLiteral("--triggers=FALSE"))
            in = false;
    }
    return in;
}

QString leftOutNotice(const QString &dumpOption, int routines, int events)
{
    const QStringList words = splitShellWords(dumpOption);
    QStringList what;
    QStringList options;
    if (routines > 0 && !optionsTakeIn(words, u'R', QStringLiteral("routines"))) {
        what << QStringLiteral("저장 프로시저·함수 %1개").arg(routines);
        options << QStringLiteral("-R");
    }
    if (events > 0 && !optionsTakeIn(words, u'E', QStringLiteral("events"))) {
        what << QStringLiteral("이벤트 %1개").arg(events);
        options << QStringLiteral("-E");
    }
    if (what.isEmpty())
        return {};
    // "-R을", "-E를": the particle follows how the last letter is read.
    const QString particle = options.last() == QStringLiteral("-E") ? QStringLiteral("를") : QStringLiteral("을");
    return QStringLiteral("주의: 원본 DB의 ") + what.join(QStringLiteral(", "))
           + QStringLiteral("는 덤프 옵션에 없어 복사되지 않습니다. option에 ") + options.join(u' ') + particle
           + QStringLiteral(" 더하면 함께 복사됩니다.");
}

QString errorSummary(const QByteArray &errorOutput)
{
    // The client programs write UTF-8 (the server's messages and names), not the code page.
    const QStringList lines = QString::fromUtf8(errorOutput).split(u'\n');
    QStringList errors;
    QStringList rest;
    for (const QString &line : lines) {
        const QString t = line.trimmed();
        if (t.startsWith(QStringLiteral("ERROR ")))
            errors << t;
        else if (!t.isEmpty() && t != QStringLiteral("--------------"))
            rest << t;
    }
    QString text = (errors.isEmpty() ? rest : errors).join(QStringLiteral("\r\n"));
    constexpr qsizetype kMax = 2000;
    if (text.size() > kMax)
        text = QStringLiteral("...") + text.right(kMax);
    return text;
}

RaisedError programError(const QString &program, const RunResult &r)
{
    if (r.inputUnreadable || r.outputUnwritable)
        return fileError(err::PathFileAccess, r.startError);  // the file and the reason
    if (!r.started)
        return fileError(err::FileNotFound, program, r.startError);
    if (r.timedOut)
        return RaisedError(-1, program, program + QStringLiteral(": 서버가 응답하지 않아 중단했습니다."));
    QString text = errorSummary(r.errorOutput);
    if (text.isEmpty())
        text = r.crashed ? program + QStringLiteral("이(가) 비정상적으로 끝났습니다")
                         : program + QStringLiteral("이(가) 실패했습니다 (종료 코드 %1)").arg(r.exitCode);
    return RaisedError(r.crashed ? -1 : r.exitCode, program, text);
}

}  // namespace velmar
