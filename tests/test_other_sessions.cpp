// Other connections to the local database that a copy is to drop: found, named, and waited for,
// ended or left as the user chooses; a cancel during the wait or during a lock wait of the drop
// leaves the old database whole. Each case holds a real second connection to the test server.
#include "CopyJob.h"
#include "JobFixture.h"
#include "RecordingMessenger.h"
#include "StagedReplace.h"
#include "TestServer.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <mysql.h>

#include <QThread>

#include <algorithm>
#include <functional>
#include <thread>

using namespace velmar;
using namespace velmar::test;

namespace {

// Starts a thread on the first log line that begins with trigger.
class TriggeringMessenger : public RecordingMessenger {
public:
    QString trigger;
    std::function<void()> action;

    void addLog(const QString &line) override
    {
        RecordingMessenger::addLog(line);
        if (!fired && !trigger.isEmpty() && line.startsWith(trigger)) {
            fired = true;
            worker = std::thread(action);
        }
    }
    ~TriggeringMessenger() override
    {
        if (worker.joinable())
            worker.join();
    }
    bool fired = false;
    std::thread worker;
};

}  // namespace

class TestOtherSessions : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        VELMAR_REQUIRE_SERVER();
        TestServer::exportEnvironment();
        JobFixture::createSourceDatabase("pelsar_abc", 50);
    }

    void otherSession_data()
    {
        QTest::addColumn<QString>("session");       // what the other connection runs, then keeps
        QTest::addColumn<QList<int>>("answers");    // replace?, wait?, end them?
        QTest::addColumn<QString>("trigger");       // the log line on which the other side acts
        QTest::addColumn<bool>("cancel");           // act by cancelling the copy (else: the session ends)
        QTest::addColumn<bool>("copied");
        QTest::addColumn<QString>("logged");        // a line the log must have
        const int yes = int(Answer::Yes), no = int(Answer::No);
        const QString txn = "USE target; BEGIN; SELECT COUNT(*) FROM old_marker";
        const QString waiting = "다른 연결이 끝나기를 기다립니다 (취소로 멈춥니다):";
        QTest::newRow("open transaction: wait") << txn << QList<int>{yes, yes} << waiting << false << true
                                                << "다른 연결이 모두 끝나 계속합니다.";
        QTest::newRow("only USE: end it") << "USE target" << QList<int>{yes, no, yes} << QString() << false << true
                                          << "다른 연결을 끊었습니다: 연결 ";
        QTest::newRow("stop") << txn << QList<int>{yes, no, no} << QString() << false << false
                              << "복사 중단: 다른 연결이 Local DB(target)를 사용하고 있어 복사를 멈췄습니다. 기존 DB는 그대로입니다.";
        QTest::newRow("cancel while waiting") << txn << QList<int>{yes, yes} << waiting << true << false
                                              << "복사가 취소되었습니다.";
        // Its default database is another: only the drop's bounded lock wait finds it.
        const QString hidden = "USE mysql; BEGIN; SELECT COUNT(*) FROM target.old_marker";
        const QString lockWait = "Local DB(target) 삭제가 다른 연결의 잠금을 기다립니다.";
        QTest::newRow("lock without the database") << hidden << QList<int>{yes} << lockWait << false << true
                                                   << lockWait;
        QTest::newRow("cancel during a lock wait") << hidden << QList<int>{yes} << lockWait << true << false
                                                   << "복사가 취소되었습니다.";
    }
    void otherSession()
    {
        QFETCH(QString, session);
        QFETCH(QList<int>, answers);
        QFETCH(QString, trigger);
        QFETCH(bool, cancel);
        QFETCH(bool, copied);
        QFETCH(QString, logged);
        JobFixture::dropDatabase("target");
        QCOMPARE(TestServer::exec("CREATE DATABASE target; CREATE TABLE target.old_marker (a INT)"), QString());

        MYSQL *other = mysql_init(nullptr);
        // Closed however the row ends (after the messenger has joined its thread): an open
        // transaction left behind would hold the next row's drop.
        const auto closeOther = qScopeGuard([&] {
            if (other)
                mysql_close(other);
        });
        QVERIFY(TestServer::connect(other, "root", TestServer::rootPassword, QByteArray(), CLIENT_MULTI_STATEMENTS));
        QCOMPARE(mysql_query(other, session.toUtf8().constData()), 0);
        do {
            if (MYSQL_RES *r = mysql_store_result(other))
                mysql_free_result(r);
        } while (mysql_next_result(other) == 0);
        const qint64 otherId = qint64(mysql_thread_id(other));

        // The row's name without the ":" that Windows does not take in a folder's name.
        const QString work = m_dir.path() + "/" + QString(QTest::currentDataTag()).remove(u':');
        QVERIFY(QDir().mkpath(work + "/dump"));
        CopyRequest r = JobFixture::request(work, "pelsar_", "abc", "target");
        r.stage[2] = false;
        CopyJob job(r);
        TriggeringMessenger rec;
        for (int a : answers)
            rec.answer({Answer(a)});
        QElapsedTimer sinceCancel;
        rec.trigger = trigger;
        rec.action = [&] {
            QThread::msleep(700);
            if (cancel) {
                sinceCancel.start();
                job.cancel();
            } else {
                mysql_close(other);
                other = nullptr;
            }
        };
        const bool done = job.ProcCopy();
        QVERIFY2(done == copied, qPrintable((rec.messageTexts() + rec.logEntries()).join("\n")));
        if (cancel)
            QVERIFY2(sinceCancel.elapsed() < 1500, qPrintable(QString::number(sinceCancel.elapsed())));
        const QStringList log = rec.logEntries();
        QVERIFY2(std::any_of(log.begin(), log.end(), [&](const QString &l) { return l.startsWith(logged); }),
                 qPrintable(log.join("\n")));
        const QString named = QString("연결 %1 (root@").arg(otherId);
        if (answers.size() > 1) {
            // The question names the connection.
            QVERIFY2(rec.messageTexts().value(1).startsWith("다른 연결이 Local DB(target)를 사용하고 있습니다.\r\n" + named),
                     qPrintable(rec.messageTexts().value(1)));
        }
        // Never half: the old database whole, or the new one complete; never the staging one.
        const QStringList expected = copied ? QStringList{"customers", "orders"} : QStringList{"old_marker"};
        QCOMPARE(TestServer::rows("SHOW TABLES FROM target"), expected);
        QVERIFY(!JobFixture::databaseExists(stagingDatabaseName("target")));
        QVERIFY(!log.join("\n").contains("교체 완료") || copied);
        if (other)
            mysql_close(other);
        other = nullptr;
        JobFixture::dropDatabase("target");
    }
};

QTEST_GUILESS_MAIN(TestOtherSessions)
#include "test_other_sessions.moc"
