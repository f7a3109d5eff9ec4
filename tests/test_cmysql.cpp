#include "WrapperTestSupport.h"
#include "RecordingMessenger.h"
#include "TestServer.h"
#include "cMySQL.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTest>

#include <map>

using namespace velmar;
using namespace velmar::test;

namespace {

const QString kPassword = QStringLiteral("wexrolp");
// The server is named with its port whenever one was dialled.
const QString kShortExplanation = QStringLiteral("데이터베이스 서버(%1)에 접속할 수 없습니다.");
const QString kLongExplanation = QStringLiteral(
    "데이터베이스 서버(%1)에 접속할 수 없습니다.\r\n\r\n"
    "인터넷이 연결되어 있는지 확인 해 주세요.\r\n\r\n"
    "인터넷이 연결되어 있다면 방화벽이나 각종 스파이웨어 차단 프로그램이 가동중인지 확인해 주세요.\r\n"
    "관련 프로그램이 데이터베이스 접속을 방해하는 경우 일 수도 있습니다.");

// A loopback port on which nothing listens.
int unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1;
    const int port = probe.serverPort();
    probe.close();
    return port;
}

QString tcpHost()
{
    return QStringLiteral("127.0.0.1:") + QString::number(TestServer::port());
}

// Kills the object's server thread from a second connection, as a server restart or an idle
// time-out would end it.
bool killFromOutside(cMySQL &c)
{
    const qint32 id = c.thread_id();
    return TestServer::exec(QStringLiteral("KILL ") + QString::number(id)).isEmpty() && waitUntilGone(id);
}

QStringList column(Recordset &rs, int i)
{
    QStringList values;
    if (rs.RecordCount() == 0)
        return values;
    for (rs.MoveFirst(); !rs.isEOF(); rs.MoveNext())
        values << rs.value(i);
    return values;
}

// An open record set without rows stands before its first and after its last row at once.
bool isOpenAndEmpty(const Recordset *rs)
{
    return rs && rs->State() == Recordset::adStateOpen && rs->RecordCount() == 0 && rs->isBOF() && rs->isEOF();
}

QStringList sortedColumn(Recordset &rs, int i)
{
    QStringList values = column(rs, i);
    values.sort();
    return values;
}

QString firstValue(cMySQL &c, const QString &sql)
{
    std::unique_ptr<Recordset> rs = c.query(sql);
    if (!rs || rs->RecordCount() == 0)
        return QStringLiteral("<no row>");
    rs->MoveFirst();
    return rs->value(0);
}

}  // namespace

class TestCMySQL : public QObject {
    Q_OBJECT

    RecordingMessenger messages;

