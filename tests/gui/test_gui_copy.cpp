// Copies driven through the window against the test server: the job runs on its worker while
// the window stays live, shows the log as it is written, and can be cancelled or closed.
#include "BoxWatcher.h"
#include "FrmLog.h"
#include "FrmMain.h"
#include "GuiMessenger.h"
#include "GuiTestSupport.h"
#include "JobFixture.h"
#include "TestFiles.h"
#include "TestServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <functional>
#include <memory>

using namespace velmar;
using namespace velmar::test;

namespace {

constexpr int kCopyTimeoutMs = 5 * 60 * 1000;  // a safety net only
const QString kCloseQuestion = QStringLiteral("복사가 진행 중입니다.\r\n복사를 취소하고 닫을까요?");

// What the window looked like while a message box of the copy was up.
struct Snapshot {
    QString log;
    bool running = false;
    bool copyEnabled = true;
    bool fieldsEnabled = true;
    bool cancelEnabled = false;
    int bar = -1;  // the bar's share; -1 while it is busy
    Qt::CursorShape cursor = Qt::ArrowCursor;
};

Snapshot snapshot(FrmMain &w)
{
    Snapshot s;
    s.log = w.loadedLogWindow() ? w.loadedLogWindow()->text() : QStringLiteral("<no log window>");
    s.running = w.isCopyRunning();
    s.copyEnabled = w.cmdCopy->isEnabled();
    s.fieldsEnabled = w.txtField[0]->isEnabled() || w.cmbField[0]->isEnabled() || w.chkWork[0]->isEnabled();
    s.cancelEnabled = w.cmdCancel->isEnabled();
    s.bar = w.pgbCopy->maximum() == 0 ? -1 : w.pgbCopy->value();
    s.cursor = w.cursor().shape();
    return s;
}

// Fills the fields as a user would: typed, with the boxes clicked.
void fill(FrmMain &w, const QString &prefix, const QString &user, const QString &newDB)
{
    typeText(w.cmbField[0]->lineEdit(), "localhost");
    typeText(w.cmbField[1]->lineEdit(), prefix);
    typeText(w.txtField[0], user);
    typeText(w.txtField[3], newDB);
    if (w.chkField[0]->isChecked())
        QTest::mouseClick(w.chkField[0], Qt::LeftButton);
}

// The main window as the program shows it: its messenger installed, the dump folder under
// the test's own folder.
struct CopyWindow {
    FrmMain w;
    explicit CopyWindow(const QString &folder)
    {
        w.setProgramFolder(folder);
        setMessenger(w.windowMessenger());
        w.show();
    }
    ~CopyWindow() { setMessenger(nullptr); }
    bool ready() { return QTest::qWaitForWindowExposed(&w); }

    // Presses the copy button; false when the copy did not end in time.
    bool copy(QSignalSpy &finished)
    {
        QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        return finished.wait(kCopyTimeoutMs);
    }
};

// An import-only copy into newDB of a dump file large enough to be caught while it loads.
void prepareLongImport(FrmMain &w, const QString &folder, const QString &newDB, int rows = 60000)
{
    JobFixture::dropDatabase(newDB);
    writeLongImport(folder + "/dump/pelsar_gui_2.sql", rows);
    fill(w, "pelsar_", "gui", newDB);
    QTest::mouseClick(w.chkWork[0], Qt::LeftButton);
    QTest::mouseClick(w.chkWork[2], Qt::LeftButton);
}

// Runs f once, on the first progress of the load that is neither at its start nor its end.
void whileLoading(FrmMain &w, std::function<void()> f)
{
    auto done = std::make_shared<bool>(false);
    QObject::connect(w.pgbCopy, &QProgressBar::valueChanged, &w, [&w, f, done](int value) {
        if (!*done && value > 0 && value < 100 && w.isCopyRunning()) {
            *done = true;
            f();
        }
    });
}

}  // namespace

class TestGuiCopy : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString folder() const { return m_dir.path() + "/" + QTest::currentTestFunction(); }

