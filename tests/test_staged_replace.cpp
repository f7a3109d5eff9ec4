// Replacing an existing local database: the copy loads into a staging database beside it and
// moves over only once everything has loaded, so the result equals a load into a new name, and
// any stop before the move leaves the old database as it was.
#include "CopyJob.h"
#include "JobFixture.h"
#include "PlatformText.h"
#include "RecordingMessenger.h"
#include "StagedReplace.h"
#include "TestFiles.h"
#include "TestServer.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace velmar;
using namespace velmar::test;

namespace {

using Outcome = CopyOutcome;
const auto snapshot = JobFixture::snapshot;

// Both hosts' grants of a user, the user's (and its database's) name written "<db>".
QStringList grantsOf(const QString &user)
{
    QStringList grants = TestServer::rows("SHOW GRANTS FOR '" + user + "'@'localhost'")
                         + TestServer::rows("SHOW GRANTS FOR '" + user + "'@'%'");
    return grants.replaceInStrings(user, "<db>");
}

QStringList stagingLeft()
{
    return TestServer::rows("SHOW DATABASES LIKE 'velmar\\_staging\\_%'");
}

// A database in the state a user's older copy might be in: another character set, a table of a
// name the new copy also has, a table, view, trigger, procedure and event of its own.
void createOldDatabase(const QString &name)
{
    JobFixture::exec("DROP DATABASE IF EXISTS " + name + "; CREATE DATABASE " + name + " CHARACTER SET latin1;"
         "USE " + name + ";"
         "CREATE TABLE customers (id INT PRIMARY KEY, legacy VARCHAR(20));"
         "INSERT INTO customers SELECT seq, CONCAT('old ', seq) FROM seq_1_to_50;"
         "CREATE TABLE old_only (a INT); INSERT INTO old_only VALUES (1), (2);"
         "CREATE VIEW old_view AS SELECT legacy FROM customers;"
         "CREATE TRIGGER old_trg BEFORE INSERT ON old_only FOR EACH ROW SET NEW.a = NEW.a + 1;"
         "CREATE PROCEDURE old_proc() SELECT 1;"
         "CREATE EVENT old_event ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01 00:00:00' DISABLE"
         " DO DELETE FROM old_only");
}

const QString kReplacedPattern = "^Local DB 교체 완료: %1 \\(사용할 수 없던 시간 \\d+\\.\\d초\\)$";

}  // namespace

