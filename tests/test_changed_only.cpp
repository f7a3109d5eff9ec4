// A refresh of the changed tables only: after any kind of change on the source or on the local
// copy it leaves the local database equal to a full copy, and copies exactly the tables that
// differ.
#include "CopyJob.h"
#include "JobFixture.h"
#include "TestServer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <mysql.h>

#include <thread>

using namespace velmar;
using namespace velmar::test;

namespace {

// A parent with children by foreign key, a table with a trigger and binary data, a table
// without a primary key, a generated column, a view and a procedure.
void createSource()
{
    JobFixture::dropDatabase("co_src");
    JobFixture::exec(
        "CREATE DATABASE co_src DEFAULT CHARSET utf8mb4; USE co_src;"
        "CREATE TABLE co_src.p (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(30) NOT NULL);"
        "CREATE TABLE co_src.c (id INT PRIMARY KEY, p_id INT NOT NULL, qty INT,"
        " twice INT AS (qty * 2) STORED, FOREIGN KEY (p_id) REFERENCES co_src.p (id));"
        "CREATE TABLE co_src.u (id INT PRIMARY KEY, v VARCHAR(20), data BLOB);"
        "CREATE TABLE co_src.n (v VARCHAR(20));"
        "INSERT INTO co_src.p (name) SELECT CONCAT('부모 ', seq) FROM seq_1_to_20;"
        "INSERT INTO co_src.c (id, p_id, qty) SELECT seq, 1 + seq % 20, seq FROM seq_1_to_60;"
        "INSERT INTO co_src.u SELECT seq, CONCAT('값', seq), UNHEX(REPEAT('00FF7C', seq)) FROM seq_1_to_30;"
        "INSERT INTO co_src.n VALUES ('a'), ('b'), (NULL);"
        "CREATE VIEW co_src.v AS SELECT p.name, c.qty FROM co_src.p JOIN co_src.c ON c.p_id = p.id;"
        "CREATE TRIGGER co_src.u_bi BEFORE INSERT ON co_src.u FOR EACH ROW SET NEW.v = LOWER(NEW.v);"
        "CREATE PROCEDURE co_src.pr() SELECT COUNT(*) FROM co_src.p;");
}

CopyRequest copyTo(const QString &folder, const QString &db, bool changedOnly)
{
    CopyRequest r = JobFixture::request(folder, "co_", "src", db);
    r.dumpOption = "-q -e -R";
    r.changedOnly = changedOnly;
    return r;
}

// A copy that ran to its end; the log and boxes of one that did not.
#define QVERIFY_COPIED(outcome)                                                                                   \
    do {                                                                                                         \
        const CopyOutcome o_ = (outcome);                                                                        \
        QVERIFY2(o_.copied, qPrintable(o_.log.join('\n') + '\n' + o_.messages.join('\n')));                    \
    } while (false)

// "table: reason" for each table the refresh logged as copied again or dropped.
QStringList changesLogged(const QStringList &log)
{
    QStringList changes;
    for (const QString &line : log) {
        if (line.startsWith("  ") && line.contains(": "))
            changes << line.trimmed();
    }
    changes.sort();
    return changes;
}

}  // namespace

