#include "TestServer.h"

#include <QDir>
#include <QFile>

#include <mysql.h>

#include <memory>

namespace velmar::test {

namespace {

QString readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll()).trimmed();
}

using Connection = std::unique_ptr<MYSQL, decltype(&mysql_close)>;

Connection connectRoot(QString &error)
{
    Connection c(mysql_init(nullptr), &mysql_close);
    mysql_options(c.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (!TestServer::connect(c.get(), "root", TestServer::rootPassword, QByteArray(), CLIENT_MULTI_STATEMENTS)) {
        error = QString::fromUtf8(mysql_error(c.get()));
        return Connection(nullptr, &mysql_close);
    }
    return c;
}

}  // namespace

bool TestServer::connect(MYSQL *m, const QByteArray &user, const QByteArray &password, const QByteArray &db,
                         unsigned long flags)
{
    const char *dbName = db.isEmpty() ? nullptr : db.constData();
#ifdef Q_OS_WIN
    return mysql_real_connect(m, "127.0.0.1", user.constData(), password.constData(), dbName, unsigned(port()),
                              nullptr, flags)
           != nullptr;
#else
    const QByteArray sock = socket().toUtf8();
    return mysql_real_connect(m, "localhost", user.constData(), password.constData(), dbName, 0, sock.constData(),
                              flags)
           != nullptr;
#endif
}

QString TestServer::localAccountHost()
{
#ifdef Q_OS_WIN
    return QStringLiteral("127.0.0.1");
#else
    return QStringLiteral("localhost");
#endif
}

QString TestServer::localHostInfo()
{
#ifdef Q_OS_WIN
    return QStringLiteral("localhost via TCP/IP");
#else
    return QStringLiteral("Localhost via UNIX socket");
#endif
}

QString TestServer::dir()
{
    return qEnvironmentVariable("VELMAR_TEST_SERVER_DIR");
}

bool TestServer::available()
{
    return !dir().isEmpty() && QFile::exists(dir() + QStringLiteral("/port"));
}

QString TestServer::socket()
{
    return readFile(dir() + QStringLiteral("/socket"));
}

int TestServer::port()
{
    return readFile(dir() + QStringLiteral("/port")).toInt();
}

void TestServer::exportEnvironment()
{
    qputenv("MYSQL_UNIX_PORT", socket().toUtf8());
    qputenv("MYSQL_HOME", QDir::toNativeSeparators(dir()).toUtf8());
    qputenv("MYSQL_TCP_PORT", QByteArray::number(port()));
}

QString TestServer::exec(const QString &sql)
{
    QString error;
    Connection c = connectRoot(error);
    if (!c)
        return error;
    const QByteArray q = sql.toUtf8();
    if (mysql_real_query(c.get(), q.constData(), q.size()) != 0)
        return QString::fromUtf8(mysql_error(c.get()));
    // Drain every result of a multi-statement text, reporting the first error.
    do {
        if (MYSQL_RES *r = mysql_store_result(c.get()))
            mysql_free_result(r);
        else if (mysql_errno(c.get()) != 0)
            return QString::fromUtf8(mysql_error(c.get()));
    } while (mysql_next_result(c.get()) == 0);
    if (mysql_errno(c.get()) != 0)
        return QString::fromUtf8(mysql_error(c.get()));
    return QString();
}

QStringList TestServer::rows(const QString &sql)
{
    QStringList out;
    QString error;
    Connection c = connectRoot(error);
    if (!c)
        return {QStringLiteral("ERROR: ") + error};
    const QByteArray q = sql.toUtf8();
    if (mysql_real_query(c.get(), q.constData(), q.size()) != 0)
        return {QStringLiteral("ERROR: ") + QString::fromUtf8(mysql_error(c.get()))};
    std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> r(mysql_store_result(c.get()),
                                                               &mysql_free_result);
    if (!r)
        return out;
    const unsigned n = mysql_num_fields(r.get());
    while (MYSQL_ROW row = mysql_fetch_row(r.get())) {
        QStringList values;
        for (unsigned i = 0; i < n; ++i)
            values << (row[i] ? QString::fromUtf8(row[i]) : QStringLiteral("NULL"));
        out << values.join(u'\t');
    }
    return out;
}

QString TestServer::value(const QString &sql)
{
    const QStringList r = rows(sql);
    return r.isEmpty() ? QString() : r.first().section(u'\t', 0, 0);
}

}  // namespace velmar::test