    // Connected to the test server as root over its socket.
    std::unique_ptr<cMySQL> connected(const QString &db = QString(), bool noErrMsg = false)
    {
        auto c = std::make_unique<cMySQL>();
        if (!c->real_connect(QStringLiteral("localhost"), QStringLiteral("root"), kPassword, db, 3306,
                             QString(), 0, noErrMsg))
            return nullptr;
        return c;
    }

private slots:
    void initTestCase()
    {
        VELMAR_REQUIRE_SERVER();
        TestServer::exportEnvironment();
        const QString error = TestServer::exec(QStringLiteral(
            "DROP DATABASE IF EXISTS wrapt; DROP DATABASE IF EXISTS wrapt_other;"
            "DROP DATABASE IF EXISTS wrapt_tmp; DROP DATABASE IF EXISTS `wrapt_new``이름`;"
            "CREATE DATABASE wrapt; CREATE DATABASE wrapt_other;"
            "CREATE TABLE wrapt.a (id INT PRIMARY KEY, name VARCHAR(20), memo LONGTEXT);"
            "CREATE TABLE wrapt.b (id INT PRIMARY KEY, a_id INT);"
            "CREATE TABLE wrapt.c (id INT PRIMARY KEY);"
            "INSERT INTO wrapt.a VALUES (1, 'one', NULL), (2, 'two', ''), (3, 'three', '  padded  ');"
            "INSERT INTO wrapt.b VALUES (10, 1), (20, 2);"
            "INSERT INTO wrapt.c VALUES (100);"
            "CREATE TABLE wrapt.counter (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(10));"
            "CREATE TABLE wrapt.`한글표` (`이름` VARCHAR(20));"));
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanupTestCase()
    {
        TestServer::exec(QStringLiteral("DROP DATABASE IF EXISTS wrapt; DROP DATABASE IF EXISTS wrapt_other;"
                                        "DROP DATABASE IF EXISTS wrapt_tmp; DROP DATABASE IF EXISTS `wrapt_new``이름`"));
    }

    void init() { messages.reset(); }

    // --- stored properties -------------------------------------------------------------------

    void connectStoresItsArguments()
    {
        cMySQL c;
        QVERIFY(c.real_connect(QStringLiteral("localhost"), QStringLiteral("root"), kPassword, QString(),
                               3306, QString(), 0, true));
        QCOMPARE(c.host(), QStringLiteral("localhost"));
        QCOMPARE(c.user(), QStringLiteral("root"));
        QCOMPARE(c.password(), kPassword);
        QCOMPARE(c.db(), QString());
        QCOMPARE(c.port(), 0);
        QCOMPARE(c.ClientFlags(), 0);
        QVERIFY(c.NoErrMsg());
        // No default database on a fresh object.
        QCOMPARE(firstValue(c, QStringLiteral("SELECT DATABASE()")), QString());

        // Empty arguments reuse what is stored.
        QVERIFY(c.real_connect(QString(), QString(), QString(), QString(), 3306, QString(), 0, false));
        QVERIFY(!c.NoErrMsg());
        QCOMPARE(firstValue(c, QStringLiteral("SELECT CURRENT_USER()")), "root@" + TestServer::localAccountHost());
    }

    void storedDatabaseIsReused()
    {
        cMySQL c;
        QVERIFY(c.real_connect(QStringLiteral("localhost"), QStringLiteral("root"), kPassword,
                               QStringLiteral("wrapt"), 3306, QString(), 0, false));
        QVERIFY(c.real_connect(QStringLiteral("localhost"), QStringLiteral("root"), kPassword, QString(),
                               3306, QString(), 0, false));
        QCOMPARE(firstValue(c, QStringLiteral("SELECT DATABASE()")), QStringLiteral("wrapt"));
        QCOMPARE(c.db(), QStringLiteral("wrapt"));

        cMySQL set;
        set.setDb(QStringLiteral("wrapt_other"));
        QVERIFY(set.real_connect(QStringLiteral("localhost"), QStringLiteral("root"), kPassword, QString(),
                                 3306, QString(), 0, false));
        QCOMPARE(firstValue(set, QStringLiteral("SELECT DATABASE()")), QStringLiteral("wrapt_other"));
        QCOMPARE(set.db(), QStringLiteral("wrapt_other"));
        QVERIFY(messages.messages().isEmpty());
    }

    void portPropertyKeepsAllButThe3306()
    {
        // Over the socket the port does not matter, so both connects succeed; on Windows
        // "localhost" is TCP, and nothing listens on the other port.
#ifdef Q_OS_WIN
        const int other = unusedPort();
        const bool otherConnects = false;
#else
        const int other = 3307;
        const bool otherConnects = true;
#endif
        cMySQL c;
        QCOMPARE(c.real_connect(QStringLiteral("localhost"), QStringLiteral("root"), kPassword, QString(),
                                other, QString(), 0, true),
                 otherConnects);
        QCOMPARE(c.port(), other);
        QVERIFY(c.real_connect(QStringLiteral("localhost"), QStringLiteral("root"), kPassword, QString(),
                               3306, QString(), 0, false));
        QCOMPARE(c.port(), other);
        QVERIFY(messages.messages().isEmpty());
    }

    void connectUsesThePortArgumentNotTheProperty()
    {
        const int serverPort = TestServer::port();
        const int deadPort = unusedPort();
        cMySQL c;
        QVERIFY(c.real_connect(QStringLiteral("127.0.0.1"), QStringLiteral("root"), kPassword, QString(),
                               serverPort, QString(), 0, true));
        // 3306 is the port argument's "none" (the Windows tests' server is there).
        QCOMPARE(c.port(), serverPort == 3306 ? 0 : serverPort);
        QVERIFY(c.get_host_info().contains(QStringLiteral("TCP/IP")));

        // The stored port is the server's, yet the argument is what is dialled.
        QVERIFY(!c.real_connect(QString(), QString(), QString(), QString(), deadPort, QString(), 0, true));
        QCOMPARE(c.err_no(), 2002);
        QCOMPARE(c.port(), deadPort);

        cMySQL p;
        p.setPort(deadPort);
        QVERIFY(p.real_connect(QStringLiteral("127.0.0.1"), QStringLiteral("root"), kPassword, QString(),
                               serverPort, QString(), 0, true));
        QCOMPARE(firstValue(p, QStringLiteral("SELECT @@port")), QString::number(serverPort));
        QVERIFY(messages.messages().isEmpty());
    }

    void hostTextWithPortReachesThatPort()
    {
        cMySQL c;
        QVERIFY(c.real_connect(tcpHost(), QStringLiteral("root"), kPassword, QString(), 3306, QString(), 0,
                               false));
        QCOMPARE(c.host(), tcpHost());
        QCOMPARE(c.port(), 0);
        QCOMPARE(c.get_host_info(), QStringLiteral("127.0.0.1 via TCP/IP"));
        QCOMPARE(firstValue(c, QStringLiteral("SELECT CURRENT_USER()")), QStringLiteral("root@127.0.0.1"));
    }

    void clientFlagsAreReused()
    {
        // With CLIENT_FOUND_ROWS an UPDATE that changes nothing counts the rows it matched.
        const QString touch = QStringLiteral("UPDATE wrapt.a SET name = name WHERE id = 1");
        cMySQL c;
        QVERIFY(c.real_connect(QStringLiteral("localhost"), QStringLiteral("root"), kPassword, QString(),
                               3306, QString(), 0, false));
        c.query(touch);
        QCOMPARE(c.affected_rows(), 0);

        QVERIFY(c.real_connect(QString(), QString(), QString(), QString(), 3306, QString(), 2, false));
        QCOMPARE(c.ClientFlags(), 2);
        c.query(touch);
        QCOMPARE(c.affected_rows(), 1);

        QVERIFY(c.real_connect(QString(), QString(), QString(), QString(), 3306, QString(), 0, false));
        QCOMPARE(c.ClientFlags(), 2);
        c.query(touch);
        QCOMPARE(c.affected_rows(), 1);
    }

    // --- failed connects ---------------------------------------------------------------------

    void failedConnect_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("socket");
        QTest::addColumn<bool>("noErrMsg");
        QTest::addColumn<qint32>("number");
        QTest::addColumn<QString>("libraryText");  // empty: the library's own, checked by prefix
        QTest::addColumn<QString>("explanation");
        const QString dead = QStringLiteral("127.0.0.1:") + QString::number(unusedPort());
        // This client library numbers an unreachable server 2002, over TCP as well.
        QTest::newRow("unreachable, shown") << dead << kPassword << QString() << false << 2002 << QString()
                                            << kLongExplanation.arg(dead);
        QTest::newRow("unreachable, silent") << dead << kPassword << QString() << true << 2002 << QString()
                                             << kLongExplanation.arg(dead);
        QTest::newRow("no such socket, shown")
            << "localhost" << kPassword << "/nonexistent/velmar.sock" << false << 2002
            << "Can't connect to local server through socket '/nonexistent/velmar.sock' (2)"
            << kLongExplanation.arg("localhost");
        const QString denied = "Access denied for user 'root'@'" + TestServer::localAccountHost() + "' (using password: YES)";
        QTest::newRow("wrong password, shown") << "localhost" << "wrong" << QString() << false << 1045 << denied
                                               << kShortExplanation.arg("localhost");
        QTest::newRow("wrong password, silent") << "localhost" << "wrong" << QString() << true << 1045 << denied
                                                << kShortExplanation.arg("localhost");
    }
    void failedConnect()
    {
        QFETCH(QString, host);
        QFETCH(QString, password);
        QFETCH(QString, socket);
        QFETCH(bool, noErrMsg);
        QFETCH(qint32, number);
        QFETCH(QString, libraryText);
        QFETCH(QString, explanation);
#ifdef Q_OS_WIN
        if (!socket.isEmpty())
            QSKIP("Windows has no Unix socket: \"localhost\" is TCP port 3306 there");
#endif

        cMySQL c;
        QVERIFY(!c.real_connect(host, QStringLiteral("root"), password, QString(), 3306, socket, 0, noErrMsg));
        QCOMPARE(c.err_no(), number);
        if (libraryText.isEmpty())
            QVERIFY2(c.err_description().startsWith(QStringLiteral("Can't connect to server on '127.0.0.1'")),
                     qPrintable(c.err_description()));
        else
            QCOMPARE(c.err_description(), libraryText);

        const QList<Message> shown = messages.messages();
        if (noErrMsg) {
            QVERIFY(shown.isEmpty());
        } else {
            QCOMPARE(shown.size(), 1);
            QCOMPARE(shown[0].text, QStringLiteral("Error ") + QString::number(number) + u' '
                                        + c.err_description() + QStringLiteral("\r\n\r\n") + explanation);
            QCOMPARE(shown[0].buttons, Buttons::Ok);
            QCOMPARE(shown[0].icon, Icon::None);
            QCOMPARE(shown[0].title, QString());
        }

        // The same object connects once the cause is gone.
        messages.reset();
        QVERIFY(c.real_connect(QStringLiteral("localhost"), QStringLiteral("root"), kPassword, QString(), 3306,
                               TestServer::socket(), 0, noErrMsg));
        QCOMPARE(firstValue(c, QStringLiteral("SELECT 1 + 1")), QStringLiteral("2"));
        QVERIFY(messages.messages().isEmpty());
    }

