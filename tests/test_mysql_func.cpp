#include "ProgramInfo.h"
#include "WrapperTestSupport.h"
#include "RecordingMessenger.h"
#include "TestServer.h"
#include "modMySQL_Func_lite.h"

#include <QElapsedTimer>
#include <QTest>

#include <thread>

#include <map>

using namespace velmar;
using namespace velmar::test;

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(velmar::Answer)

namespace {

const QString kPassword = QStringLiteral("wexrolp");

bool connectLocal()
{
    return DBInit(QStringLiteral("localhost"), QStringLiteral("root"), kPassword, QString());
}

QString mdacQuestion(const QString &version)
{
    return QStringLiteral("MDAC(Microsoft Data Access Components)가 설치 되어 있지 않거나 버전이 낮습니다.(현재Ver:")
           + version
           + QStringLiteral(")\r\n당사 홈페이지 자료실 8번[데이타전송/임대회원용 설치파일]에서 다운로드하여 설치하세요.\r\n"
                            "지금 다운로드 하시겠습니까?");
}

// The first value of the statement's first row through the shared connection.
QString sharedValue(const QString &sql)
{
    std::unique_ptr<Recordset> rs;
    OpenRecordset(rs, sql);
    const QString v = rs && rs->RecordCount() > 0 ? rs->value(0) : QStringLiteral("<no row>");
    CloseRecordset(rs);
    return v;
}

// Whatever an interrupted earlier run left behind.
void dropTestDatabases()
{
    const QStringList names =
        TestServer::rows(QStringLiteral("SELECT SCHEMA_NAME FROM information_schema.SCHEMATA WHERE SCHEMA_NAME LIKE 'wrapf%'"));
    for (QString name : names)
        TestServer::exec(QStringLiteral("DROP DATABASE `") + name.replace(u'`', QStringLiteral("``")) + u'`');
}

bool databaseExists(const QString &name)
{
    return TestServer::rows(QStringLiteral("SELECT SCHEMA_NAME FROM information_schema.SCHEMATA")).contains(name);
}

}  // namespace

class TestMysqlFunc : public QObject {
    Q_OBJECT

    RecordingMessenger messages;

private slots:
    void initTestCase()
    {
        VELMAR_REQUIRE_SERVER();
        TestServer::exportEnvironment();
        dropTestDatabases();
    }

    void init()
    {
        messages.reset();
        setMDACVersionForTesting(std::nullopt);
    }

    void cleanup()
    {
        if (sharedConnection())
            DBClose();
    }

    // A statement waiting on the server ends as soon as another thread cancels the shared
    // connection, silently; nothing later runs on it.
    void cancelEndsAWaitingStatement()
    {
        QVERIFY(connectLocal());
        std::thread canceller([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            CancelSharedConnection();
        });
        QElapsedTimer t;
        t.start();
        QCOMPARE(ExecuteSQL(QStringLiteral("SELECT SLEEP(30)")), -1);
        canceller.join();
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(ExecuteSQL(QStringLiteral("SELECT 1")), -1);
        QVERIFY(messages.messages().isEmpty());
    }

    // --- DBInit and DBClose ------------------------------------------------------------------

