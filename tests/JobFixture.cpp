#include "JobFixture.h"

#include "RecordingMessenger.h"
#include "TestServer.h"

#include <QTest>

#include <mysql.h>

#include <memory>

namespace velmar::test {

QString JobFixture::quoteName(const QString &name)
{
    QString q = name;
    q.replace(u'`', QStringLiteral("``"));
    return u'`' + q + u'`';
}

void JobFixture::createSourceDatabase(const QString &name, int customers)
{
    const QString db = quoteName(name);
    QString sql = QStringLiteral("DROP DATABASE IF EXISTS %1; CREATE DATABASE %1; USE %1;"
                                 "CREATE TABLE customers (id INT PRIMARY KEY, name VARCHAR(100) NOT NULL,"
                                 " note VARCHAR(100) NULL, padded CHAR(20) NULL) ENGINE=InnoDB;"
                                 "CREATE TABLE orders (id INT PRIMARY KEY AUTO_INCREMENT, customer_id INT NOT NULL,"
                                 " amount DECIMAL(12,2) NOT NULL, memo TEXT, payload BLOB,"
                                 " CONSTRAINT fk_customer FOREIGN KEY (customer_id) REFERENCES customers(id)) ENGINE=InnoDB;")
                      .arg(db);
    QStringList values;
    for (int i = 1; i <= customers; ++i)
        values << QStringLiteral("(%1, '고객 %1 홍길동', %2, '  pad %1 ')")
                      .arg(i)
                      .arg(i % 3 == 0 ? QStringLiteral("NULL") : QStringLiteral("'메모 %1'").arg(i));
    sql += QStringLiteral("INSERT INTO customers VALUES ") + values.join(u',') + u';';
    values.clear();
    for (int i = 1; i <= customers * 10; ++i)
        values << QStringLiteral("(%1, %2.%3, '주문 ''%4'' \\\\ \"x\"', UNHEX('00FF%5'))")
                      .arg(1 + i % customers)
                      .arg(i)
                      .arg(i % 100, 2, 10, QChar(u'0'))
                      .arg(i)
                      .arg(i % 256, 2, 16, QChar(u'0'));
    sql += QStringLiteral("INSERT INTO orders (customer_id, amount, memo, payload) VALUES ") + values.join(u',')
           + u';';
    const QString error = TestServer::exec(sql);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void JobFixture::dropDatabase(const QString &name)
{
    const QString error = TestServer::exec(QStringLiteral("DROP DATABASE IF EXISTS ") + quoteName(name));
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

bool JobFixture::databaseExists(const QString &name)
{
    for (const QString &row : TestServer::rows(QStringLiteral("SHOW DATABASES")))
        if (row == name)
            return true;
    return false;
}

QMap<QString, QString> JobFixture::checksums(const QString &database)
{
    QMap<QString, QString> out;
    if (!databaseExists(database))
        return out;
    const QStringList tables = TestServer::rows(QStringLiteral("SHOW TABLES FROM ") + quoteName(database));
    for (const QString &t : tables) {
        const QStringList r = TestServer::rows(QStringLiteral("CHECKSUM TABLE ") + quoteName(database) + u'.'
                                               + quoteName(t));
        out[t] = r.isEmpty() ? QString() : r.first().section(u'\t', 1);
    }
    return out;
}

QMap<QString, qint64> JobFixture::rowCounts(const QString &database)
{
    QMap<QString, qint64> out;
    if (!databaseExists(database))
        return out;
    const QStringList tables = TestServer::rows(QStringLiteral("SHOW TABLES FROM ") + quoteName(database));
    for (const QString &t : tables)
        out[t] = TestServer::value(QStringLiteral("SELECT COUNT(*) FROM ") + quoteName(database) + u'.'
                                   + quoteName(t))
                     .toLongLong();
    return out;
}

bool JobFixture::canUse(const QString &user, const QString &password, const QString &database)
{
    std::unique_ptr<MYSQL, decltype(&mysql_close)> c(mysql_init(nullptr), &mysql_close);
    mysql_options(c.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (!TestServer::connect(c.get(), user.toUtf8(), password.toUtf8(), database.toUtf8()))
        return false;
    return mysql_query(c.get(), "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = DATABASE()") == 0;
}

void JobFixture::dropUser(const QString &user)
{
    QString u = user;
    u.replace(u'\'', QStringLiteral("''"));
    TestServer::exec(QStringLiteral("DROP USER IF EXISTS '%1'@'%', '%1'@'localhost'").arg(u));
}

CopyRequest JobFixture::request(const QString &folder, const QString &prefix, const QString &user,
                                const QString &newDB)
{
    CopyRequest r;
    r.host = QStringLiteral("localhost");
    r.dbPrefix = prefix;
    r.user = user;
    r.dumpOption = QStringLiteral("-q -e");
    r.newDB = newDB;
    r.foreign = false;
    r.programFolder = folder;
    return r;
}

CopyOutcome JobFixture::run(const CopyRequest &r, const std::function<void(CopyJob &)> &hook)
{
    RecordingMessenger rec;
    rec.answer({Answer::Yes});
    CopyJob job(r);
    if (hook)
        hook(job);
    CopyOutcome o;
    o.copied = job.ProcCopy();
    for (const QString &line : rec.logEntries())
        (line.startsWith(QStringLiteral("가져오기 시간: ")) ? o.figures : o.log) << line;
    o.messages = rec.messageTexts();
    return o;
}

QStringList JobFixture::snapshot(const QString &db)
{
    const QString in = "'" + db + "'";  // the names in these tests need no escaping
    QStringList out = TestServer::rows("SELECT 'charset', DEFAULT_CHARACTER_SET_NAME, DEFAULT_COLLATION_NAME "
                                       "FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = " + in);
    const QStringList objects = TestServer::rows(
        QString("SELECT IF(TABLE_TYPE = 'VIEW', 'VIEW', 'TABLE'), TABLE_NAME, AUTO_INCREMENT"
                " FROM information_schema.TABLES WHERE TABLE_SCHEMA = %1"
                " UNION ALL SELECT 'TRIGGER', TRIGGER_NAME, '' FROM information_schema.TRIGGERS"
                " WHERE TRIGGER_SCHEMA = %1"
                " UNION ALL SELECT ROUTINE_TYPE, ROUTINE_NAME, '' FROM information_schema.ROUTINES"
                " WHERE ROUTINE_SCHEMA = %1"
                " UNION ALL SELECT 'EVENT', EVENT_NAME, '' FROM information_schema.EVENTS"
                " WHERE EVENT_SCHEMA = %1")
            .arg(in));
    const QString prefix = JobFixture::quoteName(db) + '.';
    for (const QString &object : objects) {
        const QString kind = object.section('\t', 0, 0);
        const QString name = prefix + JobFixture::quoteName(object.section('\t', 1, 1));
        const QString shown = TestServer::rows("SHOW CREATE " + kind + ' ' + name).value(0);
        // A trigger's definition ends with the time it was created.
        out << kind + ' ' + (kind == "TRIGGER" ? shown.section('\t', 0, 5) : shown);
        if (kind != "TABLE")
            continue;
        out << "AUTO_INCREMENT " + object.section('\t', 1);
        // The server's CHECKSUM TABLE of a table with generated columns varies from one reading
        // to the next: such a table is compared by its rows.
        const bool generated = !TestServer::rows("SELECT 1 FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " + in
                                                 + " AND TABLE_NAME = '" + object.section('\t', 1, 1)
                                                 + "' AND IFNULL(GENERATION_EXPRESSION, '') <> ''")
                                     .isEmpty();
        if (generated)
            out << "ROWS " + TestServer::rows("SELECT * FROM " + name + " ORDER BY 1").join('\n');
        else
            out << "CHECKSUM " + TestServer::rows("CHECKSUM TABLE " + name).value(0);
    }
    out << TestServer::rows("SELECT 'FOREIGN KEY', k.TABLE_NAME, k.CONSTRAINT_NAME, k.COLUMN_NAME, "
                            "k.REFERENCED_TABLE_SCHEMA, k.REFERENCED_TABLE_NAME, k.REFERENCED_COLUMN_NAME, "
                            "r.UNIQUE_CONSTRAINT_SCHEMA, r.UPDATE_RULE, r.DELETE_RULE "
                            "FROM information_schema.KEY_COLUMN_USAGE k "
                            "JOIN information_schema.REFERENTIAL_CONSTRAINTS r ON r.CONSTRAINT_SCHEMA = "
                            "k.CONSTRAINT_SCHEMA AND r.CONSTRAINT_NAME = k.CONSTRAINT_NAME "
                            "WHERE k.TABLE_SCHEMA = " + in + " ORDER BY 2, 3, 4");
    out.sort();
    return out.replaceInStrings(db, "<db>");
}

void JobFixture::exec(const QString &sql)
{
    const QString error = TestServer::exec(sql);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

}  // namespace velmar::test