    // --- results -----------------------------------------------------------------------------

    void noResultBeforeTheFirstStatement()
    {
        cMySQL c;
        QCOMPARE(c.num_rows(), 0);
        QCOMPARE(c.num_fields(), 0);
        QVERIFY(!c.eof());
    }

    void emptyResult()
    {
        auto c = connected(QStringLiteral("wrapt"));
        QVERIFY(c);
        std::unique_ptr<Recordset> rs = c->query(QStringLiteral("SELECT id, name FROM a WHERE id < 0"));
        QVERIFY(isOpenAndEmpty(rs.get()));
        QCOMPARE(rs->fieldNames(), (QStringList{"id", "name"}));
        QCOMPARE(c->num_rows(), 0);
        QCOMPARE(c->num_fields(), 2);
        QCOMPARE(c->affected_rows(), 0);
    }

    void oneRowIsCurrent()
    {
        auto c = connected(QStringLiteral("wrapt"));
        QVERIFY(c);
        std::unique_ptr<Recordset> rs = c->query(QStringLiteral("SELECT id, name FROM a WHERE id = 2"));
        QVERIFY(rs);
        QCOMPARE(rs->RecordCount(), 1);
        QVERIFY(!rs->isBOF());
        QVERIFY(!rs->isEOF());
        QCOMPARE(rs->value(QStringLiteral("name")), QStringLiteral("two"));
        QCOMPARE(c->num_rows(), 1);
    }