class TestStagedReplace : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_work;

    QString dumpDir() const { return m_work + "/dump"; }

    // An import-only request of <dump>/pelsar_abc_2.sql into target, replacing it without asking.
    CopyRequest importRequest(const QString &target) const
    {
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "abc", target);
        r.stage[0] = r.stage[2] = false;
        r.existDBDel = true;
        return r;
    }

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
        for (const QString &db : stagingLeft())  // what a failed test left
            JobFixture::dropDatabase(db);
    }

    // A copy over an existing database of another name ends exactly like one into a new name,
    // and both like the source: nothing of the old database and no staging database remain.
    void replacedEqualsDirectLoad()
    {
        JobFixture::exec("DROP DATABASE IF EXISTS pelsar_eq;"
             "CREATE DATABASE pelsar_eq CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci; USE pelsar_eq;"
             "CREATE TABLE customers (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(50) NOT NULL);"
             "INSERT INTO customers (name) SELECT CONCAT('고객 ', seq, ' 홍길동') FROM seq_1_to_300;"
             "ALTER TABLE customers AUTO_INCREMENT = 1000;"
             "CREATE TABLE orders (id INT AUTO_INCREMENT PRIMARY KEY, customer_id INT NOT NULL,"
             " amount DECIMAL(10,2), memo VARCHAR(100), CONSTRAINT fk_orders_customer"
             " FOREIGN KEY (customer_id) REFERENCES customers (id) ON DELETE CASCADE);"
             "INSERT INTO orders (customer_id, amount, memo)"
             " SELECT 1 + seq % 300, seq / 7, CONCAT('주문 ', seq) FROM seq_1_to_3000;"
             "CREATE TABLE order_items (order_id INT NOT NULL, line INT NOT NULL, parent_line INT NULL,"
             " qty INT, PRIMARY KEY (order_id, line),"
             " CONSTRAINT fk_items_order FOREIGN KEY (order_id) REFERENCES orders (id),"
             " CONSTRAINT fk_items_parent FOREIGN KEY (order_id, parent_line)"
             " REFERENCES order_items (order_id, line));"
             "INSERT INTO order_items SELECT seq, 1, NULL, seq % 5 FROM seq_1_to_3000;"
             "INSERT INTO order_items SELECT seq, 2, 1, seq % 3 FROM seq_1_to_3000;"
             "CREATE VIEW v_orders AS SELECT o.id, o.amount, c.name"
             " FROM orders o JOIN customers c ON c.id = o.customer_id;"
             "CREATE VIEW a_totals AS SELECT name, SUM(amount) AS total FROM v_orders GROUP BY name;"
             "CREATE TRIGGER orders_memo BEFORE INSERT ON orders FOR EACH ROW"
             " SET NEW.memo = COALESCE(NEW.memo, '자동 메모');"
             "CREATE PROCEDURE add_order(IN c INT, IN a DECIMAL(10,2))"
             " INSERT INTO orders (customer_id, amount) VALUES (c, a);"
             "CREATE FUNCTION customer_total(c INT) RETURNS DECIMAL(12,2) READS SQL DATA"
             " RETURN (SELECT SUM(amount) FROM orders WHERE customer_id = c);"
             "CREATE EVENT purge_negative ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01 00:00:00' DISABLE"
             " DO DELETE FROM orders WHERE amount < 0");
        JobFixture::dropDatabase("eqdirect");
        createOldDatabase("eqreplaced");
        CopyRequest r = JobFixture::request(m_work, "pelsar_", "eq", "eqdirect");
        r.dumpOption = "-q -e --routines --events";
        r.newUser = "eqdirect";
        const Outcome direct = JobFixture::run(r);
        QVERIFY(direct.copied);
        QCOMPARE(direct.messages, QStringList{"복사완료"});
        r.newDB = r.newUser = "eqreplaced";
        const Outcome replaced = JobFixture::run(r);
        QVERIFY(replaced.copied);
        QCOMPARE(replaced.messages.value(1), QString("복사완료"));
        QCOMPARE(replaced.log.count("Local DB삭제:eqreplaced"), 1);
        QCOMPARE(replaced.log.filter(QRegularExpression(kReplacedPattern.arg("eqreplaced"))).size(), 1);

        const QStringList source = snapshot("pelsar_eq");
        // Three tables, two views, a trigger, a procedure, a function, an event, four key columns.
        const QRegularExpression definition("^(TABLE|VIEW|TRIGGER|PROCEDURE|FUNCTION|EVENT|FOREIGN KEY)\\b");
        QCOMPARE(source.filter(definition).size(), 13);
        QCOMPARE(snapshot("eqdirect"), source);
        QCOMPARE(snapshot("eqreplaced"), source);
        const QStringList grants = grantsOf("eqdirect");
        QVERIFY2(grants.contains("GRANT ALL PRIVILEGES ON `<db>`.* TO `<db>`@`localhost`"),
                 qPrintable(grants.join('\n')));
        QCOMPARE(grantsOf("eqreplaced"), grants);
        QCOMPARE(stagingLeft(), QStringList{});

        // The procedure, the trigger on the moved table and the function work in the final database.
        JobFixture::exec("CALL eqreplaced.add_order(7, 1000)");
        QCOMPARE(TestServer::value("SELECT memo FROM eqreplaced.orders ORDER BY id DESC LIMIT 1"),
                 QString("자동 메모"));
        QCOMPARE(TestServer::value("SELECT eqreplaced.customer_total(7) - pelsar_eq.customer_total(7)"),
                 QString("1000.00"));
        for (const char *db : {"pelsar_eq", "eqdirect", "eqreplaced"})
            JobFixture::dropDatabase(db);
        JobFixture::dropUser("eqdirect");
        JobFixture::dropUser("eqreplaced");
    }

    // A replacement that does not finish drops its staging database and leaves the old one whole.
    void stoppedReplacementKeepsOld_data()
    {
        const QString staging = stagingDatabaseName("keepold");
        const QString end = "\\) in procedure SETP_DBImport of Module modMain$";
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("rows");      // single-row INSERTs of the import file
        QTest::addColumn<QByteArray>("tail");  // appended to it
        QTest::addColumn<QString>("box");   // the message as a pattern; empty: cancelled, none
        QTest::newRow("cancelled half-way") << "cancel" << 60000 << QByteArray() << QString();
        QTest::newRow("cancelled as the load ends") << "cancel at end" << 2000 << QByteArray() << QString();
        QTest::newRow("broken statement near the end")
            << "" << 2000 << QByteArray("THIS IS NOT SQL;\nINSERT INTO filler VALUES (-1, 'after');\n")
            << "^Error 1064 \\(ERROR 1064 \\(42000\\) at line 2002: You have an error in your SQL syntax; "
               ".* near 'THIS IS NOT SQL' at line 1" + end;
        QTest::newRow("loader's connections killed")
            << "kill" << 60000 << QByteArray() << "^Error (1927|2006|2013) \\(.+" + end;
        QTest::newRow("foreign-key script fails")
            << "script" << 2000 << QByteArray()
            << "^Error 1 \\(ERROR 1146 \\(42S02\\) at line 1: Table '" + staging
                   + ".nowhere' doesn't exist" + end;
    }
    void stoppedReplacementKeepsOld()
    {
        QFETCH(QString, fault);
        QFETCH(int, rows);
        QFETCH(QByteArray, tail);
        QFETCH(QString, box);
        const QString staging = stagingDatabaseName("keepold");
        createOldDatabase("keepold");
        const QStringList before = snapshot("keepold");
        const QString file = dumpDir() + "/pelsar_abc_2.sql";
        writeLongImport(file, rows);
        QFile f(file);
        QVERIFY(f.open(QIODevice::Append) && f.write(tail) == tail.size());
        f.close();
        writeFile(m_work + "/pelsar_tables외래키.SQL", "ALTER TABLE nowhere ADD x INT;\n");
        CopyRequest r = importRequest("keepold");
        r.foreign = fault == "script";
        r.foreignPath = m_work;

        int killed = 0;
        const Outcome o = JobFixture::run(r, [&](CopyJob &job) {
            connect(&job, &CopyJob::progress, &job, [&](CopyStage stage, qint64 done, qint64 total) {
                // The last report comes once every statement has succeeded, before the swap.
                if (fault == "cancel at end" && stage == CopyStage::Import && done == total)
                    job.cancel();
                if (stage != CopyStage::Import || done < total / 2 || done >= total || killed)
                    return;
                if (fault == "cancel")
                    job.cancel();
                if (fault != "kill")
                    return;
                const QStringList ids = TestServer::rows(
                    "SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '" + staging + "'");
                for (const QString &id : ids)
                    TestServer::exec("KILL CONNECTION " + id);
                killed = ids.size();
            });
        });
        QVERIFY(!o.copied);
        QCOMPARE(killed > 0, fault == "kill");
        QCOMPARE(o.messages.size(), box.isEmpty() ? 0 : 1);
        if (!box.isEmpty())
            QVERIFY2(QRegularExpression(box).match(o.messages.first()).hasMatch(),
                     qPrintable(o.messages.first()));
        const QString discarded = "가져오기를 마치지 못해 임시 DB(" + staging + ")를 삭제했습니다. 기존 DB(keepold)는 그대로입니다.";
        const QString last = box.isEmpty() ? QString("복사가 취소되었습니다.") : "복사 중단: " + o.messages.first();
        QCOMPARE(o.log.mid(o.log.size() - 2), (QStringList{discarded, last}));
        QCOMPARE(o.log.count(discarded), 1);
        QVERIFY(!o.log.contains("Local DB삭제:keepold"));
        QCOMPARE(snapshot("keepold"), before);
        QCOMPARE(stagingLeft(), QStringList{});
        JobFixture::dropDatabase("keepold");
    }

    // The staging database a crashed copy left goes with the next copy of the same target, and
    // only that one: another target's staging database and a name its LIKE pattern would match stay.
    void leftoverStaging_data()
    {
        QTest::addColumn<bool>("targetExists");
        QTest::addColumn<bool>("leftover");
        QTest::newRow("replacing, left over") << true << true;
        QTest::newRow("new name, left over") << false << true;
        QTest::newRow("nothing left over") << true << false;
    }
    void leftoverStaging()
    {
        QFETCH(bool, targetExists);
        QFETCH(bool, leftover);
        const QString staging = stagingDatabaseName("leftover");
        const QString others[] = {stagingDatabaseName("leftover2"),
                                  QString(staging).replace("_staging_", "XstagingX")};
        const auto crashed = [](const QString &db) {
            JobFixture::exec("DROP DATABASE IF EXISTS " + db + "; CREATE DATABASE " + db + "; CREATE TABLE " + db
                 + ".crashed (a INT)");
        };
        for (const QString &db : others)
            crashed(db);
        if (leftover)
            crashed(staging);
        if (targetExists)
            createOldDatabase("leftover");
        else
            JobFixture::dropDatabase("leftover");
        writeFile(dumpDir() + "/pelsar_abc_2.sql",
                  "CREATE TABLE fresh (a INT);\nINSERT INTO fresh VALUES (1);\n");

        const Outcome o = JobFixture::run(importRequest("leftover"));
        QVERIFY(o.copied);
        const QString removed = "이전 복사가 남긴 임시 DB 삭제:" + staging;
        QCOMPARE(o.log.first() == removed, leftover);
        QCOMPARE(o.log.filter("이전 복사가 남긴").size(), leftover ? 1 : 0);
        QCOMPARE(JobFixture::rowCounts("leftover"), (QMap<QString, qint64>{{"fresh", 1}}));
        QCOMPARE(stagingLeft(), QStringList{others[0]});
        for (const QString &db : others) {
            QCOMPARE(JobFixture::rowCounts(db).keys(), QStringList{"crashed"});
            JobFixture::dropDatabase(db);
        }
        JobFixture::dropDatabase("leftover");
    }

    // A foreign-key script that names the database waits for the swap: it sees and changes the
    // final database, never the old one.
    void scriptNamingTheDatabaseRunsAfterSwap()
    {
        createOldDatabase("fkswap");
        JobFixture::exec("DROP DATABASE IF EXISTS fk_witness; CREATE DATABASE fk_witness;"
             "CREATE TABLE fk_witness.seen (tables TEXT)");
        writeFile(dumpDir() + "/pelsar_abc_2.sql",
                  "CREATE TABLE customers (id INT PRIMARY KEY);\n"
                  "CREATE TABLE orders (id INT PRIMARY KEY, customer_id INT);\n"
                  "INSERT INTO customers VALUES (1);\nINSERT INTO orders VALUES (1, 1);\n");
        const QString script = m_work + "/pelsar_tables외래키.SQL";
        writeFile(script, "INSERT INTO fk_witness.seen SELECT GROUP_CONCAT(TABLE_NAME ORDER BY TABLE_NAME) "
                          "FROM information_schema.TABLES WHERE TABLE_SCHEMA = 'fkswap';\n"
                          "ALTER TABLE `fkswap`.orders ADD CONSTRAINT fk_late FOREIGN KEY (customer_id) "
                          "REFERENCES `fkswap`.customers (id);\n");
        CopyRequest r = importRequest("fkswap");
        r.foreign = true;
        r.foreignPath = m_work;
        const Outcome o = JobFixture::run(r);
        QVERIFY(o.copied);
        const int swapped = o.log.indexOf(QRegularExpression(kReplacedPattern.arg("fkswap")));
        QVERIFY(swapped > 0);
        QCOMPARE(o.log.value(swapped + 1), programName("mysql") + " fkswap -uroot -p**** < " + m_work + QDir::separator()
                                                  + "pelsar_tables외래키.SQL");
        QCOMPARE(TestServer::rows("SELECT tables FROM fk_witness.seen"), QStringList{"customers,orders"});
        QCOMPARE(TestServer::value("SELECT REFERENCED_TABLE_NAME"
                                   " FROM information_schema.REFERENTIAL_CONSTRAINTS"
                                   " WHERE CONSTRAINT_SCHEMA = 'fkswap' AND CONSTRAINT_NAME = 'fk_late'"),
                 QString("customers"));
        QCOMPARE(stagingLeft(), QStringList{});
        JobFixture::dropDatabase("fkswap");
        JobFixture::dropDatabase("fk_witness");
    }
};

QTEST_GUILESS_MAIN(TestStagedReplace)
#include "test_staged_replace.moc"
