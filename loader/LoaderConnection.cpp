#include "LoaderConnection.h"

#include "SqlLoader.h"
#include "cMySQL.h"

#include <mysql.h>

#include <algorithm>
#include <cstring>

namespace velmar {

namespace {

const char *orNull(const QByteArray &b)
{
    return b.isEmpty() ? nullptr : b.constData();
}

}  // namespace

bool connectionLost(unsigned error)
{
    return error == 2006 || error == 2013 || error == 2055 || error == 1927 || error == 1053;
}

LoaderConnection::LoaderConnection() : m_mysql(mysql_init(nullptr)) {}

LoaderConnection::~LoaderConnection()
{
    if (m_mysql)
        mysql_close(m_mysql);
}

bool LoaderConnection::open(const LoadTarget &target, unsigned readTimeout, unsigned writeTimeout)
{
    if (!m_mysql)
        return false;
    const unsigned connectTimeout = 10;
    mysql_optionsv(m_mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_optionsv(m_mysql, MYSQL_OPT_READ_TIMEOUT, &readTimeout);
    mysql_optionsv(m_mysql, MYSQL_OPT_WRITE_TIMEOUT, &writeTimeout);
    // The server's own limit decides; the library must not refuse a long dump statement first.
    const unsigned long maxPacket = 1ul << 30;
    mysql_optionsv(m_mysql, MYSQL_OPT_MAX_ALLOWED_PACKET, &maxPacket);
    // Before the file's own SET NAMES, the connection uses what the mysql client picks: the
    // character set of the locale (utf8mb3 under a UTF-8 locale, latin1 under C).
    mysql_optionsv(m_mysql, MYSQL_SET_CHARSET_NAME, "auto");
    // Rows go as LOAD DATA LOCAL INFILE; the handler serves them from memory, never from a file.
    const unsigned localInfile = 1;
    mysql_optionsv(m_mysql, MYSQL_OPT_LOCAL_INFILE, &localInfile);
    mysql_set_local_infile_handler(m_mysql, &LoaderConnection::infileInit, &LoaderConnection::infileRead,
                                   &LoaderConnection::infileEnd, &LoaderConnection::infileError, this);

    QString hostName = target.host;
    qint32 port = 0;
    if (cMySQL::splitHostPort(target.host, hostName, port)) {
        const unsigned protocol = MYSQL_PROTOCOL_TCP;
        mysql_optionsv(m_mysql, MYSQL_OPT_PROTOCOL, &protocol);
    }
    const QByteArray host = hostName.toUtf8();
    const QByteArray user = target.user.toUtf8();
    const QByteArray password = target.password.toUtf8();
    const QByteArray database = target.database.toUtf8();
    // Multiple statements and results as the client allows them: a statement text that holds
    // several (inside a DELIMITER block) runs whole.
    if (!mysql_real_connect(m_mysql, orNull(host), orNull(user), orNull(password), nullptr, unsigned(port), nullptr,
                            CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS))
        return false;
    if (database.isEmpty())
        return true;
    // The database's name goes over as UTF-8 whatever the locale's character set (a Korean name
    // under a Windows code page or the C locale); the session then gets that character set back.
    const QByteArray localeCharset = mysql_character_set_name(m_mysql);
    return mysql_set_character_set(m_mysql, "utf8mb4") == 0 && mysql_select_db(m_mysql, database.constData()) == 0
           && mysql_set_character_set(m_mysql, localeCharset.constData()) == 0;
}

bool LoaderConnection::exec(const QByteArray &sql)
{
    if (mysql_real_query(m_mysql, sql.constData(), static_cast<unsigned long>(sql.size())) != 0)
        return false;
    for (;;) {
        if (MYSQL_RES *r = mysql_store_result(m_mysql))
            mysql_free_result(r);
        else if (mysql_field_count(m_mysql) != 0)
            return false;
        const int more = mysql_next_result(m_mysql);
        if (more > 0)
            return false;
        if (more < 0)
            return true;
    }
}

bool LoaderConnection::loadData(const QByteArray &statement, const QByteArray &data, qint64 rows)
{
    m_data = &data;
    m_dataPos = 0;
    const bool sent = exec(statement);
    m_data = nullptr;
    if (!sent)
        return false;
    // "Records: 3  Deleted: 0  Skipped: 0  Warnings: 0"
    const QList<QByteArray> info = QByteArray(mysql_info(m_mysql)).simplified().split(' ');
    const auto field = [&](const char *name) {
        const qsizetype i = info.indexOf(QByteArray(name));
        return i >= 0 && i + 1 < info.size() ? info[i + 1].toLongLong() : -1;
    };
    return field("Records:") == rows && field("Skipped:") == 0 && field("Warnings:") == 0
           && mysql_warning_count(m_mysql) == 0;
}

int LoaderConnection::infileInit(void **state, const char *, void *self)
{
    *state = self;
    return static_cast<LoaderConnection *>(self)->m_data ? 0 : 1;
}

int LoaderConnection::infileRead(void *state, char *buffer, unsigned length)
{
    auto *c = static_cast<LoaderConnection *>(state);
    if (!c->m_data)
        return -1;
    const qsizetype n = std::min<qsizetype>(length, c->m_data->size() - c->m_dataPos);
    memcpy(buffer, c->m_data->constData() + c->m_dataPos, size_t(n));
    c->m_dataPos += n;
    return int(n);
}

void LoaderConnection::infileEnd(void *) {}

int LoaderConnection::infileError(void *, char *message, unsigned length)
{
    qstrncpy(message, "서버에 보낼 파일이 없습니다", length);
    return 2000;
}

bool LoaderConnection::setSession(const QByteArray &assignment)
{
    return exec("SET SESSION " + assignment);
}

QByteArray LoaderConnection::value(const QByteArray &sql, bool *ok)
{
    QByteArray out;
    bool good = mysql_real_query(m_mysql, sql.constData(), static_cast<unsigned long>(sql.size())) == 0;
    if (good) {
        MYSQL_RES *r = mysql_store_result(m_mysql);
        good = r != nullptr;
        if (r) {
            if (MYSQL_ROW row = mysql_fetch_row(r); row && row[0])
                out = row[0];
            mysql_free_result(r);
        }
    }
    if (ok)
        *ok = good;
    return out;
}

bool LoaderConnection::inTransaction() const
{
    unsigned status = 0;
    mariadb_get_infov(m_mysql, MARIADB_CONNECTION_SERVER_STATUS, &status);
    return (status & SERVER_STATUS_IN_TRANS) != 0;
}

unsigned long LoaderConnection::threadId() const
{
    return mysql_thread_id(m_mysql);
}

unsigned long LoaderConnection::serverVersion() const
{
    return mysql_get_server_version(m_mysql);
}

void LoaderConnection::abort()
{
    mariadb_cancel(m_mysql);
}

unsigned LoaderConnection::errorNumber() const
{
    return mysql_errno(m_mysql);
}

QString LoaderConnection::errorText(qint64 line) const
{
    QString text = QStringLiteral("ERROR %1 (%2)").arg(mysql_errno(m_mysql)).arg(QString::fromUtf8(mysql_sqlstate(m_mysql)));
    if (line > 0)
        text += QStringLiteral(" at line %1").arg(line);
    return text + QStringLiteral(": ") + QString::fromUtf8(mysql_error(m_mysql));
}

}  // namespace velmar