    void manyRowsStartAtTheFirst()
    {
        auto c = connected();
        QVERIFY(c);
        std::unique_ptr<Recordset> rs = c->query(QStringLiteral(
            "WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 300) SELECT n FROM s"));
        QVERIFY(rs);
        QCOMPARE(rs->RecordCount(), 300);
        QCOMPARE(rs->position(), 0);
        QCOMPARE(rs->value(0), QStringLiteral("1"));
        QStringList expected;
        for (int i = 1; i <= 300; ++i)
            expected << QString::number(i);
        QCOMPARE(column(*rs, 0), expected);
        QCOMPARE(c->num_rows(), 300);
        QCOMPARE(c->affected_rows(), 300);
        QVERIFY(c->eof());
    }

    void valuesAreTrimmedText()
    {
        auto c = connected(QStringLiteral("wrapt"));
        QVERIFY(c);
        std::unique_ptr<Recordset> rs = c->query(QStringLiteral(
            "SELECT NULL AS n, '' AS e, '  padded  ' AS p, CONCAT('a', CHAR(0), 'b') AS z, "
            "CONCAT(CHAR(9), 'x ') AS t, 12.50 AS d, DATE('2024-01-02') AS day, memo FROM a WHERE id = 3"));
        QVERIFY(rs);
        const QStringList expected{"", "", "padded", "a", "\tx", "12.50", "2024-01-02", "padded"};
        QCOMPARE(rs->row(0), expected);
        for (int i = 0; i < rs->fieldCount(); ++i) {
            QCOMPARE(rs->field(i).Type, 8);
            QCOMPARE(rs->field(i).Attributes, -1);
        }
    }

