#include "CopyJob.h"

#include "Messenger.h"
#include "ProgramInfo.h"
#include "RaisedError.h"
#include "cMySQL.h"
#include "modMySQL_Func_lite.h"
#include "modWaitProc.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <filesystem>
#include <memory>
#include <system_error>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace velmar {

namespace {

// The administrator account of the local and source servers, and the password every granted
// account gets.
const QString kRootUser = QStringLiteral("root");
const QString kRootPassword = QStringLiteral("wexrolp");
const QString kGrantPassword = QStringLiteral("tq582914");

const QString kModMain = QStringLiteral("Module modMain");
const QString kFormMain = QStringLiteral("Form FrmMain");

const QString kPelsarScript = QStringLiteral("pelsar_tables외래키.SQL");
const QString kDorvikScript = QStringLiteral("dorvik_tables외래키.SQL");

// The rewritten dump starts and ends with these statements (byte for byte).
const QByteArray kHead = QByteArrayLiteral("SET AUTOCOMMIT = 0;\r\nSET FOREIGN_KEY_CHECKS=0;\r\n");
const QByteArray kTail =
    QByteArrayLiteral("SET FOREIGN_KEY_CHECKS = 1;\r\nCOMMIT;\r\nSET AUTOCOMMIT = 1;\r\n");

constexpr qint64 kCopyBlock = 4 << 20;
constexpr qint64 kReplaceRetryMs = 2000;

#ifdef Q_OS_WIN
const QString kDumpProgram = QStringLiteral("mysqldump.exe");
const QString kClientProgram = QStringLiteral("mysql.exe");
#else
const QString kDumpProgram = QStringLiteral("mysqldump");
const QString kClientProgram = QStringLiteral("mysql");
#endif

QString joinPath(const QString &folder, const QString &name)
{
    return folder + pathSeparator() + name;
}

// A file that counts as present: an existing file, not a folder.
bool fileExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

// The programs are looked up in the program folder first, then along the search path.
QString findProgram(const QString &name, const QString &programFolder)
{
    QString found = QStandardPaths::findExecutable(name, {programFolder});
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? name : found;
}

// The password reaches the client programs through an option file that only the user can read,
// never through an argument list that every local user can see.
class PasswordFile {
public:
    explicit PasswordFile(const QString &password)
        : m_file(QDir::tempPath() + QStringLiteral("/velmar-XXXXXX.cnf"))
    {
        if (!m_file.open())
            throw fileError(err::PathFileAccess, m_file.fileName(), m_file.errorString());
        m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QString text = password;
        text.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
        m_file.write("[client]\npassword=\"" + text.toUtf8() + "\"\n");
        m_file.flush();
    }
    // Must be the first argument of the program.
    QString argument() const
    {
        return QStringLiteral("--defaults-extra-file=") + QDir::toNativeSeparators(m_file.fileName());
    }

private:
    QTemporaryFile m_file;
};

// Host text for the client programs: name and, for name:port, the port over TCP.
QStringList hostArguments(const QString &hostText)
{
    QString name;
    qint32 port = 0;
    if (cMySQL::splitHostPort(hostText, name, port))
        return {QStringLiteral("-h") + name, QStringLiteral("-P") + QString::number(port),
                QStringLiteral("--protocol=TCP")};
    return {QStringLiteral("-h") + hostText};
}

// The program's own error text, short enough for a message box: the client echoes a failing
// statement (which can be a whole multi-megabyte INSERT) before its "ERROR" line.
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

// The program's failure as a raised error: its exit status and its own error text.
RaisedError programError(const QString &program, const RunResult &r)
{
    if (r.inputUnreadable)
        return fileError(err::PathFileAccess, r.startError);  // the file and the reason
    if (!r.started)
        return fileError(err::FileNotFound, program, r.startError);
    QString text = errorSummary(r.errorOutput);
    if (text.isEmpty())
        text = r.crashed ? program + QStringLiteral(" ended abnormally")
                         : program + QStringLiteral(" failed");
    return RaisedError(r.crashed ? -1 : r.exitCode, program, text);
}

// Leading and trailing blanks removed (only blanks: a tab or a line end stays).
QString trimSpaces(const QString &text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text.at(b) == u' ')
        ++b;
    while (e > b && text.at(e - 1) == u' ')
        --e;
    return text.mid(b, e - b);
}

