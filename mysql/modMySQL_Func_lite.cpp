#include "modMySQL_Func_lite.h"

#include "LibraryEscape.h"
#include "Messenger.h"
#include "NumberText.h"
#include "ProgramInfo.h"
#include "RaisedError.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <QMutex>

#include <limits>
#include <vector>

namespace velmar {

namespace {

std::unique_ptr<cMySQL> g_mysql;
// Held while g_mysql is created or released, so that a cancel from another thread never reaches
// a connection that is going away.
QMutex g_mysqlMutex;
std::optional<QString> g_mdacVersionOverride;

// Without a shared connection these procedures fail the way a missing object does.
cMySQL &shared()
{
    if (!g_mysql)
        throw RaisedError(err::ObjectNotSet, programTitle(),
                          QStringLiteral("Object variable or With block variable not set"));
    return *g_mysql;
}

}  // namespace

static void setShared(std::unique_ptr<cMySQL> c)
{
    std::unique_ptr<cMySQL> old;
    QMutexLocker lock(&g_mysqlMutex);
    old = std::exchange(g_mysql, std::move(c));
}

bool DBInit(const QString &host, const QString &user, const QString &password, const QString &database,
            const std::atomic_bool *cancel)
{
    try {
        const QString version = GetMDACVersion();
        if (readNumber(QStringView(version).left(3)).value < 2.0) {
            const QString text = QStringLiteral("MDAC(Microsoft Data Access Components)가 설치 되어 있지 않거나 버전이 낮습니다.(현재Ver:")
                                 + version
                                 + QStringLiteral(")\r\n당사 홈페이지 자료실 8번[데이타전송/임대회원용 설치파일]에서 다운로드하여 설치하세요.\r\n"
                                                  "지금 다운로드 하시겠습니까?");
            if (askYesNo(text, Answer::Yes, Icon::Question, QStringLiteral("MDAC누락")))
                messenger().openUrl(makerServer() + QStringLiteral("/inc/download.php?type=etc_store&filename=mdac.EXE"));
            return false;
        }
        setShared(std::make_unique<cMySQL>());
        // A cancel that came before the connection existed is seen here; a later one cancels it.
        if (cancel && cancel->load())
            g_mysql->cancel();
        if (!g_mysql->real_connect(host, user, password, database, 3306, QString(), 0, false)) {
            setShared(nullptr);
            return false;
        }
        return true;
    } catch (const std::exception &e) {
        reportError(RaisedError::from(e), QStringLiteral("DBInit"), QStringLiteral("Module modMySQL_Func"));
        return false;
    }
}

SharedConnection::SharedConnection(const QString &host, const QString &user, const QString &password,
                                   const QString &database, const std::atomic_bool *cancel)
    : m_open(DBInit(host, user, password, database, cancel))
{
}

SharedConnection::~SharedConnection()
{
    if (m_open && g_mysql)
        DBClose();
}

void DBClose()
{
    shared().free_result();
    setShared(nullptr);
}

void CancelSharedConnection()
{
    // Never waits: while a connection is being made or released, DBInit sees the caller's flag.
    if (!g_mysqlMutex.tryLock())
        return;
    if (g_mysql)
        g_mysql->cancel();
    g_mysqlMutex.unlock();
}

qint32 ExecuteSQL(const QString &statement)
{
    cMySQL &c = shared();
    std::unique_ptr<Recordset> rs = c.query(statement);
    const qint32 count = c.affected_rows();
    CloseRecordset(rs);
    return count;
}

qint32 OpenRecordset(std::unique_ptr<Recordset> &rs, const QString &statement)
{
    rs = std::make_unique<Recordset>();
    cMySQL &c = shared();
    rs = c.query(statement);
    return c.affected_rows();
}

void CloseRecordset(std::unique_ptr<Recordset> &rs)
{
    if (!rs)
        return;
    if (rs->State() == Recordset::adStateOpen)
        rs->Close();
    rs.reset();
}

void DropDatabase(const QString &name)
{
    ExecuteSQL(QStringLiteral("SET FOREIGN_KEY_CHECKS=0"));
    ExecuteSQL(QStringLiteral("DROP DATABASE ") + quoteIdentifier(name));
    ExecuteSQL(QStringLiteral("SET FOREIGN_KEY_CHECKS=1"));
}

QString GetMDACVersion()
{
    if (g_mdacVersionOverride)
        return *g_mdacVersionOverride;
    // The record sets are this program's own, so their version is the one that counts.
    return Recordset::version();
}

bool ReadRegistryString(const QString &keyPath, const QString &valueName, QString &buffer)
{
#ifdef Q_OS_WIN
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<LPCWSTR>(keyPath.utf16()), 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> data(size_t(buffer.size()) + 1, L'\0');
    buffer.toWCharArray(data.data());
    DWORD size = DWORD(buffer.size() * sizeof(wchar_t));
    const LONG rc = RegQueryValueExW(key, reinterpret_cast<LPCWSTR>(valueName.utf16()), nullptr,
                                     nullptr, reinterpret_cast<LPBYTE>(data.data()), &size);
    buffer = QString::fromWCharArray(data.data(), buffer.size());
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
#else
    // No registry here: nothing is ever read.
    Q_UNUSED(keyPath);
    Q_UNUSED(valueName);
    Q_UNUSED(buffer);
    return false;
#endif
}

cMySQL *sharedConnection()
{
    return g_mysql.get();
}

void setMDACVersionForTesting(std::optional<QString> version)
{
    g_mdacVersionOverride = std::move(version);
}

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(u'`', QStringLiteral("``"));
    return u'`' + quoted + u'`';
}

QString escapeLikePattern(const QString &name)
{
    QString pattern;
    pattern.reserve(name.size() * 2);
    for (const QChar c : name) {
        if (c == u'\\' || c == u'_' || c == u'%')
            pattern += u'\\';
        pattern += c;
    }
    return pattern;
}

QString quoteString(const QString &text)
{
    return u'\'' + libraryEscape(text, std::numeric_limits<qint32>::max()) + u'\'';
}

}  // namespace velmar
