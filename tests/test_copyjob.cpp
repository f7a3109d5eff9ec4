// End-to-end copies against the test server with the real mysqldump and mysql programs; the test
// server is both the source and the local server.
#include "CopyJob.h"
#include "TargetCheck.h"
#include "DumpFolder.h"
#include "JobFixture.h"
#include "PlatformText.h"
#include "RecordingMessenger.h"
#include "SqlLoader.h"
#include "StagedReplace.h"
#include "TestFiles.h"
#include "TestServer.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <thread>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace velmar;
using namespace velmar::test;

Q_DECLARE_METATYPE(velmar::FieldId)

namespace {

struct Outcome {
    bool copied = false;
    QStringList log;      // without the load's timings, which differ from run to run
    QStringList figures;  // those: "가져오기 시간: ..." lines
    QStringList messages;
    QList<Message> boxes;
};

Outcome run(const CopyRequest &r, std::initializer_list<Answer> answers = {})
{
    RecordingMessenger rec;
    rec.answer(answers);
    CopyJob job(r);
    Outcome o;
    o.copied = job.ProcCopy();
    for (const QString &line : rec.logEntries())
        (line.startsWith(QStringLiteral("가져오기 시간: ")) ? o.figures : o.log) << line;
    o.messages = rec.messageTexts();
    o.boxes = rec.messages();
    return o;
}

const QString kLoaderLog = QStringLiteral("velmar 로더로 가져옵니다 (연결 %1개)").arg(defaultImportConnections());
const QString kFollowLog = QStringLiteral("velmar 로더로 가져옵니다 (연결 %1개, 덤프와 동시에)").arg(defaultImportConnections());
const QString kHeadLog = " / Head AddLine...\r\n\r\nSET AUTOCOMMIT = 0;\r\nSET FOREIGN_KEY_CHECKS=0;\r\n";
const QString kTailLog = " / Tail AddLine...\r\n\r\nSET FOREIGN_KEY_CHECKS = 1;\r\nCOMMIT;\r\nSET AUTOCOMMIT = 1;\r\n";
// The character set clause the copy gives a new database made from db.
QString charsetOf(const QString &db)
{
    return TestServer::value("SELECT CONCAT(' CHARACTER SET ', DEFAULT_CHARACTER_SET_NAME, ' COLLATE ', "
                             "DEFAULT_COLLATION_NAME) FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = '" + db + "'");
}

const QRegularExpression kFinish("^\\[Finish\\] Total Time=\\d\\d:\\d\\d:\\d\\d$");

}  // namespace

class TestCopyJob : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_work;

    QString dumpDir() const { return m_work + "/dump"; }

private slots:
    void initTestCase()
    {
        VELMAR_REQUIRE_SERVER();
        TestServer::exportEnvironment();
        JobFixture::createSourceDatabase("pelsar_abc");
    }

    void init()
    {
        m_work = m_dir.path() + "/작업 폴더 " + QString::fromLatin1(QTest::currentTestFunction());
        QDir().mkpath(m_work + "/dump");
    }

    void fullCopy()
    {
        JobFixture::dropDatabase("pelsar_abc_dev");
        JobFixture::dropUser("abc");
        // A database whose name differs only where the new one has "_": the grant must not reach it.
        JobFixture::createSourceDatabase("pelsarXabcXdev", 2);

        const Outcome o = run(JobFixture::request(m_work, "pelsar_", "abc", "pelsar_abc_dev"));
        QVERIFY(o.copied);
        QCOMPARE(o.messages, QStringList{"복사완료"});
        const QString dump = nativePath(dumpDir() + "/pelsar_abc.sql");
        const QString edited = nativePath(dumpDir() + "/pelsar_abc_2.sql");
        // Loaded under the staging name, then moved in whole.
        const QString staging = stagingDatabaseName("pelsar_abc_dev");
        QCOMPARE(o.log.size(), 16);
        // After the load, once: where its time went; two tables, one of them with its keys held back.
        QCOMPARE(o.figures.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral(
                     "^가져오기 시간: 전체 \\d+\\.\\d초 - 행 \\d+\\.\\d초\\(연결 %1개 합계, LOAD DATA [1-9]\\d*개\\), "
                     "키 \\d+\\.\\d초\\(테이블 1개\\), 외래 키 \\d+\\.\\d초, 마지막 행 뒤 \\d+\\.\\d초, "
                     "덤프 기다림 \\d+\\.\\d초$").arg(defaultImportConnections()))
                     .match(o.figures.first())
                     .hasMatch(),
                 qPrintable(o.figures.join('\n')));
        QCOMPARE(o.log.mid(0, 15),
                 (QStringList{
                     "Check Exist DB...",
                     "Dump...",
                     programName("mysqldump") + " -q -e pelsar_abc -hlocalhost -uroot -p**** > " + dump,
                     "DumpFile Edit...",
                     edited + kHeadLog,
                     "Import...",
                     "CREATE DATABASE IF NOT EXISTS `" + staging + "`" + charsetOf("pelsar_abc"),
                     programName("mysql") + " " + staging + " -uroot -p**** < " + edited,
                     kFollowLog,
                     edited + kTailLog,
                     "CREATE DATABASE IF NOT EXISTS `pelsar_abc_dev`" + charsetOf("pelsar_abc"),
                     "테이블 이동: " + staging + " -> pelsar_abc_dev (2개)",
                     "Local DB 생성 완료: pelsar_abc_dev",
                     "GRANT ALL ON `pelsar\\_abc\\_dev`.* TO 'abc'@'%' IDENTIFIED BY '****'",
                     "GRANT ALL ON `pelsar\\_abc\\_dev`.* TO 'abc'@'localhost' IDENTIFIED BY '****'",
                 }));
        QVERIFY2(kFinish.match(o.log.last()).hasMatch(), qPrintable(o.log.last()));

        const auto source = JobFixture::checksums("pelsar_abc");
        QCOMPARE(source.keys(), (QStringList{"customers", "orders"}));
        QCOMPARE(JobFixture::checksums("pelsar_abc_dev"), source);
        QCOMPARE(JobFixture::rowCounts("pelsar_abc_dev"), JobFixture::rowCounts("pelsar_abc"));
        QCOMPARE(TestServer::value("SELECT name FROM pelsar_abc_dev.customers WHERE id = 7"), QString("고객 7 홍길동"));
        QCOMPARE(TestServer::value("SELECT CONCAT('[', padded, ']') FROM pelsar_abc_dev.customers WHERE id = 7"),
                 QString("[  pad 7]"));
        QCOMPARE(TestServer::value("SELECT COUNT(*) FROM information_schema.REFERENTIAL_CONSTRAINTS "
                                   "WHERE CONSTRAINT_SCHEMA = 'pelsar_abc_dev'"),
                 QString("1"));
        QCOMPARE(fileContent(edited).size(), fileContent(dump).size() + 107);