    void columnWidths_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<qint32>("definedSize");
        QTest::newRow("int") << "id" << 11;
        QTest::newRow("varchar(20) in utf8mb4") << "name" << 80;
        QTest::newRow("longtext, 2^32 - 1") << "memo" << -1;
    }
    void columnWidths()
    {
        QFETCH(QString, column);
        QFETCH(qint32, definedSize);
        auto c = connected(QStringLiteral("wrapt"));
        QVERIFY(c);
        std::unique_ptr<Recordset> rs = c->query(QStringLiteral("SELECT ") + column + QStringLiteral(" FROM a"));
        QVERIFY(rs);
        QCOMPARE(rs->field(0).DefinedSize, definedSize);
    }

    void statementsWithoutRows()
    {
        const std::pair<QString, qint32> steps[] = {
            {QStringLiteral("CREATE DATABASE wrapt_tmp"), 1},
            {QStringLiteral("CREATE TABLE wrapt_tmp.t (id INT AUTO_INCREMENT PRIMARY KEY)"), 0},
            {QStringLiteral("INSERT INTO wrapt_tmp.t VALUES (NULL), (NULL), (NULL)"), 3},
            {QStringLiteral("SET @velmar = 1"), 0},
            {QStringLiteral("DROP DATABASE wrapt_tmp"), 1},
        };
        auto c = connected();
        QVERIFY(c);
        for (const auto &[sql, affected] : steps) {
            QVERIFY2(!c->query(sql), qPrintable(sql));
            QCOMPARE(c->affected_rows(), affected);
        }
        QVERIFY(messages.messages().isEmpty());
    }

    void insertIdAndInfo()
    {
        auto c = connected(QStringLiteral("wrapt"));
        QVERIFY(c);
        c->query(QStringLiteral("INSERT INTO counter (v) VALUES ('x'), ('y')"));
        const QString last = TestServer::value(QStringLiteral("SELECT MAX(id) FROM wrapt.counter"));
        // The first id of a multi-row insert.
        QCOMPARE(c->insert_id(), last.toInt() - 1);
        QCOMPARE(c->info(), QStringLiteral("Records: 2  Duplicates: 0  Warnings: 0"));
        c->query(QStringLiteral("UPDATE a SET name = name"));
        QCOMPARE(c->info(), QStringLiteral("Rows matched: 3  Changed: 0  Warnings: 0"));
        // A statement that leaves no information is no failure.
        c->query(QStringLiteral("SELECT 1"));
        QCOMPARE(c->info(), QString());
    }

    void showDatabasesCountsMatches()
    {
        auto c = connected();
        QVERIFY(c);
        std::unique_ptr<Recordset> rs = c->query(QStringLiteral("SHOW DATABASES LIKE 'wrapt%'"));
        QVERIFY(rs);
        QCOMPARE(c->affected_rows(), 2);
        QCOMPARE(sortedColumn(*rs, 0), (QStringList{"wrapt", "wrapt_other"}));
    }

    void recordsetOutlivesTheConnection()
    {
        std::unique_ptr<Recordset> rs;
        {
            auto c = connected(QStringLiteral("wrapt"));
            QVERIFY(c);
            rs = c->query(QStringLiteral("SELECT name FROM a ORDER BY id"));
        }
        QVERIFY(rs);
        QCOMPARE(column(*rs, 0), (QStringList{"one", "two", "three"}));
    }

    void koreanTextRoundTrip()
    {
        auto c = connected(QStringLiteral("wrapt"));
        QVERIFY(c);
        const QString text = QStringLiteral("한글 값 テスト ✓");
        QVERIFY(!c->query(QStringLiteral("INSERT INTO `한글표` (`이름`) VALUES ('") + text + QStringLiteral("')")));
        QCOMPARE(c->affected_rows(), 1);
        std::unique_ptr<Recordset> rs = c->query(QStringLiteral("SELECT `이름` FROM `한글표`"));
        QVERIFY(rs);
        QCOMPARE(rs->fieldNames(), QStringList{QStringLiteral("이름")});
        QCOMPARE(rs->value(0), text);
        // Stored as these characters, not as their bytes read one by one.
        QCOMPARE(TestServer::value(QStringLiteral("SELECT CHAR_LENGTH(`이름`) FROM wrapt.`한글표`")),
                 QString::number(text.size()));
        QVERIFY(messages.messages().isEmpty());
    }

    void realQueryHonoursLength()
    {
        auto c = connected();
        QVERIFY(c);
        const QString sql = QStringLiteral("SELECT '한' AS k; and then garbage");
        const qint32 length = qint32(QStringLiteral("SELECT '한' AS k").toUtf8().size());
        std::unique_ptr<Recordset> rs = c->real_query(sql, length);
        QVERIFY(rs);
        QCOMPARE(rs->value(QStringLiteral("k")), QStringLiteral("한"));
        QVERIFY(!c->real_query(QStringLiteral("DO 1"), 4));
    }

    // --- column labels -----------------------------------------------------------------------

    void columnLabels_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("distinct names") << "SELECT id, name FROM a" << QStringList{"id", "name"};
        QTest::newRow("two tables") << "SELECT a.id, b.id FROM a, b" << QStringList{"a.id", "b.id"};
        QTest::newRow("three tables") << "SELECT a.id, b.id, c.id FROM a, b, c"
                                      << QStringList{"a.id", "b.id", "id"};
        QTest::newRow("aliases") << "SELECT x.id, y.id FROM a x, b y" << QStringList{"x.id", "y.id"};
        QTest::newRow("between others") << "SELECT a.id, name, b.id, a_id FROM a, b"
                                        << QStringList{"a.id", "name", "b.id", "a_id"};
    }
    void columnLabels()
    {
        QFETCH(QString, sql);
        QFETCH(QStringList, labels);
        auto c = connected(QStringLiteral("wrapt"));
        QVERIFY(c);
        std::unique_ptr<Recordset> rs = c->query(sql + QStringLiteral(" LIMIT 1"));
        QVERIFY(rs);
        QCOMPARE(rs->fieldNames(), labels);
        QVERIFY(messages.messages().isEmpty());
    }

    void refusedColumns_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<qint32>("fields");
        QTest::newRow("two computed columns") << "SELECT 1 AS x, 2 AS x" << 2;
        QTest::newRow("same column twice") << "SELECT a.id, a.id FROM wrapt.a" << 2;
        QTest::newRow("names differing in case") << "SELECT 1 AS x, 2 AS X, 3 AS y" << 3;
    }
    void refusedColumns()
    {
        QFETCH(QString, sql);
        QFETCH(qint32, fields);
        auto c = connected(QString(), true);
        QVERIFY(c);
        QVERIFY(!c->query(sql));
        QCOMPARE(messages.messageTexts(),
                 QStringList{QStringLiteral("Error 3367 (Object already in collection. Cannot append.)")});
        // The result was kept all the same.
        QCOMPARE(c->num_fields(), fields);
    }

    // --- failures and the reconnect ----------------------------------------------------------

    void rejectedStatement_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("text");
        QTest::newRow("syntax")
            << "SELEC id"
            << "Error 1064 (You have an error in your SQL syntax; check the manual that corresponds to your "
               "MariaDB server version for the right syntax to use near 'SELEC id' at line 1)";
        QTest::newRow("missing table") << "SELECT * FROM nosuch"
                                       << "Error 1146 (Table 'wrapt.nosuch' doesn't exist)";
        QTest::newRow("korean in the text") << "SELECT * FROM `없는표`"
                                            << QStringLiteral("Error 1146 (Table 'wrapt.없는표' doesn't exist)");
    }
    void rejectedStatement()
    {
        QFETCH(QString, sql);
        QFETCH(QString, text);
        auto c = connected(QStringLiteral("wrapt"), true);
        QVERIFY(c);
        QVERIFY(c->query(QStringLiteral("SELECT id FROM a")));
        QVERIFY(!c->query(sql));
        QCOMPARE(messages.messageTexts(), QStringList{text});
        QCOMPARE(messages.messages().first().icon, Icon::None);
        QCOMPARE(c->num_rows(), 3);
        QCOMPARE(c->affected_rows(), -1);
        // The connection still serves, and a status call clears the error.
        QVERIFY(c->stat().startsWith(QStringLiteral("Uptime: ")));
    }

    void reconnectAfterLostConnection_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("socket") << "localhost";
        QTest::newRow("host text with port") << tcpHost();
    }
    void reconnectAfterLostConnection()
    {
        QFETCH(QString, host);
        QVERIFY(TestServer::exec(QStringLiteral("DELETE FROM wrapt.counter")).isEmpty());
        cMySQL c;
        QVERIFY(c.real_connect(host, QStringLiteral("root"), kPassword, QStringLiteral("wrapt"), 3306,
                               QString(), 0, false));
        c.query(QStringLiteral("USE wrapt_other"));
        c.query(QStringLiteral("SET @kept = 5"));
        QCOMPARE(firstValue(c, QStringLiteral("SELECT DATABASE()")), QStringLiteral("wrapt_other"));
        const qint32 lost = c.thread_id();
        QVERIFY(killFromOutside(c));

        QVERIFY(!c.query(QStringLiteral("INSERT INTO wrapt.counter (v) VALUES ('once')")));
        QVERIFY(messages.messages().isEmpty());
        QCOMPARE(c.affected_rows(), 1);
        QCOMPARE(TestServer::rows(QStringLiteral("SELECT v FROM wrapt.counter")), QStringList{"once"});

        const qint32 now = c.thread_id();
        QVERIFY(now != lost);
        QVERIFY(!threadExists(lost));
        // A new session: the stored database again, and nothing of the old one's settings.
        std::unique_ptr<Recordset> rs = c.query(QStringLiteral("SELECT DATABASE(), @kept, CONNECTION_ID()"));
        QVERIFY(rs);
        QCOMPARE(rs->row(0), (QStringList{"wrapt", "", QString::number(now)}));
        QCOMPARE(c.db(), QStringLiteral("wrapt"));
        QCOMPARE(c.host(), host);
    }

    void reconnectOpensTheSelectedDatabase()
    {
        auto c = connected(QStringLiteral("wrapt"));
        QVERIFY(c);
        c->select_db(QStringLiteral("wrapt_other"));
        QCOMPARE(c->db(), QStringLiteral("wrapt_other"));
        QVERIFY(killFromOutside(*c));
        QCOMPARE(firstValue(*c, QStringLiteral("SELECT DATABASE()")), QStringLiteral("wrapt_other"));
        QVERIFY(messages.messages().isEmpty());
    }

    void selectDbOfMissingDatabase()
    {
        auto c = connected(QStringLiteral("wrapt"));
        QVERIFY(c);
        const RaisedError e = raisedBy([&] { c->select_db(QStringLiteral("wrapt_missing")); });
        QCOMPARE(e.Number, 1049);
        QCOMPARE(e.Source, QStringLiteral("cMysql::select_db"));
        QCOMPARE(e.Description, QStringLiteral("Unknown database 'wrapt_missing'"));
        QCOMPARE(c->db(), QStringLiteral("wrapt_missing"));
        QCOMPARE(firstValue(*c, QStringLiteral("SELECT DATABASE()")), QStringLiteral("wrapt"));
        QVERIFY(messages.messages().isEmpty());

        // The reconnect asks for the stored name and fails with its own message only.
        QVERIFY(killFromOutside(*c));
        QVERIFY(!c->query(QStringLiteral("SELECT 1")));
        QCOMPARE(messages.messageTexts(),
                 QStringList{QStringLiteral("Error 1049 Unknown database 'wrapt_missing'\r\n\r\n") + kShortExplanation.arg("localhost")});
    }

    void reconnectFailureIsSilentWithNoErrMsg()
    {
        auto c = connected(QStringLiteral("wrapt"), true);
        QVERIFY(c);
        c->setPassword(QStringLiteral("wrong"));
        QVERIFY(killFromOutside(*c));
        QVERIFY(!c->query(QStringLiteral("SELECT 1")));
        QVERIFY(messages.messages().isEmpty());
        QCOMPARE(c->err_no(), 1045);
        // The statement failed: no count, although the new record has none of its own.
        QCOMPARE(c->affected_rows(), -1);
    }

    void reconnectGoesToPort3306()
    {
        // The first connect names the test server's port as the port argument; the reconnect
        // asks for 3306 instead, where the test server is not.
        if (TestServer::port() == 3306)
            QSKIP("the test server is on port 3306 (\"localhost\" is TCP port 3306 on Windows)");
        cMySQL c;
        QVERIFY(c.real_connect(QStringLiteral("127.0.0.1"), QStringLiteral("root"), kPassword, QString(),
                               TestServer::port(), QString(), 0, true));
        QCOMPARE(c.port(), TestServer::port());
        QVERIFY(killFromOutside(c));
        QVERIFY(!c.query(QStringLiteral("SELECT 1")));
        QVERIFY(messages.messages().isEmpty());
        QVERIFY(c.err_no() != 0);
        QCOMPARE(c.affected_rows(), -1);
        QCOMPARE(c.port(), TestServer::port());
    }

    // --- information, commands and listings --------------------------------------------------

    void information()
    {
        auto c = connected();
        QVERIFY(c);
        const QVariant server = c->get_server_info();
        QCOMPARE(server.typeId(), QMetaType::QString);
        QVERIFY2(server.toString().contains(QStringLiteral("MariaDB")), qPrintable(server.toString()));
        QCOMPARE(server.toString(), TestServer::value(QStringLiteral("SELECT VERSION()")));
        QCOMPARE(c->get_proto_info(), QStringLiteral("10"));
        QCOMPARE(c->get_host_info(), TestServer::localHostInfo());
        QVERIFY(!c->get_client_info().isEmpty());
        QVERIFY(c->stat().startsWith(QStringLiteral("Uptime: ")));
        QCOMPARE(QString::number(c->thread_id()), firstValue(*c, QStringLiteral("SELECT CONNECTION_ID()")));
        QCOMPARE(c->thread_safe(), 1);
    }

    void commands()
    {
        auto c = connected();
        QVERIFY(c);
        c->ping();
        c->Refresh(4);  // close all tables
        c->dump_debug_info();
        c->create_db(QStringLiteral("wrapt_new`이름"));
        QCOMPARE(TestServer::rows(QStringLiteral("SHOW DATABASES LIKE 'wrapt\\_new`이름'")),
                 QStringList{QStringLiteral("wrapt_new`이름")});
        const RaisedError again = raisedBy([&] { c->create_db(QStringLiteral("wrapt_new`이름")); });
        QCOMPARE(again.Number, 1007);
        QCOMPARE(again.Source, QStringLiteral("cMysql::create_db"));
        QCOMPARE(again.Description, QStringLiteral("Can't create database 'wrapt_new`이름'; database exists"));

        const RaisedError bad = raisedBy([&] { c->real_query(QStringLiteral("SELEC"), 5); });
        QCOMPARE(bad.Number, 1064);
        QCOMPARE(bad.Source, QStringLiteral("cMysql::real_query"));
        c->Kill(2147483000);
        QCOMPARE(c->err_no(), 1094);
        QVERIFY(messages.messages().isEmpty());
        QVERIFY(TestServer::exec(QStringLiteral("DROP DATABASE `wrapt_new``이름`")).isEmpty());
    }

    void escapeString_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<qint32>("length");
        QTest::addColumn<QString>("to");
        QTest::newRow("quote") << "it's" << 4 << "it\\'s";
        QTest::newRow("part of the text") << "abcdef" << 3 << "abc";
        QTest::newRow("length beyond the text") << "ab" << 50 << "ab";
        QTest::newRow("korean, bytes") << QStringLiteral("한'글") << 7 << QStringLiteral("한\\'글");
        QTest::newRow("blanks kept") << " a\\b " << 6 << " a\\\\b ";
    }
    void escapeString()
    {
        QFETCH(QString, from);
        QFETCH(qint32, length);
        QFETCH(QString, to);
        cMySQL c;
        QString out = QStringLiteral("old");
        c.escape_string(out, from, length);
        QCOMPARE(out, to);
    }

    void listings()
    {
        auto c = connected(QStringLiteral("wrapt"));
        QVERIFY(c);
        std::unique_ptr<Recordset> none = c->list_dbs(QStringLiteral("wrapt\\_nomatch%"));
        QVERIFY(isOpenAndEmpty(none.get()));

        std::unique_ptr<Recordset> dbs = c->list_dbs(QStringLiteral("wrapt%"));
        QVERIFY(dbs);
        QCOMPARE(sortedColumn(*dbs, 0), (QStringList{"wrapt", "wrapt_other"}));

        std::unique_ptr<Recordset> fields = c->list_fields(QStringLiteral("a"), QString());
        QVERIFY(fields);
        QCOMPARE(fields->fieldNames(), (QStringList{"id", "name", "memo"}));
        QCOMPARE(fields->RecordCount(), 0);
        fields = c->list_fields(QStringLiteral("a"), QStringLiteral("n%"));
        QVERIFY(fields);
        QCOMPARE(fields->fieldNames(), QStringList{"name"});

        std::unique_ptr<Recordset> tables = c->list_tables(QString());
        QVERIFY(tables);
        QCOMPARE(sortedColumn(*tables, 0), (QStringList{"a", "b", "c", "counter", QStringLiteral("한글표")}));
        tables = c->list_tables(QStringLiteral("c%"));
        QVERIFY(tables);
        QCOMPARE(sortedColumn(*tables, 0), (QStringList{"c", "counter"}));

        std::unique_ptr<Recordset> processes = c->list_processes();
        QVERIFY(processes);
        QVERIFY(column(*processes, processes->fieldIndex(QStringLiteral("Id")))
                    .contains(QString::number(c->thread_id())));
        QVERIFY(messages.messages().isEmpty());
    }

    void listingsWithoutConnection()
    {
        cMySQL c;
        QVERIFY(!c.list_dbs(QString()));
        QVERIFY(!c.list_tables(QString()));
        QVERIFY(!c.list_processes());
        QVERIFY(!c.list_fields(QStringLiteral("a"), QString()));
        QVERIFY(messages.messages().isEmpty());
    }

    void raisedWithoutConnection_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("source");
        QTest::addColumn<qint32>("number");
        // Calls that go to the server find it gone; getters report the failed connect.
        QTest::newRow("create_db") << "create_db" << "cMysql::create_db" << 2006;
        QTest::newRow("dump_debug_info") << "dump_debug_info" << "cMysql::dump_debug_info" << 2006;
        QTest::newRow("ping") << "ping" << "cMysql::ping" << 2006;
        QTest::newRow("Refresh") << "Refresh" << "cMysql::refresh" << 2006;
        QTest::newRow("select_db") << "select_db" << "cMysql::select_db" << 2006;
        QTest::newRow("shutdown") << "shutdown" << "cMysql::shutdown" << 2006;
        QTest::newRow("stat") << "stat" << "cMysql::stat" << 2006;
        QTest::newRow("real_query") << "real_query" << "cMysql::real_query" << 2006;
        QTest::newRow("get_host_info") << "get_host_info" << "cMysql::get_host_info" << 2002;
        QTest::newRow("get_proto_info") << "get_proto_info" << "cMysql::get_proto_info" << 2002;
        QTest::newRow("get_server_info") << "get_server_info" << "cMysql::get_server_info" << 2002;
        QTest::newRow("info") << "info" << "cMysql::info" << 2002;
        QTest::newRow("thread_id") << "thread_id" << "cMysql::thread_id" << 2002;
    }
    void raisedWithoutConnection()
    {
        QFETCH(QString, operation);
        QFETCH(QString, source);
        QFETCH(qint32, number);
        const std::map<QString, std::function<void(cMySQL &)>> calls{
            {"create_db", [](cMySQL &c) { c.create_db(QStringLiteral("wrapt_never")); }},
            {"dump_debug_info", [](cMySQL &c) { c.dump_debug_info(); }},
            {"ping", [](cMySQL &c) { c.ping(); }},
            {"Refresh", [](cMySQL &c) { c.Refresh(4); }},
            {"select_db", [](cMySQL &c) { c.select_db(QStringLiteral("wrapt")); }},
            {"shutdown", [](cMySQL &c) { c.shutdown(); }},
            {"stat", [](cMySQL &c) { c.stat(); }},
            {"real_query", [](cMySQL &c) { c.real_query(QStringLiteral("SELECT 1"), 8); }},
            {"get_host_info", [](cMySQL &c) { c.get_host_info(); }},
            {"get_proto_info", [](cMySQL &c) { c.get_proto_info(); }},
            {"get_server_info", [](cMySQL &c) { c.get_server_info(); }},
            {"info", [](cMySQL &c) { c.info(); }},
            {"thread_id", [](cMySQL &c) { c.thread_id(); }},
        };
        cMySQL c;
        QVERIFY(!c.real_connect(QStringLiteral("127.0.0.1"), QStringLiteral("root"), kPassword, QString(),
                                unusedPort(), QString(), 0, true));
        const RaisedError e = raisedBy([&] { calls.at(operation)(c); });
        QCOMPARE(e.Source, source);
        QCOMPARE(e.Number, number);
        QCOMPARE(e.Number, c.err_no());
        QCOMPARE(e.Description, c.err_description());
        QVERIFY(messages.messages().isEmpty());
    }

    void gettersBeforeAnyConnectHaveNothingToReport()
    {
        cMySQL c;
        QCOMPARE(c.get_host_info(), QString());
        QCOMPARE(c.thread_id(), 0);
        QCOMPARE(c.err_no(), 0);
        QCOMPARE(c.err_description(), QString());
    }
};

QTEST_GUILESS_MAIN(TestCMySQL)
#include "test_cmysql.moc"