class TestChangedOnly : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        VELMAR_REQUIRE_SERVER();
        TestServer::exportEnvironment();
    }

    void refreshEqualsFullCopy_data()
    {
        QTest::addColumn<QString>("onSource");
        QTest::addColumn<QString>("onLocal");
        QTest::addColumn<QStringList>("changes");
        QTest::newRow("row updated") << "UPDATE co_src.u SET v = 'z' WHERE id = 2" << "" << QStringList{"u: 내용 변경"};
        // The parent changed alone: the children's constraints must end on the new parent.
        QTest::newRow("row inserted") << "INSERT INTO co_src.p (name) VALUES ('새 행')" << "" << QStringList{"p: 내용 변경"};
        QTest::newRow("row deleted") << "DELETE FROM co_src.c WHERE id = 3" << "" << QStringList{"c: 내용 변경"};
        QTest::newRow("column added") << "ALTER TABLE co_src.u ADD COLUMN extra INT DEFAULT 7" << ""
                                      << QStringList{"u: 정의 변경"};
        QTest::newRow("table dropped") << "DROP TABLE co_src.n" << "" << QStringList{"n: 원본에서 삭제"};
        QTest::newRow("table added") << "CREATE TABLE co_src.t2 (a INT PRIMARY KEY); INSERT INTO co_src.t2 VALUES (1)"
                                     << "" << QStringList{"t2: 새 테이블"};
        QTest::newRow("table renamed") << "RENAME TABLE co_src.n TO co_src.n2" << ""
                                       << QStringList{"n2: 새 테이블", "n: 원본에서 삭제"};
        QTest::newRow("view changed") << "CREATE OR REPLACE VIEW co_src.v AS SELECT id FROM co_src.p" << ""
                                      << QStringList{};
        QTest::newRow("trigger changed")
            << "DROP TRIGGER co_src.u_bi; CREATE TRIGGER co_src.u_bi BEFORE INSERT ON co_src.u FOR EACH ROW SET NEW.v = UPPER(NEW.v)"
            << "" << QStringList{};
        QTest::newRow("routine changed") << "DROP PROCEDURE co_src.pr; CREATE PROCEDURE co_src.pr() SELECT 2" << ""
                                         << QStringList{};
        QTest::newRow("row edited locally") << "" << "UPDATE co_loc.n SET v = 'local' WHERE v = 'a'"
                                            << QStringList{"n: 내용 변경"};
        QTest::newRow("table made locally") << "" << "CREATE TABLE co_loc.mine (a INT)"
                                            << QStringList{"mine: 원본에서 삭제"};
        // Equal rows, a counter moved on: the table stays, its next value follows the source.
        QTest::newRow("counter only") << "INSERT INTO co_src.p (name) VALUES ('x'); DELETE FROM co_src.p WHERE name = 'x'"
                                      << "" << QStringList{};
        QTest::newRow("database's character set") << "ALTER DATABASE co_src CHARACTER SET utf8mb3" << ""
                                                  << QStringList{};
        QTest::newRow("nothing") << "" << "" << QStringList{};
    }

    void refreshEqualsFullCopy()
    {
        QFETCH(QString, onSource);
        QFETCH(QString, onLocal);
        QFETCH(QStringList, changes);
        QTemporaryDir folder;
        createSource();
        QVERIFY_COPIED(JobFixture::run(copyTo(folder.path(), "co_loc", false)));
        const QString fullDump = folder.path() + "/dump/co_src_2.sql";
        const qint64 fullSize = QFileInfo(fullDump).size();
        if (!onSource.isEmpty())
            JobFixture::exec(onSource);
        if (!onLocal.isEmpty())
            JobFixture::exec(onLocal);

        const CopyOutcome refresh = JobFixture::run(copyTo(folder.path(), "co_loc", true));
        QVERIFY_COPIED(refresh);
        QCOMPARE(changesLogged(refresh.log), changes);
        // Only those were dumped and moved in.
        const qsizetype dropped = changes.filter(": 원본에서 삭제").size();
        const QString swapped = QString("Local DB 부분 교체 완료: co_loc (테이블 교체 %1개, 삭제 %2개,")
                                    .arg(changes.size() - dropped)
                                    .arg(dropped);
        QVERIFY2(!refresh.log.filter(swapped).isEmpty(), qPrintable(refresh.log.join('\n')));
        // The refresh wrote its own files: the full dump an import alone would load is untouched.
        QVERIFY(QFileInfo::exists(folder.path() + "/dump/co_src@changed_2.sql"));
        QCOMPARE(QFileInfo(fullDump).size(), fullSize);

        JobFixture::dropDatabase("co_full");
        QVERIFY_COPIED(JobFixture::run(copyTo(folder.path(), "co_full", false)));
        QCOMPARE(JobFixture::snapshot("co_loc"), JobFixture::snapshot("co_full"));
        // The constraint holds on the table that is there now, not on one moved away.
        QVERIFY(TestServer::exec("DELETE FROM co_loc.p WHERE id = 1").startsWith("Cannot delete or update a parent row"));
        QVERIFY(TestServer::rows("SHOW DATABASES LIKE 'velmar\\_staging\\_%'").isEmpty());
    }

    // A table of the local database held locked by another connection makes the comparison wait;
    // a cancel ends the wait at once and leaves the database as it was.
    void cancelWhileComparisonWaits()
    {
        QTemporaryDir folder;
        createSource();
        QVERIFY_COPIED(JobFixture::run(copyTo(folder.path(), "co_loc", false)));
        JobFixture::exec("UPDATE co_src.u SET v = 'z' WHERE id = 2");
        const QStringList before = JobFixture::snapshot("co_loc");
        MYSQL *other = mysql_init(nullptr);
        const auto closeOther = qScopeGuard([&] { mysql_close(other); });
        QVERIFY(TestServer::connect(other, "root", TestServer::rootPassword, QByteArray(), 0));
        QCOMPARE(mysql_query(other, "LOCK TABLES co_loc.u WRITE"), 0);

        QElapsedTimer sinceCancel;
        std::thread canceller;
        const CopyOutcome o = JobFixture::run(copyTo(folder.path(), "co_loc", true), [&](CopyJob &job) {
            canceller = std::thread([&] {
                QThread::msleep(1500);
                sinceCancel.start();
                job.cancel();
            });
        });
        canceller.join();
        QVERIFY(!o.copied);
        QVERIFY2(sinceCancel.elapsed() < 1000, qPrintable(QString::number(sinceCancel.elapsed())));
        QVERIFY(o.log.contains("변경된 테이블 찾기..."));
        QCOMPARE(o.log.last(), QString("복사가 취소되었습니다."));
        QCOMPARE(mysql_query(other, "UNLOCK TABLES"), 0);
        QCOMPARE(JobFixture::snapshot("co_loc"), before);
    }

    void withoutLocalDatabaseCopiesAll()
    {
        QTemporaryDir folder;
        createSource();
        JobFixture::dropDatabase("co_new");
        const CopyOutcome o = JobFixture::run(copyTo(folder.path(), "co_new", true));
        QVERIFY(o.copied);
        QVERIFY(o.log.contains("Local DB(co_new)가 없어 전체를 복사합니다."));
        QCOMPARE(JobFixture::rowCounts("co_new"), JobFixture::rowCounts("co_src"));
        QVERIFY(!QFileInfo::exists(folder.path() + "/dump/co_src@changed_2.sql"));
    }

    void cleanupTestCase()
    {
        for (const char *db : {"co_src", "co_loc", "co_full", "co_new"})
            JobFixture::dropDatabase(db);
    }
};

QTEST_GUILESS_MAIN(TestChangedOnly)
#include "test_changed_only.moc"