    void dataAccessVersion_data()
    {
        QTest::addColumn<std::optional<QString>>("version");
        QTest::addColumn<bool>("passes");
        QTest::newRow("the record sets' own") << std::optional<QString>() << true;
        QTest::newRow("2.0") << std::optional<QString>("2.0") << true;
        QTest::newRow("2.81.1117.0") << std::optional<QString>("2.81.1117.0") << true;
        QTest::newRow("10.0") << std::optional<QString>("10.0") << true;
        QTest::newRow("6.0.6001") << std::optional<QString>("6.0.6001") << true;
        QTest::newRow("blanks skipped") << std::optional<QString>(" 2 .5") << true;
        QTest::newRow("1.5") << std::optional<QString>("1.5") << false;
        QTest::newRow("1.99 reads 1.9") << std::optional<QString>("1.99") << false;
        QTest::newRow("empty") << std::optional<QString>("") << false;
        QTest::newRow("abc") << std::optional<QString>("abc") << false;
        QTest::newRow("v2.8") << std::optional<QString>("v2.8") << false;
        QTest::newRow("exponent 1e1 reads 10") << std::optional<QString>("1e1") << true;
        QTest::newRow("line feed skipped") << std::optional<QString>("\n2.8") << true;
        QTest::newRow("&H2 reads 2") << std::optional<QString>("&H2") << true;
    }
    void dataAccessVersion()
    {
        QFETCH(std::optional<QString>, version);
        QFETCH(bool, passes);
        setMDACVersionForTesting(version);
        messages.answer({Answer::No});
        QCOMPARE(connectLocal(), passes);
        QCOMPARE(sharedConnection() != nullptr, passes);
        if (passes) {
            QVERIFY(messages.messages().isEmpty());
            return;
        }
        const QList<Message> shown = messages.messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, mdacQuestion(*version));
        QCOMPARE(shown[0].title, QStringLiteral("MDAC누락"));
        QCOMPARE(shown[0].icon, Icon::Question);
        QCOMPARE(shown[0].buttons, Buttons::YesNo);
        QCOMPARE(shown[0].defaultButton, Answer::Yes);
    }

    void dataAccessDownload_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("yes") << Answer::Yes
                             << QStringList{makerServer()
                                            + QStringLiteral("/inc/download.php?type=etc_store&filename=mdac.EXE")};
        QTest::newRow("no") << Answer::No << QStringList{};
    }
    void dataAccessDownload()
    {
        QFETCH(Answer, answer);
        QFETCH(QStringList, opened);
        setMDACVersionForTesting(QStringLiteral("1.5"));
        messages.answer({answer});
        QVERIFY(!connectLocal());
        QCOMPARE(messages.openedUrls(), opened);
        QVERIFY(!sharedConnection());
    }

    void dbInitTwiceClosesTheFirstConnection()
    {
        QVERIFY(connectLocal());
        const qint32 first = sharedConnection()->thread_id();
        QVERIFY(connectLocal());
        const qint32 second = sharedConnection()->thread_id();
        QVERIFY(first != second);
        QVERIFY(waitUntilGone(first));
        QVERIFY(threadExists(second));
        QVERIFY(messages.messages().isEmpty());
    }

    void dbInitFailureShowsTheMessage()
    {
        QVERIFY(connectLocal());
        const qint32 earlier = sharedConnection()->thread_id();
        QVERIFY(!DBInit(QStringLiteral("localhost"), QStringLiteral("root"), QStringLiteral("wrong"), QString()));
        QVERIFY(!sharedConnection());
        QCOMPARE(messages.messageTexts(),
                 QStringList{"Error 1045 Access denied for user 'root'@'" + TestServer::localAccountHost()
                             + "' (using password: YES)\r\n\r\n데이터베이스 서버(localhost)에 접속할 수 없습니다."});
        QVERIFY(waitUntilGone(earlier));
    }

    void dbInitConnectsWithTheGivenDatabase()
    {
        QVERIFY(DBInit(QStringLiteral("localhost"), QStringLiteral("root"), kPassword, QStringLiteral("mysql")));
        QCOMPARE(sharedValue(QStringLiteral("SELECT DATABASE()")), QStringLiteral("mysql"));
        QCOMPARE(sharedConnection()->port(), 0);
        QCOMPARE(sharedConnection()->unix_socket(), QString());
    }

    void dbCloseEndsTheConnection()
    {
        QVERIFY(connectLocal());
        const qint32 id = sharedConnection()->thread_id();
        DBClose();
        QVERIFY(!sharedConnection());
        QVERIFY(waitUntilGone(id));
    }

    void withoutSharedConnection_data()
    {
        QTest::addColumn<QString>("procedure");
        QTest::newRow("ExecuteSQL") << "ExecuteSQL";
        QTest::newRow("OpenRecordset") << "OpenRecordset";
        QTest::newRow("DropDatabase") << "DropDatabase";
        QTest::newRow("DBClose") << "DBClose";
    }
    void withoutSharedConnection()
    {
        QFETCH(QString, procedure);
        const std::map<QString, std::function<void()>> calls{
            {"ExecuteSQL", [] { ExecuteSQL(QStringLiteral("SELECT 1")); }},
            {"OpenRecordset", [] {
                 std::unique_ptr<Recordset> rs;
                 OpenRecordset(rs, QStringLiteral("SELECT 1"));
             }},
            {"DropDatabase", [] { DropDatabase(QStringLiteral("wrapf_none")); }},
            {"DBClose", [] { DBClose(); }},
        };
        QVERIFY(!sharedConnection());
        const RaisedError e = raisedBy(calls.at(procedure));
        QCOMPARE(e.Number, 91);
        QCOMPARE(e.Description, QStringLiteral("Object variable or With block variable not set"));
        QVERIFY(messages.messages().isEmpty());
    }

    // --- statements --------------------------------------------------------------------------

    void executeSqlCounts()
    {
        QVERIFY(connectLocal());
        const std::pair<QString, qint32> steps[] = {
            {QStringLiteral("CREATE DATABASE wrapf"), 1},
            {QStringLiteral("CREATE TABLE wrapf.t (id INT PRIMARY KEY, v VARCHAR(10))"), 0},
            {QStringLiteral("INSERT INTO wrapf.t VALUES (1, 'a'), (2, 'b'), (3, 'c')"), 3},
            {QStringLiteral("UPDATE wrapf.t SET v = 'x' WHERE id >= 2"), 2},
            {QStringLiteral("SELECT * FROM wrapf.t"), 3},
            {QStringLiteral("DELETE FROM wrapf.t WHERE id = 1"), 1},
            {QStringLiteral("SET @a = 1"), 0},
            {QStringLiteral("INSERT INTO wrapf.t VALUES (2, 'dup')"), -1},
            {QStringLiteral("DROP DATABASE wrapf"), 1},
        };
        for (const auto &[sql, count] : steps)
            QCOMPARE(ExecuteSQL(sql), count);
        QCOMPARE(messages.messageTexts(),
                 QStringList{QStringLiteral("Error 1062 (Duplicate entry '2' for key 'PRIMARY')")});
    }

    void openRecordset()
    {
        QVERIFY(connectLocal());
        std::unique_ptr<Recordset> rs;
        QCOMPARE(OpenRecordset(rs, QStringLiteral("SET @b = 2")), 0);
        QVERIFY(!rs);
        CloseRecordset(rs);
        QVERIFY(!rs);

        QCOMPARE(OpenRecordset(rs, QStringLiteral("SELECT 'x' AS k UNION ALL SELECT 'y' UNION ALL SELECT @b")), 3);
        QVERIFY(rs);
        QCOMPARE(rs->State(), Recordset::adStateOpen);
        QCOMPARE(rs->value(QStringLiteral("k")), QStringLiteral("x"));
        QCOMPARE(rs->RecordCount(), 3);
        CloseRecordset(rs);
        QVERIFY(!rs);

        QCOMPARE(OpenRecordset(rs, QStringLiteral("SELECT * FROM wrapf_missing.t")), -1);
        QVERIFY(!rs);
        QCOMPARE(messages.messageTexts(),
                 QStringList{QStringLiteral("Error 1146 (Table 'wrapf_missing.t' doesn't exist)")});
    }

    void failedReconnectCountsAsFailure()
    {
        // The connection is lost and cannot come back (the stored password no longer works):
        // both procedures must report the failure, not a count of 0.
        QVERIFY(connectLocal());
        cMySQL *c = sharedConnection();
        c->setPassword(QStringLiteral("wrong"));
        const qint32 id = c->thread_id();
        QVERIFY(TestServer::exec(QStringLiteral("KILL ") + QString::number(id)).isEmpty());
        QVERIFY(waitUntilGone(id));
        QCOMPARE(ExecuteSQL(QStringLiteral("CREATE DATABASE wrapf_never")), -1);
        std::unique_ptr<Recordset> rs;
        QCOMPARE(OpenRecordset(rs, QStringLiteral("SHOW DATABASES")), -1);
        QVERIFY(!rs);
        QCOMPARE(messages.messageTexts().size(), 2);
        QVERIFY(messages.messageTexts().first().startsWith(QStringLiteral("Error 1045 ")));
    }

    void closeRecordsetReleasesAClosedOne()
    {
        auto rs = std::make_unique<Recordset>();
        CloseRecordset(rs);
        QVERIFY(!rs);
    }

    void koreanRoundTrip()
    {
        QVERIFY(connectLocal());
        const QString text = QStringLiteral("가나다 라마 ✓");
        QCOMPARE(ExecuteSQL(QStringLiteral("CREATE DATABASE `wrapf_한글`")), 1);
        QCOMPARE(ExecuteSQL(QStringLiteral("CREATE TABLE `wrapf_한글`.`표` (`열` VARCHAR(30))")), 0);
        QCOMPARE(ExecuteSQL(QStringLiteral("INSERT INTO `wrapf_한글`.`표` VALUES (") + quoteString(text)
                            + u')'),
                 1);
        QCOMPARE(sharedValue(QStringLiteral("SELECT `열` FROM `wrapf_한글`.`표`")), text);
        QCOMPARE(TestServer::value(QStringLiteral("SELECT `열` FROM `wrapf_한글`.`표`")), text);
        DropDatabase(QStringLiteral("wrapf_한글"));
        QVERIFY(messages.messages().isEmpty());
    }

    // --- dropping databases ------------------------------------------------------------------

    void dropMissingDatabase()
    {
        QVERIFY(connectLocal());
        ExecuteSQL(QStringLiteral("SET FOREIGN_KEY_CHECKS=0"));
        DropDatabase(QStringLiteral("wrapf_missing"));
        QCOMPARE(messages.messageTexts(),
                 QStringList{QStringLiteral("Error 1008 (Can't drop database 'wrapf_missing'; database doesn't exist)")});
        // The last statement ran after the failed one.
        QCOMPARE(sharedValue(QStringLiteral("SELECT @@foreign_key_checks")), QStringLiteral("1"));
    }

    void dropReferencedDatabase()
    {
        // A table elsewhere refers to it: only with foreign-key checks off can it go.
        QVERIFY(TestServer::exec(QStringLiteral(
                                     "CREATE DATABASE wrapf_parent; CREATE DATABASE wrapf_child;"
                                     "CREATE TABLE wrapf_parent.p (id INT PRIMARY KEY) ENGINE=InnoDB;"
                                     "CREATE TABLE wrapf_child.c (id INT, FOREIGN KEY (id) REFERENCES "
                                     "wrapf_parent.p (id)) ENGINE=InnoDB;"))
                    .isEmpty());
        QVERIFY(connectLocal());
        DropDatabase(QStringLiteral("wrapf_parent"));
        QVERIFY(messages.messages().isEmpty());
        QVERIFY(!databaseExists(QStringLiteral("wrapf_parent")));
        QCOMPARE(sharedValue(QStringLiteral("SELECT @@foreign_key_checks")), QStringLiteral("1"));
        DropDatabase(QStringLiteral("wrapf_child"));
        QVERIFY(!databaseExists(QStringLiteral("wrapf_child")));
    }

    void awkwardNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("lookalike");  // what an unescaped pattern would match as well
        QTest::newRow("backtick, quote, korean") << QStringLiteral("wrapf_we`ird'이름") << QString();
        QTest::newRow("underscore") << "wrapf_a_b" << "wrapf_aXb";
        QTest::newRow("percent") << "wrapf_a%b" << "wrapf_aXYZb";
        QTest::newRow("backslash") << "wrapf_a\\b" << "wrapf_ab";
        QTest::newRow("statement inside") << "wrapf_x`; DROP DATABASE wrapf_keep; --" << QString();
    }
    void awkwardNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, lookalike);
        QVERIFY(TestServer::exec(QStringLiteral("CREATE DATABASE IF NOT EXISTS wrapf_keep")).isEmpty());
        QVERIFY(connectLocal());
        if (!lookalike.isEmpty())
            QCOMPARE(ExecuteSQL(QStringLiteral("CREATE DATABASE ") + quoteIdentifier(lookalike)), 1);
        QCOMPARE(ExecuteSQL(QStringLiteral("CREATE DATABASE ") + quoteIdentifier(name)), 1);
        QVERIFY(databaseExists(name));

        const QString find = QStringLiteral("SHOW DATABASES LIKE ") + quoteString(escapeLikePattern(name));
        std::unique_ptr<Recordset> rs;
        QCOMPARE(OpenRecordset(rs, find), 1);
        QVERIFY(rs);
        QCOMPARE(rs->value(0), name);
        CloseRecordset(rs);

        DropDatabase(name);
        QVERIFY(messages.messages().isEmpty());
        QVERIFY(!databaseExists(name));
        QCOMPARE(OpenRecordset(rs, find), 0);
        QVERIFY(databaseExists(QStringLiteral("wrapf_keep")));
        if (!lookalike.isEmpty()) {
            QVERIFY(databaseExists(lookalike));
            DropDatabase(lookalike);
        }
        QVERIFY(messages.messages().isEmpty());
    }

    void cleanupTestCase() { dropTestDatabases(); }
};

QTEST_GUILESS_MAIN(TestMysqlFunc)
#include "test_mysql_func.moc"