#ifndef Q_OS_WIN
        // The whole database is in them: nobody but their owner reads them.
        for (const QString &file : {dump, edited})
            QCOMPARE(QFile::permissions(file) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif

        QVERIFY(JobFixture::canUse("abc", "tq582914", "pelsar_abc_dev"));
        QVERIFY(!JobFixture::canUse("abc", "tq582914", "pelsarXabcXdev"));
        QVERIFY(!JobFixture::canUse("abc_ord", "tq582914", "pelsar_abc_dev"));
        JobFixture::dropDatabase("pelsarXabcXdev");
    }

    void stagesAlone()
    {
        JobFixture::dropDatabase("stage_only");
        JobFixture::dropUser("kim");
        const QString edited = nativePath(dumpDir() + "/pelsar_abc_2.sql");

        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "stage_only");
        r.newUser = "kim";
        r.stage[1] = r.stage[2] = false;
        Outcome o = run(r);
        QVERIFY(o.copied);
        QCOMPARE(o.log.mid(0, 6),
                 (QStringList{"Check Exist DB...", "Dump...",
                              programName("mysqldump") + " -q -e pelsar_abc -hlocalhost -uroot -p**** > "
                                  + nativePath(dumpDir() + "/pelsar_abc.sql"),
                              "DumpFile Edit...", edited + kHeadLog, edited + kTailLog}));
        QCOMPARE(o.log.size(), 7);
        QVERIFY(!JobFixture::databaseExists("stage_only"));

        r.stage[0] = false;
        r.stage[1] = true;
        o = run(r);
        QVERIFY(o.copied);
        const QString staging = stagingDatabaseName("stage_only");
        QCOMPARE(o.log.mid(0, 7), (QStringList{"Import...", "CREATE DATABASE IF NOT EXISTS `" + staging + "`" + charsetOf("pelsar_abc"),
                                              programName("mysql") + " " + staging + " -uroot -p**** < " + edited, kLoaderLog,
                                              "CREATE DATABASE IF NOT EXISTS `stage_only`" + charsetOf("pelsar_abc"),
                                              "테이블 이동: " + staging + " -> stage_only (2개)", "Local DB 생성 완료: stage_only"}));
        QCOMPARE(o.log.size(), 8);
        QCOMPARE(JobFixture::checksums("stage_only"), JobFixture::checksums("pelsar_abc"));
        QVERIFY(!JobFixture::canUse("kim", "tq582914", "stage_only"));

        r.stage[1] = false;
        r.stage[2] = true;
        r.onOrdUser = true;
        o = run(r);
        QVERIFY(o.copied);
        QCOMPARE(o.messages, QStringList{"복사완료"});
        QCOMPARE(o.log.mid(0, 3),
                 (QStringList{"GRANT ALL ON `stage\\_only`.* TO 'kim'@'%' IDENTIFIED BY '****'",
                              "GRANT ALL ON `stage\\_only`.* TO 'kim'@'localhost' IDENTIFIED BY '****'",
                              "GRANT ALL ON `stage\\_only`.* TO 'kim_ord'@'%' IDENTIFIED BY '****'"}));
        QVERIFY(kFinish.match(o.log.value(3)).hasMatch());
        QVERIFY(JobFixture::canUse("kim", "tq582914", "stage_only"));
        QVERIFY(JobFixture::canUse("kim_ord", "tq582914", "stage_only"));
        JobFixture::dropDatabase("stage_only");
        JobFixture::dropUser("kim");
        JobFixture::dropUser("kim_ord");
    }

    void foreignKeyScripts_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("pelsar_") << "pelsar_" << "pelsar";
        QTest::newRow("dorvik_") << "dorvik_" << "dorvik";
        QTest::newRow("PELSAR_ (other case)") << "PELSAR_" << "";
        QTest::newRow("lumetta_") << "lumetta_" << "";
    }
    void foreignKeyScripts()
    {
        QFETCH(QString, prefix);
        QFETCH(QString, loaded);
        JobFixture::createSourceDatabase(prefix + "fk", 5);
        JobFixture::dropDatabase("fk_target");
        const QString folder = m_work + "/외래키 스크립트";
        QVERIFY(QDir().mkpath(folder));
        writeFile(folder + "/pelsar_tables외래키.SQL",
                  "CREATE TABLE fk_marker (which VARCHAR(20));\nINSERT INTO fk_marker VALUES ('pelsar');\n");
        writeFile(folder + "/dorvik_tables외래키.SQL",
                  "CREATE TABLE fk_marker (which VARCHAR(20));\nINSERT INTO fk_marker VALUES ('dorvik');\n");

        CopyRequest r = JobFixture::request(m_work, prefix, "fk", "fk_target");
        r.stage[2] = false;
        r.foreign = true;
        r.foreignPath = nativePath(folder);
        const Outcome o = run(r);
        QVERIFY(o.copied);
        const QString staging = stagingDatabaseName("fk_target");
        const QString loadLine =
            programName("mysql") + " " + staging + " -uroot -p**** < " + nativePath(dumpDir() + "/" + prefix + "fk_2.sql");
        QCOMPARE(o.log.indexOf(loadLine), 7);
        if (loaded.isEmpty()) {
            QVERIFY(kFinish.match(o.log.value(13)).hasMatch());
            QCOMPARE(TestServer::value("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = 'fk_target' "
                                       "AND TABLE_NAME = 'fk_marker'"),
                     QString("0"));
        } else {
            // In the staging database, before its tables move.
            QCOMPARE(o.log.value(10),
                     programName("mysql") + " " + staging + " -uroot -p**** < "
                         + nativePath(folder + "/" + loaded + "_tables외래키.SQL"));
            QCOMPARE(TestServer::value("SELECT which FROM fk_target.fk_marker"), loaded);
        }
        JobFixture::dropDatabase(prefix + "fk");
        JobFixture::dropDatabase("fk_target");
    }

    void existingTarget_data()
    {
        QTest::addColumn<bool>("dropWithoutAsking");
        QTest::addColumn<bool>("answerYes");
        QTest::newRow("asked, answered No") << false << false;
        QTest::newRow("asked, answered Yes") << false << true;
        QTest::newRow("dropped without asking") << true << true;
    }
    void existingTarget()
    {
        QFETCH(bool, dropWithoutAsking);
        QFETCH(bool, answerYes);
        JobFixture::dropDatabase("target_db");
        QCOMPARE(TestServer::exec("CREATE DATABASE target_db; CREATE TABLE target_db.old_marker (a INT)"), QString());

        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "target_db");
        r.existDBDel = dropWithoutAsking;
        r.stage[2] = false;
        const Outcome o = run(r, {answerYes ? Answer::Yes : Answer::No});
        const QString question = "Local에 동일한 DB명(target_db)이 존재합니다.\r\n삭제후 계속 진행할까요?";
        if (!dropWithoutAsking) {
            QCOMPARE(o.boxes.first().text, question);
            QCOMPARE(o.boxes.first().buttons, Buttons::YesNo);
            QCOMPARE(o.boxes.first().defaultButton, Answer::Yes);
            QCOMPARE(o.boxes.first().icon, Icon::None);
        }
        if (!answerYes) {
            QVERIFY(!o.copied);
            QCOMPARE(o.messages, QStringList{question});
            QCOMPARE(o.log, (QStringList{"Check Exist DB...",
                                         "복사 중단: Local에 동일한 DB명(target_db)이 존재하며 삭제하지 않았습니다."}));
            QCOMPARE(QDir(dumpDir()).entryList(QDir::Files), QStringList{});
            QCOMPARE(JobFixture::rowCounts("target_db").keys(), QStringList{"old_marker"});
            return;
        }
        QVERIFY(o.copied);
        QCOMPARE(o.messages, (dropWithoutAsking ? QStringList{"복사완료"} : QStringList{question, "복사완료"}));
        // The old copy stays while its replacement loads beside it, and goes only for the swap.
        const QString staging = stagingDatabaseName("target_db");
        const int dropped = o.log.indexOf("Local DB삭제:target_db");
        QCOMPARE(o.log.mid(dropped - 3, 5),
                 (QStringList{programName("mysql") + " " + staging + " -uroot -p**** < " + nativePath(dumpDir() + "/pelsar_abc_2.sql"), kFollowLog,
                              nativePath(dumpDir() + "/pelsar_abc_2.sql") + kTailLog,
                              "Local DB삭제:target_db",
                              "CREATE DATABASE IF NOT EXISTS `target_db` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci"}));
        QCOMPARE(o.log.value(dropped + 2), "테이블 이동: " + staging + " -> target_db (2개)");
        QVERIFY(o.log.value(dropped + 3).startsWith("Local DB 교체 완료: target_db (사용할 수 없던 시간 "));
        QCOMPARE(JobFixture::checksums("target_db"), JobFixture::checksums("pelsar_abc"));
        QVERIFY(!JobFixture::databaseExists(staging));
        JobFixture::dropDatabase("target_db");
    }

    void failedDumpKeepsTargetAndEarlierFiles()
    {
        JobFixture::dropDatabase("keep_me");
        QCOMPARE(TestServer::exec("CREATE DATABASE keep_me; CREATE TABLE keep_me.precious (a INT)"), QString());
        writeFile(dumpDir() + "/pelsar_abc.sql", "earlier dump");
        writeFile(dumpDir() + "/pelsar_abc_2.sql", "earlier rewrite");
        const QString owned = m_work + "/owned";
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "keep_me");
        r.existDBDel = true;
        r.dumpOption = "-q --comments; touch " + owned;
        const Outcome o = run(r);
        QVERIFY(!o.copied);
        QCOMPARE(o.messages.size(), 1);
        QVERIFY2(QRegularExpression("^Error \\d+ \\((\\S*/)?mysqldump: unknown option '--comments;'\\) in procedure "
                                    "SETP_DBDump of Module modMain$")
                     .match(o.messages.first())
                     .hasMatch(),
                 qPrintable(o.messages.first()));
        QVERIFY(!o.log.join('\n').contains("[Finish]"));
        QCOMPARE(o.log.last(), "복사 중단: " + o.messages.first());
        QCOMPARE(o.log.value(o.log.size() - 2), programName("mysqldump") + " -q --comments; touch " + owned
                                   + " pelsar_abc -hlocalhost -uroot -p**** > " + nativePath(dumpDir() + "/pelsar_abc.sql"));
        QVERIFY(!QFile::exists(owned));
        QCOMPARE(JobFixture::rowCounts("keep_me").keys(), QStringList{"precious"});
        QCOMPARE(fileContent(dumpDir() + "/pelsar_abc.sql"), QByteArray("earlier dump"));
        QCOMPARE(fileContent(dumpDir() + "/pelsar_abc_2.sql"), QByteArray("earlier rewrite"));
        JobFixture::dropDatabase("keep_me");
    }

    void dumpStoppingMidwayDropsTheLoad()
    {
        // The dump writes a table, then stops at a view whose table is gone: the load that
        // followed it is dropped, and the database it was to replace stays as it was.
        JobFixture::dropDatabase("keep_me");
        JobFixture::dropDatabase("pelsar_broken");
        QCOMPARE(TestServer::exec("CREATE DATABASE keep_me; CREATE TABLE keep_me.precious (a INT); "
                                  "CREATE DATABASE pelsar_broken; USE pelsar_broken; CREATE TABLE a_rows (id INT PRIMARY KEY); "
                                  "INSERT INTO a_rows SELECT seq FROM seq_1_to_100000; CREATE TABLE gone (id INT); "
                                  "CREATE VIEW z_broken AS SELECT id FROM gone; DROP TABLE gone"),
                 QString());
        writeFile(dumpDir() + "/pelsar_broken_2.sql", "earlier rewrite");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "broken", "keep_me");
        r.existDBDel = true;
        const Outcome o = run(r);
        QVERIFY(!o.copied);
        QCOMPARE(o.messages.size(), 1);
        QVERIFY2(o.messages.first().contains("z_broken") && o.messages.first().contains("SETP_DBDump"),
                 qPrintable(o.messages.first()));
        const QString staging = stagingDatabaseName("keep_me");
        QCOMPARE(o.log.mid(o.log.indexOf(kFollowLog) + 1),
                 (QStringList{"가져오기를 마치지 못해 임시 DB(" + staging + ")를 삭제했습니다. 기존 DB(keep_me)는 그대로입니다.",
                              "복사 중단: " + o.messages.first()}));
        QCOMPARE(JobFixture::rowCounts("keep_me").keys(), QStringList{"precious"});
        QVERIFY(!JobFixture::databaseExists(staging));
        QCOMPARE(QDir(dumpDir()).entryList(QDir::Files), QStringList{"pelsar_broken_2.sql"});
        QCOMPARE(fileContent(dumpDir() + "/pelsar_broken_2.sql"), QByteArray("earlier rewrite"));
        JobFixture::dropDatabase("keep_me");
        JobFixture::dropDatabase("pelsar_broken");
    }

    void cancelWhileLoadingBesideTheDump()
    {
        JobFixture::dropDatabase("keep_me");
        QCOMPARE(TestServer::exec("CREATE DATABASE keep_me; CREATE TABLE keep_me.precious (a INT)"), QString());
        writeFile(dumpDir() + "/pelsar_abc_2.sql", "earlier rewrite");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "keep_me");
        r.existDBDel = true;
        RecordingMessenger rec;
        CopyJob job(r);
        // The load reports its first bytes while the dump may still be running.
        connect(&job, &CopyJob::progress, &job, [&job](CopyStage stage) {
            if (stage == CopyStage::Import)
                job.cancel();
        });
        QVERIFY(!job.ProcCopy());
        const QString staging = stagingDatabaseName("keep_me");
        QCOMPARE(rec.logEntries().mid(rec.logEntries().size() - 2),
                 (QStringList{"가져오기를 마치지 못해 임시 DB(" + staging + ")를 삭제했습니다. 기존 DB(keep_me)는 그대로입니다.",
                              "복사가 취소되었습니다."}));
        QCOMPARE(rec.messageTexts(), QStringList{});
        QCOMPARE(JobFixture::rowCounts("keep_me").keys(), QStringList{"precious"});
        QVERIFY(!JobFixture::databaseExists(staging));
        // The dump may have ended before the cancel: a whole dump stays, partial files do not.
        QCOMPARE(QDir(dumpDir()).entryList({"*.part"}, QDir::Files), QStringList{});
        QCOMPARE(fileContent(dumpDir() + "/pelsar_abc_2.sql"), QByteArray("earlier rewrite"));
        JobFixture::dropDatabase("keep_me");
    }

    void quotedDumpOptions()
    {
        JobFixture::dropDatabase("where_copy");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "where_copy");
        r.stage[2] = false;
        r.dumpOption = "-q -e --where=\"id < 50\"";
        const Outcome o = run(r);
        QVERIFY(o.copied);
        QCOMPARE(TestServer::value("SELECT COUNT(*) FROM where_copy.customers"), QString("49"));
        QCOMPARE(TestServer::value("SELECT COUNT(*) FROM where_copy.orders"), QString("49"));
        JobFixture::dropDatabase("where_copy");
    }

    void failedLoadAndScriptAreReported_data()
    {
        QTest::addColumn<bool>("badScript");
        QTest::addColumn<QString>("table");
        QTest::newRow("bad dump") << false << "nowhere";
        QTest::newRow("bad foreign-key script") << true << "nowhere";
        // The program's error text is UTF-8 whatever the machine's code page.
        QTest::newRow("Korean in the error") << true << "없는표";
    }
    void failedLoadAndScriptAreReported()
    {
        QFETCH(bool, badScript);
        QFETCH(QString, table);
        JobFixture::dropDatabase("bad_load");
        const QString folder = m_work + "/fk";
        QVERIFY(QDir().mkpath(folder));
        writeFile(folder + "/pelsar_tables외래키.SQL", ("ALTER TABLE " + table + " ADD x INT;\n").toUtf8());
        writeFile(folder + "/dorvik_tables외래키.SQL", "SELECT 1;\n");
        writeFile(dumpDir() + "/pelsar_abc_2.sql",
                  badScript ? "CREATE TABLE ok (a INT);\n" : "CREATE TABLE ok (a INT);\nTHIS IS NOT SQL;\n");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "bad_load");
        r.stage[0] = r.stage[2] = false;
        r.foreign = badScript;
        r.foreignPath = folder;
        const Outcome o = run(r);
        QVERIFY(!o.copied);
        QCOMPARE(o.messages.size(), 1);
        const QString expected = badScript ? QString("^Error 1 \\(ERROR 1146 \\(42S02\\) at line 1: Table '" + stagingDatabaseName("bad_load") + "." + table + "' doesn't exist\\) ")
                                           : "^Error 1064 \\(ERROR 1064 \\(42000\\) at line 2: You have an error in your SQL syntax.*\\) ";
        QVERIFY2(QRegularExpression(expected + "in procedure SETP_DBImport of Module modMain$",
                                    QRegularExpression::DotMatchesEverythingOption)
                     .match(o.messages.first())
                     .hasMatch(),
                 qPrintable(o.messages.first()));
        QVERIFY(!o.log.join('\n').contains("[Finish]"));
        QCOMPARE(o.log.last(), "복사 중단: " + o.messages.first());
        JobFixture::dropDatabase("bad_load");
    }

    // The loader stops before a client command; the client then loads the whole file into the
    // database made anew, so nothing the loader sent before is there twice.
    void clientCommandLoadsWithClient()
    {
        JobFixture::dropDatabase("with_command");
        writeFile(dumpDir() + "/pelsar_abc_2.sql", "CREATE TABLE early (a INT);\nINSERT INTO early VALUES (1);\n"
                                                   "charset utf8mb4\nCREATE TABLE late (a INT);\n");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "with_command");
        r.stage[0] = r.stage[2] = false;
        const Outcome o = run(r);
        QVERIFY2(o.copied, qPrintable(o.messages.join('\n')));
        QVERIFY(o.log.join('\n').contains("은 mysql 클라이언트가 실행해야 합니다. -> "));
        QCOMPARE(TestServer::rows("SELECT a FROM with_command.early"), QStringList{"1"});
        QCOMPARE(TestServer::rows("SHOW TABLES FROM with_command LIKE 'late'"), QStringList{"late"});
        JobFixture::dropDatabase("with_command");
    }

    void importOnlyWithoutDumpFile()
    {
        JobFixture::dropDatabase("no_dump_target");
        QCOMPARE(TestServer::exec("CREATE DATABASE no_dump_target; CREATE TABLE no_dump_target.t (a INT)"), QString());
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "nodump", "no_dump_target");
        r.stage[0] = r.stage[2] = false;
        r.existDBDel = true;
        const Outcome o = run(r);
        QVERIFY(!o.copied);
        QCOMPARE(o.messages, QStringList{"가져올 덤프 파일이 없습니다.\r\n" + nativePath(dumpDir() + "/pelsar_nodump_2.sql")
                                         + "\r\n\r\n먼저 1. DB dump 작업으로 덤프 파일을 만드세요."});
        QCOMPARE(o.log, QStringList{"복사 중단: " + o.messages.first()});
        QCOMPARE(JobFixture::rowCounts("no_dump_target").keys(), QStringList{"t"});
        JobFixture::dropDatabase("no_dump_target");
    }

    void missingSource_data()
    {
        QTest::addColumn<QString>("user");
        QTest::newRow("plain") << "nobody";
        QTest::newRow("pattern match only") << "xyz";  // pelsarXxyz exists, pelsar_xyz does not
        QTest::newRow("injection") << "abc'; DROP DATABASE victim; -- ";
        QTest::newRow("backslash and percent") << "a%\\";
    }
    void missingSource()
    {
        QFETCH(QString, user);
        JobFixture::createSourceDatabase("pelsarXxyz", 1);
        JobFixture::createSourceDatabase("victim", 1);
        CopyRequest r = JobFixture::request(m_work, "pelsar_", user, "copy_of_missing");
        RecordingMessenger rec;
        CopyJob job(r);
        QSignalSpy focus(&job, &CopyJob::focusRequested);
        QVERIFY(!job.ProcCopy());
        QCOMPARE(rec.messageTexts(), QStringList{"존재하지 않는 DB입니다. localhost/pelsar_" + user});
        QCOMPARE(rec.logEntries(), (QStringList{"Check Exist DB...", "복사 중단: 존재하지 않는 DB입니다. localhost/pelsar_" + user}));
        QCOMPARE(focus.size(), 1);
        QCOMPARE(focus.first().first().value<velmar::FieldId>(), FieldId::cmbField1);
        QVERIFY(JobFixture::databaseExists("victim"));
        QVERIFY(!JobFixture::databaseExists("copy_of_missing"));
        QCOMPARE(QDir(dumpDir()).entryList(QDir::Files), QStringList{});
        JobFixture::dropDatabase("pelsarXxyz");
        JobFixture::dropDatabase("victim");
    }

    void targetMatchesOnlyItsOwnName()
    {
        JobFixture::createSourceDatabase("lookXalike", 1);
        JobFixture::dropDatabase("look_alike");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "look_alike");
        r.stage[2] = false;
        const Outcome o = run(r, {Answer::No});
        QVERIFY(o.copied);
        QCOMPARE(o.messages, QStringList{"복사완료"});  // nothing asked
        QVERIFY(JobFixture::databaseExists("lookXalike"));
        JobFixture::dropDatabase("lookXalike");
        JobFixture::dropDatabase("look_alike");
    }

    void routinesLeftOutAreSaid()
    {
        JobFixture::createSourceDatabase("pelsar_proc", 3);
        JobFixture::dropDatabase("proc_dev");
        QCOMPARE(TestServer::exec("CREATE PROCEDURE pelsar_proc.p1() SELECT 1; "
                                  "CREATE FUNCTION pelsar_proc.f1() RETURNS INT DETERMINISTIC RETURN 1"),
                 QString());
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "proc", "proc_dev");
        r.stage[2] = false;
        const Outcome o = run(r);
        QVERIFY(o.copied);
        const QString notice = "주의: 원본 DB의 저장 프로시저·함수 2개는 덤프 옵션에 없어 복사되지 않습니다. "
                               "option에 -R을 더하면 함께 복사됩니다.";
        QCOMPARE(o.log.mid(0, 3), (QStringList{"Check Exist DB...", notice, "Dump..."}));
        QCOMPARE(o.log.value(o.log.size() - 2), notice);
        QCOMPARE(TestServer::value("SELECT COUNT(*) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = 'proc_dev'"),
                 QString("0"));
        JobFixture::dropDatabase("proc_dev");
        JobFixture::dropDatabase("pelsar_proc");
    }

    void unusualNames()
    {
        const QString target = "dev`'한글_%\\db";
        JobFixture::dropDatabase(target);
        JobFixture::dropUser("o'kim`");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", target);
        r.newUser = "o'kim`";
        const Outcome o = run(r);
        QVERIFY(o.copied);
        QVERIFY(o.log.contains("CREATE DATABASE IF NOT EXISTS `dev``'한글_%\\db`" + charsetOf("pelsar_abc")));
        QVERIFY(o.log.contains("GRANT ALL ON `dev``'한글\\_\\%\\\\db`.* TO 'o\\'kim`'@'%' IDENTIFIED BY '****'"));
        QCOMPARE(JobFixture::checksums(target), JobFixture::checksums("pelsar_abc"));
        QVERIFY(JobFixture::canUse("o'kim`", "tq582914", target));
        // Again, with the target there: found by its exact name and dropped.
        const Outcome again = run(r, {Answer::Yes});
        QVERIFY(again.copied);
        QVERIFY(again.log.contains("Local DB삭제:" + target));
        JobFixture::dropDatabase(target);
        JobFixture::dropUser("o'kim`");
    }

    void passwordsAreMaskedEverywhere()
    {
        const QString target = "wexrolp_tq582914_wexrolp";
        JobFixture::dropDatabase(target);
        const Outcome o = run(JobFixture::request(m_work, "pelsar_", "abc", target));
        QVERIFY(o.copied);
        QVERIFY(o.log.contains(programName("mysql") + " " + stagingDatabaseName(target) + " -uroot -p**** < "
                               + nativePath(dumpDir() + "/pelsar_abc_2.sql")));
        QVERIFY(o.log.contains("GRANT ALL ON `wexrolp\\_****\\_wexrolp`.* TO 'abc'@'%' IDENTIFIED BY '****'"));
        QVERIFY(JobFixture::canUse("abc", "tq582914", target));
        JobFixture::dropDatabase(target);
    }

    void passwordNeverInArguments()
    {
#ifdef Q_OS_WIN
        // Under Wine the programs are the stand-ins (tests/winstub), which record the same.
        // (Set in UTF-16: the folder's Hangul would not survive the code page of qputenv.)
        SetEnvironmentVariableW(L"VELMAR_STANDIN_RECORD", reinterpret_cast<LPCWSTR>(nativePath(m_work).utf16()));
#else
        // Programs in the program folder come before those on the search path: these record
        // their arguments and hand over to the real ones.
        for (const char *name : {"mysqldump", "mysql"}) {
            const QString real = QStandardPaths::findExecutable(name);
            QVERIFY(!real.isEmpty());
            const QString wrapper = m_work + "/" + name;
            writeFile(wrapper, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/%1.args\"\n"
                                              "cat \"$(echo \"$1\" | sed 's/^--defaults-extra-file=//')\" > \"$(dirname \"$0\")/%1.cnf\"\n"
                                              "exec %2 \"$@\"\n")
                                   .arg(name, real)
                                   .toUtf8());
            QFile::setPermissions(wrapper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
#endif
        JobFixture::dropDatabase("args_check");
        writeFile(m_work + "/pelsar_tables외래키.SQL", "SELECT 1;\n");
        writeFile(m_work + "/dorvik_tables외래키.SQL", "SELECT 1;\n");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "args_check");
        r.stage[2] = false;
        r.foreign = true;  // the client program runs the foreign-key script
        r.foreignPath = m_work;
        const Outcome o = run(r);
#ifdef Q_OS_WIN
        SetEnvironmentVariableW(L"VELMAR_STANDIN_RECORD", nullptr);
#endif
        QVERIFY2(o.copied, qPrintable((o.messages + o.log.mid(o.log.size() - 3)).join(" | ")));
        for (const char *name : {"mysqldump", "mysql"}) {
            const QStringList args = QString::fromUtf8(fileContent(m_work + "/" + name + ".args")).split('\n', Qt::SkipEmptyParts);
            QVERIFY2(!args.join(' ').contains("wexrolp"), qPrintable(args.join(' ')));
            QVERIFY(args.first().startsWith("--defaults-extra-file="));
            const QString optionFile = args.first().section('=', 1);
            QVERIFY2(!QFile::exists(optionFile), "the password file outlives the run");
            QCOMPARE(fileContent(m_work + "/" + name + ".cnf"),
                     QByteArray("[client]\npassword=\"wexrolp\"\n[mysql]\nconnect-timeout=10\n"));
        }
        QCOMPARE(QString::fromUtf8(fileContent(m_work + "/mysqldump.args")).split('\n', Qt::SkipEmptyParts).mid(1),
                 (QStringList{"-q", "-e", "-hlocalhost", "-uroot", "--", "pelsar_abc"}));
        QCOMPARE(QString::fromUtf8(fileContent(m_work + "/mysql.args")).split('\n', Qt::SkipEmptyParts).mid(1),
                 (QStringList{"-uroot", "--database=" + stagingDatabaseName("args_check")}));
        JobFixture::dropDatabase("args_check");
    }

    void missingDumpFolderIsCreated()
    {
        QVERIFY(QDir(dumpDir()).removeRecursively());
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "unused");
        r.stage[1] = r.stage[2] = false;
        const Outcome o = run(r);
        QVERIFY(o.copied);
        QCOMPARE(o.log.value(0), "dump 폴더 생성: " + nativePath(dumpDir()));
        QVERIFY(QFile::exists(dumpDir() + "/pelsar_abc_2.sql"));
    }

    void sourceOnLoopbackPort()
    {
        JobFixture::dropDatabase("via_tcp");
        const QString host = "127.0.0.1:" + QString::number(TestServer::port());
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "via_tcp");
        r.host = host;
        r.stage[2] = false;
        const Outcome o = run(r);
        QVERIFY(o.copied);
        // Over TCP the link is measured; this machine's loopback never asks for compression.
        QVERIFY2(QRegularExpression("^원본 서버 연결 측정: \\d+\\.\\d MB/s, 왕복 \\d+\\.\\d ms, 압축 사용 안 함$")
                     .match(o.log.value(1))
                     .hasMatch(),
                 qPrintable(o.log.value(1)));
        QCOMPARE(o.log.value(3), programName("mysqldump") + " -q -e pelsar_abc -h" + host + " -uroot -p**** > "
                                     + nativePath(dumpDir() + "/pelsar_abc.sql"));
        QCOMPARE(JobFixture::checksums("via_tcp"), JobFixture::checksums("pelsar_abc"));
        JobFixture::dropDatabase("via_tcp");

        // An unused port: one message, naming host and port; the database is not called missing.
        r.host = "127.0.0.1:1";
        const Outcome refused = run(r);
        QVERIFY(!refused.copied);
        QCOMPARE(refused.messages.size(), 1);
        QVERIFY2(refused.messages.first().startsWith("Error 2002 "), qPrintable(refused.messages.first()));
        QVERIFY(refused.messages.first().contains("\r\n\r\n데이터베이스 서버(127.0.0.1:1)에 접속할 수 없습니다."));
        QCOMPARE(refused.log, (QStringList{"Check Exist DB...", "복사 중단: " + refused.messages.first()}));
    }

    void cancelDuringLoad()
    {
        JobFixture::dropDatabase("cancelled");
        writeLongImport(dumpDir() + "/pelsar_abc_2.sql");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "cancelled");
        r.stage[0] = false;
        RecordingMessenger rec;
        CopyJob job(r);
        connect(&job, &CopyJob::progress, &job, [&job](CopyStage stage, qint64 done, qint64 total) {
            // Half the file is in: the client has run the first statements, and can never reach
            // the last ones.
            if (stage == CopyStage::Import && done >= total / 2 && done < total)
                job.cancel();
        });
        QVERIFY(!job.ProcCopy());
        QCOMPARE(rec.logEntries().mid(rec.logEntries().size() - 2),
                 (QStringList{"가져오기를 마치지 못해 새로 만든 DB(cancelled)를 삭제했습니다.", "복사가 취소되었습니다."}));
        QCOMPARE(rec.messageTexts(), QStringList{});
        QVERIFY(!JobFixture::databaseExists("cancelled"));
    }

    void dropOnlyOnTheLocalHostName()
    {
        // Asked to drop on any host but the exact text "localhost", the check refuses.
        RecordingMessenger rec;
        const QString host = "127.0.0.1:" + QString::number(TestServer::port());
        velmar::CopyContext present(JobFixture::request(m_work, "pelsar_", "abc", "pelsar_abc"));
        QCOMPARE(TargetCheck(present, host).run(), TargetDecision::Stop);
        QCOMPARE(rec.messageTexts(), QStringList{"localhost만 DB삭제가능합니다."});
        velmar::CopyContext missing(JobFixture::request(m_work, "pelsar_", "abc", "pelsar_missing"));
        QCOMPARE(TargetCheck(missing, host).run(), TargetDecision::LoadNew);
        QCOMPARE(rec.messageTexts().size(), 1);
        QVERIFY(JobFixture::databaseExists("pelsar_abc"));
        QCOMPARE(rec.logEntries(), QStringList{});
    }

    void cancelledJobTouchesNothing_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("before the start") << "start";
        QTest::newRow("while the drop question waits") << "question";
    }
    void cancelledJobTouchesNothing()
    {
        QFETCH(QString, when);
        JobFixture::dropDatabase("cancel_target");
        QCOMPARE(TestServer::exec("CREATE DATABASE cancel_target; CREATE TABLE cancel_target.keep (a INT)"), QString());
        writeFile(dumpDir() + "/pelsar_abc_2.sql", "CREATE TABLE loaded (a INT);\n");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "cancel_target");
        r.stage[0] = false;
        r.existDBDel = when == "start";

        CopyJob job(r);
        // The user presses cancel, then answers Yes to the question still on screen.
        struct CancellingMessenger : RecordingMessenger {
            CopyJob *job = nullptr;
            Answer show(const Message &m) override
            {
                job->cancel();
                RecordingMessenger::show(m);
                return Answer::Yes;
            }
        } rec;
        rec.job = &job;
        if (when == "start")
            job.cancel();
        QVERIFY(!job.ProcCopy());
        QCOMPARE(rec.logEntries().last(), QString("복사가 취소되었습니다."));
        QCOMPARE(rec.logEntries().count("복사가 취소되었습니다."), 1);
        QCOMPARE(JobFixture::rowCounts("cancel_target").keys(), QStringList{"keep"});
        JobFixture::dropDatabase("cancel_target");
    }

    void cancelWhileTheSourceIsUnreachable()
    {
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "unused");
        r.host = "127.0.0.1:1";
        CopyJob job(r);
        // The user gives up while the connection error is on screen.
        struct CancellingMessenger : RecordingMessenger {
            CopyJob *job = nullptr;
            Answer show(const Message &m) override
            {
                job->cancel();
                return RecordingMessenger::show(m);
            }
        } rec;
        rec.job = &job;
        QSignalSpy focus(&job, &CopyJob::focusRequested);
        QVERIFY(!job.ProcCopy());
        QCOMPARE(rec.messageTexts().size(), 1);
        QVERIFY(rec.messageTexts().first().startsWith("Error 200"));
        QCOMPARE(rec.logEntries(), (QStringList{"Check Exist DB...", "복사가 취소되었습니다."}));
        QCOMPARE(focus.size(), 0);
    }

    // The new database gets the source's character set and collation, also when it is loaded
    // from an earlier dump.
    void sourceCharset_data()
    {
        QTest::addColumn<QString>("charset");
        QTest::addColumn<QString>("text");
        QTest::newRow("latin1") << " CHARACTER SET latin1 COLLATE latin1_swedish_ci" << "Café";
        QTest::newRow("euckr") << " CHARACTER SET euckr COLLATE euckr_korean_ci" << "한글 자료";
    }
    void sourceCharset()
    {
        QFETCH(QString, charset);
        QFETCH(QString, text);
        JobFixture::dropDatabase("cs_copy");
        QCOMPARE(TestServer::exec("DROP DATABASE IF EXISTS cs_src; CREATE DATABASE cs_src" + charset
                                  + "; CREATE TABLE cs_src.t (v VARCHAR(20)); INSERT INTO cs_src.t VALUES ('" + text + "')"),
                 QString());
        CopyRequest r = JobFixture::request(m_work, "cs_", "src", "cs_copy");
        r.stage[1] = r.stage[2] = false;
        QVERIFY(run(r).copied);
        r.stage[0] = false;
        r.stage[1] = true;
        QCOMPARE(run(r).log.value(1), "CREATE DATABASE IF NOT EXISTS `" + stagingDatabaseName("cs_copy") + "`" + charset);
        QCOMPARE(charsetOf("cs_copy"), charset);
        QCOMPARE(TestServer::value("SELECT v FROM cs_copy.t"), text);
        JobFixture::dropDatabase("cs_src");
    }

    // A copy that would use the dump files or the new database of a running copy is refused
    // before anything runs; a lock that a crashed copy left behind holds nothing.
    void busyFiles_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<QString>("message");  // empty: the lock is stale
        QTest::newRow("same dump files") << "pelsar_abc.sql.lock"
                                         << "같은 덤프 파일을 쓰는 다른 복사가 진행중입니다. %1";
        QTest::newRow("same new database") << "busy_target.newdb.lock"
                                           << "같은 New DB에 복사하는 다른 복사가 진행중입니다. busy_target";
        QTest::newRow("left by a crashed copy") << "pelsar_abc.sql.lock" << "";
    }
    void busyFiles()
    {
        QFETCH(QString, lock);
        QFETCH(QString, message);
        JobFixture::dropDatabase("busy_target");
        QLockFile other(dumpDir() + "/" + lock);
        QVERIFY(other.tryLock(0));
        if (message.isEmpty()) {
            // The lock file of a copy that died: its process is gone.
            QByteArray content = fileContent(other.fileName());
            other.unlock();
            writeFile(other.fileName(), content.replace(0, content.indexOf('\n'), "2147480000"));
        }
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "busy_target");
        r.stage[2] = false;
        const Outcome o = run(r);
        QCOMPARE(o.copied, message.isEmpty());
        QCOMPARE(JobFixture::databaseExists("busy_target"), message.isEmpty());
        if (!message.isEmpty())
            QCOMPARE(o.log, QStringList{"복사 중단: " + (message.contains("%1") ? message.arg(nativePath(dumpDir() + "/pelsar_abc.sql")) : message)});
        QCOMPARE(QFile::exists(other.fileName()), !message.isEmpty());
        JobFixture::dropDatabase("busy_target");
    }

    // A program folder the user cannot write (here: its dump folder cannot be made) keeps the
    // dump files in the user's own data folder. A read-only folder does not stop an administrator.
    void unwritableProgramFolder()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QString userFolder = userDumpFolder();
        QDir(userFolder).removeRecursively();
        QVERIFY(QDir(dumpDir()).removeRecursively());
        writeFile(dumpDir(), "a file where the dump folder would be");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "unused");
        r.stage[1] = r.stage[2] = false;
        const Outcome o = run(r);
        QVERIFY(o.copied);
        QCOMPARE(o.log.first(), "프로그램 폴더에 쓸 수 없어 덤프 파일을 " + userFolder + "에 둡니다.");
        QVERIFY(QFile::exists(userFolder + "/pelsar_abc_2.sql"));
        QDir(userFolder).removeRecursively();
        QStandardPaths::setTestModeEnabled(false);
    }

    // A refused grant stops the copy; a name whose escaped pattern is longer than the server takes
    // is granted table by table, still on that database alone.
    void grants_data()
    {
        QTest::addColumn<QString>("newDB");
        QTest::addColumn<QString>("newUser");
        QTest::newRow("refused") << "grant_target" << QString(129, 'u');
        QTest::newRow("64 characters") << "g_" + QString(62, 'a') << "longname";
    }
    void grants()
    {
        QFETCH(QString, newDB);
        QFETCH(QString, newUser);
        const bool refused = newUser.size() > 128;
        const QString lookAlike = QString(newDB).replace(1, 1, "X");
        JobFixture::createSourceDatabase(newDB, 1);
        JobFixture::createSourceDatabase(lookAlike, 1);
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", newDB);
        r.newUser = newUser;
        r.stage[0] = r.stage[1] = false;
        const Outcome o = run(r);
        QCOMPARE(o.copied, !refused);
        if (refused) {
            QVERIFY2(o.messages.value(0).startsWith("Error 1470 (String 'uuu"), qPrintable(o.messages.value(0)));
            QCOMPARE(o.log.last(), "복사 중단: " + o.messages.first());
        } else {
            QCOMPARE(o.log.first(), "GRANT ALL ON `" + newDB + "`.`customers` TO 'longname'@'%' IDENTIFIED BY '****'");
            QCOMPARE(o.log.size(), 5);  // two tables, two grants each, then [Finish]
            QVERIFY(JobFixture::canUse(newUser, "tq582914", newDB));
            QVERIFY(!JobFixture::canUse(newUser, "tq582914", lookAlike));
            JobFixture::dropUser(newUser);
        }
        JobFixture::dropDatabase(newDB);
        JobFixture::dropDatabase(lookAlike);
    }

    // A source that takes the connection and never answers (a firewall that swallows packets):
    // the copy ends by itself within the connect timeout, and a cancel ends it at once.
    void silentSource_data()
    {
        QTest::addColumn<int>("cancelAfterMs");
        QTest::addColumn<int>("limitMs");
        QTest::newRow("left alone") << 0 << 20000;
        QTest::newRow("cancelled") << 500 << 1500;
    }
    void silentSource()
    {
        QFETCH(int, cancelAfterMs);
        QFETCH(int, limitMs);
        QTcpServer silent;  // never serviced: the system completes the handshake, nobody answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", "unused");
        r.host = "127.0.0.1:" + QString::number(silent.serverPort());
        RecordingMessenger rec;
        CopyJob job(r);
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(cancelAfterMs));
            if (cancelAfterMs > 0)
                job.cancel();
        });
        QElapsedTimer t;
        t.start();
        QVERIFY(!job.ProcCopy());
        QVERIFY2(t.elapsed() < limitMs, qPrintable(QString::number(t.elapsed())));
        canceller.join();
        const QString box = rec.messageTexts().value(0);
        QCOMPARE(rec.messageTexts().size(), cancelAfterMs > 0 ? 0 : 1);
        QCOMPARE(rec.logEntries(), (QStringList{"Check Exist DB...", cancelAfterMs > 0 ? QString("복사가 취소되었습니다.") : "복사 중단: " + box}));
        if (cancelAfterMs == 0)
            QVERIFY2(box.startsWith("Error 2013 ") && box.contains("데이터베이스 서버(" + r.host + ")에 접속할 수 없습니다.")
                         && box.contains("방화벽"),
                     qPrintable(box));
    }

    void cleanupTestCase()
    {
        JobFixture::dropDatabase("pelsar_abc");
        JobFixture::dropDatabase("pelsar_abc_dev");
        JobFixture::dropUser("abc");
    }
};

QTEST_GUILESS_MAIN(TestCopyJob)
#include "test_copyjob.moc"
