// Copies whose dump comes from another kind or version of server: what the local MariaDB lacks is
// adapted in the load, said in the log, and the copy's objects are tried before "복사완료".
// MySQL 8's output, which no server here writes, comes from a file with its dump program's exact
// statements; the rest comes from the test server, which is both the source and the local server
// (a definer that exists only on the source is one that exists nowhere: made, used, dropped).
#include "CopyJob.h"
#include "JobFixture.h"
#include "RecordingMessenger.h"
#include "TestFiles.h"
#include "TestServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;
using namespace velmar::test;

namespace {

using Outcome = CopyOutcome;

}  // namespace

class TestCrossServer : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_work;

    QString dumpDir() const { return m_work + "/dump"; }

private slots:
    void initTestCase()
    {
        VELMAR_REQUIRE_SERVER();
        TestServer::exportEnvironment();
    }

    void init()
    {
        m_work = m_dir.path() + "/work " + QString::fromLatin1(QTest::currentTestFunction());
        QVERIFY(QDir().mkpath(dumpDir()));
    }

    // MySQL 8's dump, loaded by an import-only copy into a new name while a database of the
    // source's name exists here: every line MariaDB refuses is adapted, each change said once.
    void mysql8DumpLoadsOnMariadb()
    {
        QFile::remove(dumpDir() + "/pelsar_m8_2.sql");
        QVERIFY(QFile::copy(QStringLiteral(VELMAR_TEST_DATA_DIR "/mysql8_dump.sql"), dumpDir() + "/pelsar_m8_2.sql"));
        JobFixture::exec("DROP DATABASE IF EXISTS pelsar_m8_dev; DROP DATABASE IF EXISTS pelsar_m8; CREATE DATABASE pelsar_m8;"
             "CREATE TABLE pelsar_m8.t (id INT PRIMARY KEY, name VARCHAR(20)); INSERT INTO pelsar_m8.t VALUES (1, 'original')");
        const QString gtidBefore = TestServer::value("SELECT @@GLOBAL.gtid_slave_pos");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "m8", "pelsar_m8_dev");
        r.newUser = "m8dev";
        r.stage[0] = false;
        const Outcome o = JobFixture::run(r);
        QVERIFY2(o.copied, qPrintable(o.messages.join('\n') + '\n' + o.log.join('\n')));
        const QStringList said{
            QStringLiteral("적응: SET @@GLOBAL.GTID_PURGED 문장 1개를 보내지 않았습니다."),
            QStringLiteral("적응: SQL_LOG_BIN 문장 3개를 보내지 않았습니다."),
            QStringLiteral("적응: 로컬 서버에 없는 콜레이션을 바꿨습니다 (문장 3개): utf8mb4_0900_ai_ci -> "
                           "utf8mb4_uca1400_ai_ci, utf8mb4_0900_as_cs -> utf8mb4_uca1400_as_cs"),
            QStringLiteral("적응: MySQL 8의 INVISIBLE 열을 MariaDB의 INVISIBLE 열로 만들었습니다 (문장 1개)."),
            QStringLiteral("적응: 개체 본문의 DB 이름 pelsar_m8을 pelsar_m8_dev(으)로 바꿨습니다 (문장 2개)."),
            QStringLiteral("적응: 로컬에 없는 정의자를 `m8dev`@`%`(으)로 바꿨습니다 (문장 2개): `app`@`%`")};
        const qsizetype first = o.log.indexOf(said.first());
        QVERIFY2(first > 0, qPrintable(o.log.join('\n')));
        QCOMPARE(o.log.mid(first, said.size()), said);
        QVERIFY(o.log.value(first - 1).startsWith(QStringLiteral("로컬 서버: ") + TestServer::value("SELECT VERSION()")));
        QCOMPARE(TestServer::rows("SELECT TABLE_COLLATION FROM information_schema.TABLES WHERE TABLE_SCHEMA = 'pelsar_m8_dev' "
                                  "AND TABLE_NAME = 't'"),
                 QStringList{"utf8mb4_uca1400_ai_ci"});
        QCOMPARE(TestServer::rows("SELECT COLUMN_NAME, COLLATION_NAME, EXTRA FROM information_schema.COLUMNS WHERE "
                                  "TABLE_SCHEMA = 'pelsar_m8_dev' AND TABLE_NAME = 't' ORDER BY ORDINAL_POSITION"),
                 QStringList({"id\tNULL\tauto_increment", "name\tutf8mb4_uca1400_as_cs\t", "note\tutf8mb4_uca1400_ai_ci\tINVISIBLE"}));
        // The view and the procedure read the copy, not the database of the source's name.
        QCOMPARE(TestServer::rows("SELECT name FROM pelsar_m8_dev.v ORDER BY id"), QStringList({"copy", "copy"}));
        QCOMPARE(TestServer::rows("SELECT DEFINER FROM information_schema.VIEWS WHERE TABLE_SCHEMA = 'pelsar_m8_dev' "
                                  "UNION ALL SELECT DEFINER FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = 'pelsar_m8_dev'"),
                 QStringList({"m8dev@%", "m8dev@%"}));
        QCOMPARE(TestServer::value("SELECT ROUTINE_DEFINITION FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = "
                                   "'pelsar_m8_dev'"),
                 QString("select count(*) from `pelsar_m8_dev`.t"));
        QCOMPARE(TestServer::value("SELECT @@GLOBAL.gtid_slave_pos"), gtidBefore);
        QCOMPARE(o.messages, QStringList{"복사완료"});
        // The file stays as written.
        QCOMPARE(fileContent(dumpDir() + "/pelsar_m8_2.sql"), fileContent(QStringLiteral(VELMAR_TEST_DATA_DIR "/mysql8_dump.sql")));
        JobFixture::exec("DROP DATABASE pelsar_m8_dev; DROP DATABASE pelsar_m8");
        JobFixture::dropUser("m8dev");
    }

    void definerOnlyOnSource_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("planned");
        QTest::addColumn<QString>("definer");
        QTest::newRow("rewritten to the granted account")
            << int(CopyRequest::Definers::Rewrite) << QStringLiteral("적응 예정: 정의자 'ghost'@'%' -> `dfdev`@`%`")
            << "dfdev@%";
        QTest::newRow("made locally, locked")
            << int(CopyRequest::Definers::CreateLocked)
            << QStringLiteral("적응 예정: 정의자 'ghost'@'%'을(를) 로컬에 잠긴 계정으로 만듭니다.") << "ghost@%";
    }
    // A whole copy (dump, load, grants) into a new name beside the source: the pre-flight names
    // the definer the local server lacks, the load adapts it and the view's own database, and the
    // check after the copy finds the objects working.
    void definerOnlyOnSource()
    {
        QFETCH(int, mode);
        QFETCH(QString, planned);
        QFETCH(QString, definer);
        JobFixture::exec("DROP USER IF EXISTS 'ghost'@'%'; DROP DATABASE IF EXISTS pelsar_dfx_dev; DROP DATABASE IF EXISTS pelsar_dfx;"
             "CREATE DATABASE pelsar_dfx; USE pelsar_dfx; CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20));"
             "INSERT INTO t VALUES (1, 'source'); CREATE USER 'ghost'@'%';"
             "CREATE DEFINER='ghost'@'%' SQL SECURITY DEFINER VIEW v AS SELECT pelsar_dfx.t.name FROM pelsar_dfx.t;"
             "CREATE DEFINER='ghost'@'%' PROCEDURE p() SELECT name FROM pelsar_dfx.t; DROP USER 'ghost'@'%'");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "dfx", "pelsar_dfx_dev");
        r.dumpOption = "-q -e -R";
        r.newUser = "dfdev";
        r.definers = CopyRequest::Definers(mode);
        // One server is both sides: the definer is missing while the pre-flight reads the local
        // accounts, there while the dump program reads the source, and gone again once the load is in.
        int checks = 0;
        const Outcome o = JobFixture::run(r, [&checks](CopyJob &job) {
            QObject::connect(&job, &CopyJob::stageStarted, &job, [&checks](CopyStage s) {
                if (s == CopyStage::CheckTarget && ++checks == 2)
                    TestServer::exec("CREATE USER 'ghost'@'%'");
                if (s == CopyStage::Grants)
                    TestServer::exec("DROP USER 'ghost'@'%'");
            }, Qt::DirectConnection);
        });
        QVERIFY2(o.copied, qPrintable(o.messages.join('\n') + '\n' + o.log.join('\n')));
        QVERIFY2(o.log.contains(planned), qPrintable(o.log.join('\n')));
        QVERIFY(o.log.indexOf(planned) < o.log.indexOf("Dump..."));
        JobFixture::exec("UPDATE pelsar_dfx_dev.t SET name = 'copy'");
        QCOMPARE(TestServer::rows("SELECT name FROM pelsar_dfx_dev.v"), QStringList{"copy"});
        QCOMPARE(TestServer::rows("SELECT DEFINER FROM information_schema.VIEWS WHERE TABLE_SCHEMA = 'pelsar_dfx_dev' "
                                  "UNION ALL SELECT DEFINER FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = 'pelsar_dfx_dev'"),
                 QStringList({definer, definer}));
        QCOMPARE(TestServer::rows("SELECT JSON_VALUE(Priv, '$.account_locked') FROM mysql.global_priv WHERE User = 'ghost'"),
                 mode == int(CopyRequest::Definers::CreateLocked) ? QStringList{"1"} : QStringList());
        QCOMPARE(o.messages, QStringList{"복사완료"});
        JobFixture::exec("DROP USER IF EXISTS 'ghost'@'%'; DROP DATABASE pelsar_dfx_dev; DROP DATABASE pelsar_dfx");
        JobFixture::dropUser("dfdev");
    }

    // A file only the mysql client can load (it holds a client command) reaches the client as a
    // copy with the load's changes; the dump file stays as it was.
    void clientLoadsAdaptedCopy()
    {
        JobFixture::exec("DROP DATABASE IF EXISTS pelsar_cl_dev");
        const QByteArray dump = "SET @@GLOBAL.GTID_PURGED=/*!80000 '+'*/ '3e11fa47-71ca-11e1-9e33-c80aa9429562:1-5';\n"
                                "SET @@SESSION.SQL_LOG_BIN= 0;\n"
                                "charset utf8mb4\n"
                                "CREATE TABLE `t` (`id` int, `s` varchar(5)) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 "
                                "COLLATE=utf8mb4_0900_ai_ci;\n"
                                "INSERT INTO `t` VALUES (1,'a;b');\n"
                                "DELIMITER ;;\n"
                                "CREATE DEFINER=`app`@`%` PROCEDURE `p`()\nbegin select count(*) from pelsar_cl.t; end ;;\n"
                                "DELIMITER ;\n";
        writeFile(dumpDir() + "/pelsar_cl_2.sql", dump);
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "cl", "pelsar_cl_dev");
        r.stage[0] = r.stage[2] = false;
        const Outcome o = JobFixture::run(r);
        QVERIFY2(o.copied, qPrintable(o.messages.join('\n') + '\n' + o.log.join('\n')));
        QVERIFY2(o.log.contains(QStringLiteral("mysql 클라이언트에는 로컬 서버에 맞춘 사본을 줍니다: ")
                                + QDir::toNativeSeparators(dumpDir() + "/pelsar_cl_2.sql.client")),
                 qPrintable(o.log.join('\n')));
        QCOMPARE(TestServer::rows("SELECT TABLE_COLLATION FROM information_schema.TABLES WHERE TABLE_SCHEMA = 'pelsar_cl_dev'"),
                 QStringList{"utf8mb4_uca1400_ai_ci"});
        QCOMPARE(TestServer::rows("SELECT s FROM pelsar_cl_dev.t"), QStringList{"a;b"});
        QCOMPARE(TestServer::rows("SELECT DEFINER, ROUTINE_DEFINITION FROM information_schema.ROUTINES WHERE "
                                  "ROUTINE_SCHEMA = 'pelsar_cl_dev'"),
                 QStringList{"root@localhost\tbegin select count(*) from `pelsar_cl_dev`.t; end"});
        QCOMPARE(fileContent(dumpDir() + "/pelsar_cl_2.sql"), dump);
        QVERIFY(!QFile::exists(dumpDir() + "/pelsar_cl_2.sql.client"));
        JobFixture::exec("DROP DATABASE pelsar_cl_dev");
    }

    // A view that no longer works once the copy is in is named, and the copy does not end in
    // "복사완료".
    void brokenViewStopsCopy()
    {
        JobFixture::exec("DROP DATABASE IF EXISTS pelsar_bv_dev; DROP DATABASE IF EXISTS pelsar_aux; CREATE DATABASE pelsar_aux;"
             "CREATE TABLE pelsar_aux.a (x INT)");
        writeFile(dumpDir() + "/pelsar_bv_2.sql",
                  "CREATE TABLE `t` (`id` int);\n"
                  "/*!50001 CREATE ALGORITHM=UNDEFINED */\n/*!50013 DEFINER=`root`@`localhost` SQL SECURITY DEFINER */\n"
                  "/*!50001 VIEW `v` AS select `pelsar_aux`.`a`.`x` AS `x` from `pelsar_aux`.`a` */;\n");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "bv", "pelsar_bv_dev");
        r.stage[0] = false;
        r.newUser = "bvdev";
        // The other database goes once the load is in, before the check.
        const Outcome o = JobFixture::run(r, [](CopyJob &job) {
            QObject::connect(&job, &CopyJob::stageStarted, &job, [](CopyStage s) {
                if (s == CopyStage::Grants)
                    TestServer::exec("DROP DATABASE pelsar_aux");
            }, Qt::DirectConnection);
        });
        QVERIFY(!o.copied);
        const QString box = QStringLiteral("복사한 DB(pelsar_bv_dev)의 개체 중 동작하지 않는 것이 있습니다.\r\n"
                                           "view `v`: ERROR 1356: View 'pelsar_bv_dev.v' references invalid table(s) or "
                                           "column(s) or function(s) or definer/invoker of view lack rights to use them");
        QCOMPARE(o.messages, QStringList{box});
        QCOMPARE(o.log.last(), QStringLiteral("복사 중단: ") + box);
        JobFixture::exec("DROP DATABASE IF EXISTS pelsar_bv_dev");
        JobFixture::dropUser("bvdev");
    }
};

QTEST_GUILESS_MAIN(TestCrossServer)
#include "test_cross_server.moc"