// Closes the shared connection when one is open: error paths may come before or after it.
void closeShared()
{
    if (sharedConnection())
        DBClose();
}

// Elapsed-rate helper for the progress signal.
double bytesPerSecond(qint64 bytes, const QElapsedTimer &t)
{
    const qint64 ms = t.elapsed();
    return ms > 0 ? double(bytes) * 1000.0 / double(ms) : 0.0;
}

}  // namespace

void AddLog(const QString &line)
{
    messenger().addLog(line);
}

QString formatElapsed(qint64 milliseconds)
{
    const qint64 total = milliseconds / 1000;
    const qint64 h = total / 3600;
    const qint64 m = (total / 60) % 60;
    const qint64 s = total % 60;
    return QStringLiteral("%1:%2:%3")
        .arg(h, 2, 10, QChar(u'0'))
        .arg(m, 2, 10, QChar(u'0'))
        .arg(s, 2, 10, QChar(u'0'));
}

bool isLocalHost(const QString &hostText)
{
    QString host = hostText.trimmed();
    QString name;
    qint32 port = 0;
    if (cMySQL::splitHostPort(host, name, port))
        host = name;
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty())
        return false;
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    if (!address.isNull()) {
        if (address.isLoopback())
            return true;
        const auto own = QNetworkInterface::allAddresses();
        for (const QHostAddress &a : own)
            if (a.isEqual(address, QHostAddress::TolerantConversion))
                return true;
        return false;
    }
    const QString machine = QHostInfo::localHostName();
    if (!machine.isEmpty()) {
        if (host.compare(machine, Qt::CaseInsensitive) == 0)
            return true;
        // The machine's name with its domain.
        const QString shortName = host.section(u'.', 0, 0);
        if (shortName.compare(machine.section(u'.', 0, 0), Qt::CaseInsensitive) == 0
            && host.contains(u'.') && !QHostInfo::localDomainName().isEmpty()
            && host.compare(machine.section(u'.', 0, 0) + u'.' + QHostInfo::localDomainName(),
                            Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

ValidationResult ValidateCopyRequest(const CopyRequest &r)
{
    auto refuse = [](const QString &message, FieldId focus) {
        msgBox(message);
        return ValidationResult{false, focus};
    };
    if (!r.stage[0] && !r.stage[1] && !r.stage[2])
        return refuse(QStringLiteral("작업범위가 선택되지 않았습니다."), FieldId::chkWork0);
    if (r.host.isEmpty())
        return refuse(QStringLiteral("host를 입력하세요."), FieldId::cmbField0);
    if (r.newDB.isEmpty() && r.host == QStringLiteral("localhost"))
        return refuse(
            QStringLiteral("HOST가 localhost일 경우 New DB는 다른 이름으로 반드시 입력되어야 합니다."),
            FieldId::txtField3);
    if (r.dbPrefix.isEmpty())
        return refuse(QStringLiteral("db를 입력하세요."), FieldId::cmbField1);
    if (r.user.isEmpty())
        return refuse(QStringLiteral("User를 입력하세요."), FieldId::txtField0);
    if (r.foreign) {
        if (trimSpaces(r.foreignPath).isEmpty())
            return refuse(QStringLiteral("외래키 스크립트 파일경로가 설정되어 있지 않습니다."),
                          FieldId::txtField4);
        if (!fileExists(joinPath(r.foreignPath, kPelsarScript)))
            return refuse(kPelsarScript + QStringLiteral(" 파일이 존재하지 않습니다."), FieldId::None);
        if (!fileExists(joinPath(r.foreignPath, kDorvikScript)))
            return refuse(kDorvikScript + QStringLiteral(" 파일이 존재하지 않습니다."), FieldId::None);
    }
    // The target check would otherwise find the source itself on the local server and drop it
    // before it has been dumped.
    const QString source = r.dbPrefix + r.user;
    const QString target = r.newDB.isEmpty() ? source : r.newDB;
    if (isLocalHost(r.host)
        && target.trimmed().compare(source.trimmed(), Qt::CaseInsensitive) == 0)
        return refuse(QStringLiteral("원본 DB(") + source
                          + QStringLiteral(")가 로컬 서버에 있으므로 New DB는 다른 이름으로 반드시 입력되어야 합니다."),
                      FieldId::txtField3);
    return ValidationResult{true, FieldId::None};
}

CopyJob::CopyJob(CopyRequest request, QObject *parent) : QObject(parent), m_request(std::move(request))
{
    if (m_request.programFolder.isEmpty())
        m_request.programFolder = programFolder();
    // Shown and logged as the platform writes paths, whichever separators it was given with.
    m_request.programFolder = QDir::toNativeSeparators(m_request.programFolder);
    SourceDBName = m_request.dbPrefix + m_request.user;
    NewDBName = m_request.newDB.isEmpty() ? SourceDBName : m_request.newDB;
    NewUserName = m_request.newUser.isEmpty() ? m_request.user : m_request.newUser;
}

void CopyJob::cancel()
{
    m_cancel.store(true);
}

QString CopyJob::dumpFolder() const
{
    return joinPath(m_request.programFolder, QStringLiteral("dump"));
}

QString CopyJob::dumpFilePath() const
{
    return joinPath(dumpFolder(), SourceDBName + QStringLiteral(".sql"));
}

QString CopyJob::editedFilePath() const
{
    return joinPath(dumpFolder(), SourceDBName + QStringLiteral("_2.sql"));
}

bool CopyJob::ProcCopy()
{
    // A cancel is looked at before every step as well as after it: a copy cancelled while a
    // step waited on the server must not go on to drop, create or grant anything.
    m_cancelLogged = false;
    try {
        messenger().clearLog();
        return runStages();
    } catch (const std::exception &e) {
        // Every stage reports its own failures; what reaches here has no step to go on with.
        reportError(RaisedError::from(e), QStringLiteral("ProcCopy"), kFormMain);
        return false;
    }
}

bool CopyJob::goesOn(bool stepSucceeded)
{
    if (isCancelled()) {
        if (!m_cancelLogged)
            AddLog(QStringLiteral("복사가 취소되었습니다."));
        m_cancelLogged = true;
        return false;
    }
    return stepSucceeded;
}

bool CopyJob::runStages()
{
    const CopyRequest &r = m_request;
    QElapsedTimer clock;
    clock.start();
    m_dropPending = false;

    if (r.stage[0]) {
        if (!goesOn(true))
            return false;
        emit stageStarted(CopyStage::CheckSource);
        AddLog(QStringLiteral("Check Exist DB..."));
        if (!IsExistDB(r.host, SourceDBName, false)) {
            if (!goesOn(true))
                return false;
            msgBox(QStringLiteral("존재하지 않는 DB입니다. ") + r.host + u'/' + SourceDBName);
            emit focusRequested(FieldId::cmbField1);
            return false;
        }
    }

    if (r.stage[1]) {
        if (!goesOn(true))
            return false;
        // An import without a dump loads the file an earlier dump left; without it nothing
        // would be loaded into a database that has just been dropped.
        if (!r.stage[0] && !fileExists(editedFilePath())) {
            msgBox(QStringLiteral("가져올 덤프 파일이 없습니다.\r\n") + editedFilePath()
                   + QStringLiteral("\r\n\r\n먼저 1. DB dump 작업으로 덤프 파일을 만드세요."));
            return false;
        }
        emit stageStarted(CopyStage::CheckTarget);
        if (IsExistDB(QStringLiteral("localhost"), NewDBName, true)) {
            goesOn(false);
            return false;
        }
    }

    if (r.stage[0]) {
        if (!goesOn(true))
            return false;
        emit stageStarted(CopyStage::Dump);
        AddLog(QStringLiteral("Dump..."));
        if (!goesOn(SETP_DBDump()))
            return false;
        emit stageStarted(CopyStage::Rewrite);
        AddLog(QStringLiteral("DumpFile Edit..."));
        if (!goesOn(STEP_EditSQLFile()))
            return false;
    }

    if (m_dropPending) {
        // The local copy goes only now that its replacement is ready.
        emit stageStarted(CopyStage::CheckTarget);
        if (!goesOn(dropTarget()))
            return false;
    }

    if (r.stage[1]) {
        if (!goesOn(true))
            return false;
        emit stageStarted(CopyStage::Import);
        AddLog(QStringLiteral("Import..."));
        if (!goesOn(SETP_DBImport()))
            return false;
    }

    if (r.stage[2]) {
        if (!goesOn(true))
            return false;
        emit stageStarted(CopyStage::Grants);
        if (!goesOn(AddUser()))
            return false;
    }

    if (!goesOn(true))
        return false;
    AddLog(QStringLiteral("[Finish] Total Time=") + formatElapsed(clock.elapsed()));
    emit stageStarted(CopyStage::Done);
    msgBox(QStringLiteral("복사완료"));
    return true;
}

bool CopyJob::IsExistDB(const QString &host, const QString &dbName, bool deleteIfExists)
{
    bool result = false;
    std::unique_ptr<Recordset> rs;
    try {
        if (!DBInit(host.trimmed(), kRootUser, kRootPassword, QString()))
            return false;
        // Exactly this one name: quotes, backslashes and the pattern characters are escaped.
        const qint32 count = OpenRecordset(
            rs, QStringLiteral("SHOW DATABASES LIKE ") + quoteString(escapeLikePattern(dbName)));
        if (count > 0) {
            result = true;
            if (deleteIfExists) {
                if (host != QStringLiteral("localhost")) {
                    msgBox(QStringLiteral("localhost만 DB삭제가능합니다."));
                    CloseRecordset(rs);
                    DBClose();
                    return true;
                }
                // No question once cancelled, and no drop when cancel came while it was asked.
                const bool consented =
                    !isCancelled()
                    && (m_request.existDBDel
                        || askYesNo(QStringLiteral("Local에 동일한 DB명(") + dbName
                                    + QStringLiteral(")이 존재합니다.\r\n삭제후 계속 진행할까요?")))
                    && !isCancelled();
                if (!consented) {
                    CloseRecordset(rs);
                    DBClose();
                    return true;
                }
                if (m_request.stage[0]) {
                    // Dropped once the new dump is ready (see ProcCopy).
                    m_dropPending = true;
                    result = false;
                } else {
                    CloseRecordset(rs);
                    DBClose();
                    result = true;  // stays until the drop has succeeded
                    if (dropTarget())
                        result = false;
                    return result;
                }
            }
        }
        CloseRecordset(rs);
        DBClose();
    } catch (const std::exception &e) {
        reportError(RaisedError::from(e), QStringLiteral("IsExistDB"), kFormMain);
        CloseRecordset(rs);
        closeShared();
    }
    return result;
}

bool CopyJob::dropTarget()
{
    if (isCancelled())
        return false;
    try {
        if (!DBInit(QStringLiteral("localhost"), kRootUser, kRootPassword, QString()))
            return false;
        DropDatabase(NewDBName);
        // The server's refusal has been shown; a database that is still there stops the copy
        // rather than loading into it.
        std::unique_ptr<Recordset> rs;
        const qint32 left = OpenRecordset(
            rs, QStringLiteral("SHOW DATABASES LIKE ") + quoteString(escapeLikePattern(NewDBName)));
        CloseRecordset(rs);
        DBClose();
        if (left != 0)
            return false;
        m_dropPending = false;
        AddLog(QStringLiteral("Local DB삭제:") + NewDBName);
        return true;
    } catch (const std::exception &e) {
        reportError(RaisedError::from(e), QStringLiteral("IsExistDB"), kFormMain);
        closeShared();
        return false;
    }
}

bool CopyJob::SETP_DBDump()
{
    const QString procedure = QStringLiteral("SETP_DBDump");
    const QString target = dumpFilePath();
    const QString partial = target + QStringLiteral(".part");
    try {
        if (!QFileInfo(dumpFolder()).isDir()) {
            if (!QDir().mkpath(dumpFolder()))
                throw fileError(err::PathNotFound, dumpFolder());
            AddLog(QStringLiteral("dump 폴더 생성: ") + dumpFolder());
        }

        const QString host = m_request.host.trimmed();
        const QString shown = kDumpProgram + u' ' + m_request.dumpOption + u' ' + SourceDBName
                              + QStringLiteral(" -h") + host + QStringLiteral(" -uroot -p")
                              + kRootPassword + QStringLiteral(" > ") + target;
        AddLog(maskSecret(shown, kRootPassword));

        PasswordFile password(kRootPassword);
        // The name comes after "--", so a name that starts with "-" is never read as an option.
        const QStringList arguments = QStringList{password.argument()}
                                      + splitShellWords(m_request.dumpOption) + hostArguments(host)
                                      + QStringList{QStringLiteral("-u") + kRootUser, QStringLiteral("--"),
                                                    SourceDBName};
        RunOptions options;
        options.stdoutFile = partial;  // an earlier dump stays until this one has succeeded
        options.cancel = &m_cancel;
        QElapsedTimer t;
        t.start();
        options.progress = [&](qint64 written, qint64) {
            emit progress(CopyStage::Dump, written, -1, bytesPerSecond(written, t));
        };
        const RunResult run = RunAndWait(findProgram(kDumpProgram, m_request.programFolder), arguments,
                                         m_request.programFolder, true, false, options);
        if (run.cancelled) {
            QFile::remove(partial);
            return false;
        }
        if (!run.succeeded()) {
            QFile::remove(partial);
            throw programError(kDumpProgram, run);
        }
        // Replaces an earlier dump in one step: it stays whole until this one is in place.
        QString renameError;
        if (!replaceFile(partial, target, &renameError)) {
            QFile::remove(partial);
            throw fileError(err::PathFileAccess, target, renameError);
        }
        return true;
    } catch (const std::exception &e) {
        reportError(RaisedError::from(e), procedure, kModMain);
        return false;
    }
}

bool CopyJob::STEP_EditSQLFile()
{
    const QString input = dumpFilePath();
    const QString output = editedFilePath();
    try {
        QFile in(input);
        if (!in.exists())
            throw fileError(err::FileNotFound, input);
        if (!in.open(QIODevice::ReadOnly))
            throw fileError(err::PathFileAccess, input, in.errorString());
        const qint64 total = in.size();
        if (total == 0)
            throw fileError(err::InputPastEnd, input);

        // Written beside the target and renamed into place only when complete, so a failed
        // rewrite never leaves a truncated file for a later import-only copy.
        QSaveFile out(output);
        if (!out.open(QIODevice::WriteOnly))
            throw fileError(err::PathFileAccess, output, out.errorString());
        auto write = [&](const QByteArray &bytes) {
            if (out.write(bytes) != bytes.size())
                throw fileError(err::DiskFull, output, out.errorString());
        };

        AddLog(output + QStringLiteral(" / Head AddLine...\r\n\r\n")
                           + QString::fromLatin1(kHead));
        write(kHead);

        QElapsedTimer t;
        t.start();
        qint64 copied = 0;
        while (copied < total) {
            if (isCancelled()) {
                out.cancelWriting();
                return false;
            }
            const QByteArray block = in.read(kCopyBlock);
            if (block.isEmpty())
                throw fileError(err::InputPastEnd, input);
            write(block);
            copied += block.size();
            emit progress(CopyStage::Rewrite, copied, total, bytesPerSecond(copied, t));
        }

        AddLog(output + QStringLiteral(" / Tail AddLine...\r\n\r\n")
                           + QString::fromLatin1(kTail));
        write(kTail);
        if (!out.commit())
            throw fileError(err::PathFileAccess, output, out.errorString());
        return true;
    } catch (const std::exception &e) {
        reportError(RaisedError::from(e), QStringLiteral("STEP_EditSQLFile"), kModMain);
        return false;
    }
}

qint32 CopyJob::ExecSQLLog(const QString &statement)
{
    AddLog(statement);
    return ExecuteSQL(statement);
}

bool CopyJob::runClient(const QString &inputFile, CopyStage stage)
{
    const QString shown = kClientProgram + u' ' + NewDBName + QStringLiteral(" -uroot -p") + kRootPassword
                          + QStringLiteral(" < ") + inputFile;
    AddLog(maskSecret(shown, kRootPassword));
    if (!fileExists(inputFile))
        throw fileError(err::FileNotFound, inputFile);

    PasswordFile password(kRootPassword);
    // No host option: the client reaches the local server with its own defaults.
    const QStringList arguments{password.argument(), QStringLiteral("-u") + kRootUser,
                                QStringLiteral("--database=") + NewDBName};
    RunOptions options;
    options.stdinFile = inputFile;
    options.cancel = &m_cancel;
    const qint64 total = QFileInfo(inputFile).size();
    QElapsedTimer t;
    t.start();
    options.progress = [&](qint64, qint64 fed) {
        emit progress(stage, fed, total, bytesPerSecond(fed, t));
    };
    const RunResult run = RunAndWait(findProgram(kClientProgram, m_request.programFolder), arguments,
                                     m_request.programFolder, true, false, options);
    if (run.cancelled)
        return false;
    if (!run.succeeded())
        throw programError(kClientProgram, run);
    return true;
}

bool CopyJob::SETP_DBImport()
{
    try {
        if (isCancelled() || !DBInit(QStringLiteral("localhost"), kRootUser, kRootPassword, QString()))
            return false;
        const qint32 created =
            ExecSQLLog(QStringLiteral("CREATE DATABASE IF NOT EXISTS ") + quoteIdentifier(NewDBName));
        DBClose();
        if (created < 0 || isCancelled())
            return false;  // a refusal has been shown

        if (!runClient(editedFilePath(), CopyStage::Import))
            return false;

        if (m_request.foreign) {
            QString script;
            if (SourceDBName.left(7) == QStringLiteral("pelsar_"))
                script = kPelsarScript;
            else if (SourceDBName.left(7) == QStringLiteral("dorvik_"))
                script = kDorvikScript;
            if (!script.isEmpty()) {
                emit stageStarted(CopyStage::ForeignKeys);
                if (!runClient(joinPath(m_request.foreignPath, script), CopyStage::ForeignKeys))
                    return false;
            }
        }
        return true;
    } catch (const std::exception &e) {
        closeShared();
        reportError(RaisedError::from(e), QStringLiteral("SETP_DBImport"), kModMain);
        return false;
    }
}

bool CopyJob::AddUser()
{
    try {
        if (isCancelled() || !DBInit(QStringLiteral("localhost"), kRootUser, kRootPassword, QString()))
            return false;
        // The database name is a pattern in a GRANT: its _ and % are escaped so that the rights
        // cover exactly this database.
        const QString on = QStringLiteral("GRANT ALL ON ") + quoteIdentifier(escapeGrantPattern(NewDBName))
                           + QStringLiteral(".* TO ");
        const QString identified = QStringLiteral(" IDENTIFIED BY '") + kGrantPassword + u'\'';
        QStringList statements{
            on + quoteString(NewUserName) + QStringLiteral("@'%'") + identified,
            on + quoteString(NewUserName) + QStringLiteral("@'localhost'") + identified,
        };
        if (m_request.onOrdUser)
            statements << on + quoteString(NewUserName + QStringLiteral("_ord")) + QStringLiteral("@'%'")
                              + identified;
        for (const QString &statement : statements) {
            if (isCancelled())
                break;
            AddLog(maskSecret(statement, kGrantPassword));
            ExecuteSQL(statement);
        }
        DBClose();
        if (isCancelled())
            return false;
        return true;
    } catch (const std::exception &e) {
        closeShared();
        reportError(RaisedError::from(e), QStringLiteral("AddUser"), kFormMain);
        return false;
    }
}

bool replaceFile(const QString &from, const QString &to, QString *error)
{
#ifdef Q_OS_WIN
    // Right after the program that wrote it has ended, Windows can still hold the file for a
    // moment (a virus scanner, the indexer): the rename then fails with a sharing violation.
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
    const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
            return true;
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) || waited.elapsed() > kReplaceRetryMs) {
            if (error)
                *error = QStringLiteral("%1 (%2)").arg(qt_error_string(int(code))).arg(code);
            return false;
        }
        Sleep(10);
    }
#else
    std::error_code renameError;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()),
                            std::filesystem::path(to.toStdU16String()), renameError);
    if (renameError && error)
        *error = QString::fromStdString(renameError.message());
    return !renameError;
#endif
}

QString escapeGrantPattern(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        if (c == u'\\' || c == u'_' || c == u'%')
            out += u'\\';
        out += c;
    }
    return out;
}

}  // namespace velmar