private slots:
    void initTestCase()
    {
        VELMAR_REQUIRE_SERVER();
        TestServer::exportEnvironment();
        JobFixture::createSourceDatabase("pelsar_gui");
    }

    void init()
    {
        clearStore();
        QDir().mkpath(folder() + "/dump");
    }

    void fullCopy()
    {
        JobFixture::dropDatabase("pelsar_guicopy");
        JobFixture::dropUser("guicopy");
        CopyWindow window(folder());
        FrmMain &w = window.w;
        QVERIFY(window.ready());
        fill(w, "pelsar_", "gui", "pelsar_guicopy");
        QCOMPARE(w.txtField[2]->text(), QString("guicopy"));

        BoxWatcher boxes;
        QList<Snapshot> atBox;
        boxes.onShown([&](const BoxWatcher::Box &) { atBox << snapshot(w); });
        QSignalSpy started(&w, &FrmMain::copyStarted);
        QSignalSpy finished(&w, &FrmMain::copyFinished);
        QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        QCOMPARE(started.size(), 1);
        // The click returns at once: the copy runs on its own thread.
        QVERIFY(w.isCopyRunning());
        QVERIFY(!w.cmdCopy->isEnabled());
        QVERIFY(finished.wait(kCopyTimeoutMs));

        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(boxes.texts(), QStringList{"복사완료"});
        QCOMPARE(boxes.boxes().first().title, QString("velmar"));
        // While "복사완료" was up the job had not ended, and every line was already on screen;
        // the bar was full and there was nothing left to cancel.
        const Snapshot s = atBox.first();
        QVERIFY(s.running);
        QVERIFY(!s.copyEnabled);
        QVERIFY(!s.fieldsEnabled);
        QVERIFY(!s.cancelEnabled);
        QCOMPARE(s.bar, 100);
        QCOMPARE(s.cursor, Qt::WaitCursor);
        const QStringList lines = s.log.split("\r\n");
        QCOMPARE(lines.first(), QString("Check Exist DB..."));
        for (const char *stageLine : {"Dump...", "DumpFile Edit...", "Import..."})
            QVERIFY2(lines.contains(stageLine), qPrintable(s.log));
        QVERIFY2(lines.indexOf("Dump...") < lines.indexOf("Import..."), qPrintable(s.log));
        QCOMPARE(lines.last(), QString());
        QVERIFY2(QRegularExpression("^\\[Finish\\] Total Time=\\d\\d:\\d\\d:\\d\\d$").match(lines[lines.size() - 2]).hasMatch(),
                 qPrintable(s.log));
        QCOMPARE(w.loadedLogWindow()->text(), s.log);

        // The window is usable again.
        QVERIFY(!w.isCopyRunning());
        QVERIFY(w.cmdCopy->isEnabled());
        QVERIFY(w.txtField[0]->isEnabled());
        QVERIFY(!w.cmdCancel->isEnabled());
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(w.lblStatus->text(), QString("완료"));
        QCOMPARE(w.pgbCopy->value(), 100);

        QVERIFY(QFile::exists(folder() + "/dump/pelsar_gui_2.sql"));
        QCOMPARE(JobFixture::checksums("pelsar_guicopy"), JobFixture::checksums("pelsar_gui"));
        QCOMPARE(JobFixture::rowCounts("pelsar_guicopy"), JobFixture::rowCounts("pelsar_gui"));
        QVERIFY(TestServer::value("SELECT COUNT(*) FROM mysql.user WHERE User = 'guicopy'").toInt() > 0);
    }

    // A missing source: the message comes while the copy runs, the focus goes to the prefix
    // once the window is usable again.
    void missingSourceMovesTheFocus()
    {
        CopyWindow window(folder());
        FrmMain &w = window.w;
        QVERIFY(window.ready());
        fill(w, "pelsar_", "nosuchdb", "pelsar_nosuchcopy");
        BoxWatcher boxes;
        QSignalSpy finished(&w, &FrmMain::copyFinished);
        QVERIFY(window.copy(finished));
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(boxes.texts(), QStringList{"존재하지 않는 DB입니다. localhost/pelsar_nosuchdb"});
        QCOMPARE(focusName(&w), QString("cmbField(1)"));
        QCOMPARE(w.loadedLogWindow()->text(),
                 QString("Check Exist DB...\r\n복사 중단: 존재하지 않는 DB입니다. localhost/pelsar_nosuchdb\r\n"));
    }

    void cancelDuringALongLoad()
    {
        CopyWindow window(folder());
        FrmMain &w = window.w;
        QVERIFY(window.ready());
        prepareLongImport(w, folder(), "gui_cancelled");
        if (QTest::currentTestFailed())
            return;

        BoxWatcher boxes;
        int shareAtCancel = -1;
        QString statusAtCancel;
        whileLoading(w, [&] {
            shareAtCancel = w.pgbCopy->value();
            statusAtCancel = w.lblStatus->text();
            QTest::mouseClick(w.cmdCancel, Qt::LeftButton);
        });
        QSignalSpy finished(&w, &FrmMain::copyFinished);
        QVERIFY(window.copy(finished));

        QVERIFY2(shareAtCancel > 0, "the load showed no progress to cancel at");
        QVERIFY2(QRegularExpression("^가져오기: \\d+% \\(.+ / .+ MB\\), .+/s$").match(statusAtCancel).hasMatch(),
                 qPrintable(statusAtCancel));
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(boxes.texts(), QStringList{});
        const QString log = w.loadedLogWindow()->text();
        QVERIFY2(log.endsWith("복사가 취소되었습니다.\r\n"), qPrintable(log));
        QVERIFY(!log.contains("[Finish]"));
        QCOMPARE(w.lblStatus->text(), QString("취소됨"));
        QVERIFY(w.cmdCopy->isEnabled());
        QVERIFY(!w.cmdCancel->isEnabled());
        JobFixture::dropDatabase("gui_cancelled");
    }

    // Closing the window mid-copy asks first; after Yes the window and its log go at once and
    // the copy is cancelled.
    void closeDuringACopy()
    {
        CopyWindow window(folder());
        FrmMain &w = window.w;
        QVERIFY(window.ready());
        prepareLongImport(w, folder(), "gui_closed");
        if (QTest::currentTestFailed())
            return;

        BoxWatcher boxes;
        boxes.answer({QMessageBox::Yes});
        bool closeAsked = false;
        bool visibleAfterClose = true;
        QPointer<FrmLog> log;
        whileLoading(w, [&] {
            closeAsked = true;
            log = w.loadedLogWindow();
            w.close();
            visibleAfterClose = w.isVisible() || !w.isCopyRunning();
        });
        QSignalSpy finished(&w, &FrmMain::copyFinished);
        QVERIFY(window.copy(finished));

        QVERIFY(closeAsked);
        QVERIFY(!visibleAfterClose);
        QVERIFY(!w.isVisible());
        // The log went with the window, and the copy's last lines load no hidden one.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(log.isNull());
        QVERIFY(!w.loadedLogWindow());
        QCOMPARE(boxes.texts(), QStringList{kCloseQuestion});
        JobFixture::dropDatabase("gui_closed");
    }

    // A copy that ends while the close question is open takes the question away, and the
    // closing the user asked for goes ahead.
    void copyEndsUnderTheCloseQuestion()
    {
        CopyWindow window(folder());
        FrmMain &w = window.w;
        QVERIFY(window.ready());
        // Loaded to its end: shorter than the others, which are cut short.
        prepareLongImport(w, folder(), "gui_outlived", 3000);
        if (QTest::currentTestFailed())
            return;

        BoxWatcher boxes;
        boxes.answer({QMessageBox::NoButton});  // the question stays unanswered; "복사완료" gets OK
        bool closed = false;
        whileLoading(w, [&] {
            w.close();  // returns once the question has gone
            closed = !w.isVisible();
        });
        QSignalSpy finished(&w, &FrmMain::copyFinished);
        QVERIFY(window.copy(finished));
        QTRY_VERIFY(closed);
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(boxes.texts(), (QStringList{kCloseQuestion, "복사완료"}));
        QVERIFY(!w.loadedLogWindow() || !w.loadedLogWindow()->isVisible());
        JobFixture::dropDatabase("gui_outlived");
    }

    // A source server that takes the connection and never answers: 취소, 닫기 and the close box
    // act at once, whatever the worker waits for; closing asks first, and No keeps everything.
    void silentServer_data()
    {
        QTest::addColumn<QString>("action");  // "cancel", "close button" or "close box"
        QTest::addColumn<QMessageBox::StandardButton>("answer");  // to the close question
        QTest::addColumn<bool>("windowStays");
        QTest::addColumn<QString>("status");
        QTest::newRow("취소") << "cancel" << QMessageBox::NoButton << true << "취소하는 중...";
        QTest::newRow("닫기, 예") << "close button" << QMessageBox::Yes << false << "취소하는 중...";
        QTest::newRow("닫기, 아니요") << "close button" << QMessageBox::No << true << "원본 DB 확인";
        QTest::newRow("close box, 예") << "close box" << QMessageBox::Yes << false << "취소하는 중...";
    }
    void silentServer()
    {
        QFETCH(QString, action);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, windowStays);
        QFETCH(QString, status);
        QTcpServer silent;  // takes the connection and never says a word
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        CopyWindow window(folder());
        FrmMain &w = window.w;
        QVERIFY(window.ready());
        fill(w, "pelsar_", "gui", "gui_silent");
        w.cmbField[0]->setEditText("127.0.0.1:" + QString::number(silent.serverPort()));
        BoxWatcher boxes;
        if (answer != QMessageBox::NoButton)
            boxes.answer({answer});
        QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        QTRY_COMPARE(w.lblStatus->text(), QString("원본 DB 확인"));
        QTest::qWait(200);

        QElapsedTimer clock;
        clock.start();
        if (action == "cancel")
            QTest::mouseClick(w.cmdCancel, Qt::LeftButton);
        else if (action == "close button")
            QTest::mouseClick(w.cmdClose, Qt::LeftButton);
        else
            w.windowHandle()->close();
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(boxes.texts(), answer == QMessageBox::NoButton ? QStringList{} : QStringList{kCloseQuestion});
        if (answer != QMessageBox::NoButton)
            QCOMPARE(boxes.boxes().first().defaultButton, QMessageBox::No);
        QCOMPARE(w.isVisible(), windowStays);
        QCOMPARE(w.loadedLogWindow() && w.loadedLogWindow()->isVisible(), windowStays);
        QVERIFY(w.isCopyRunning());
        QCOMPARE(w.lblStatus->text(), status);
        QCOMPARE(w.cmdCancel->isEnabled(), status != "취소하는 중...");
        if (status == "취소하는 중...") {
            // The cancel gives up the waiting connection: the copy ends at once.
            QVERIFY(w.waitForCopyEnd(2000));
            return;
        }
        // Not cancelled: the copy still waits on the server.
        clock.restart();
        QVERIFY(!w.waitForCopyEnd(300));
        QVERIFY(clock.elapsed() < 2000);

        // The server drops the connection: the worker's wait ends and so does the copy.
        while (QTcpSocket *connection = silent.nextPendingConnection())
            connection->abort();
        silent.close();
        QVERIFY(w.waitForCopyEnd(60000));
    }

    void cleanupTestCase()
    {
        if (!TestServer::available())
            return;
        JobFixture::dropDatabase("pelsar_gui");
        JobFixture::dropDatabase("pelsar_guicopy");
        JobFixture::dropUser("guicopy");
    }
};

QTEST_MAIN(TestGuiCopy)
#include "test_gui_copy.moc"
