// The windows' messenger: real message boxes, and calls from a worker thread kept in order.
#include "BoxWatcher.h"
#include "FrmLog.h"
#include "FrmMain.h"
#include "GuiMessenger.h"

#include <QDesktopServices>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QElapsedTimer>
#include <QThread>
#include <QUrl>

#include <functional>

using namespace velmar;
using namespace velmar::test;

Q_DECLARE_METATYPE(velmar::Message)

namespace {

// Runs f on a worker thread and lets the window's thread serve it until it has ended.
bool runOnWorker(const std::function<void()> &f)
{
    // Not a spy's wait on finished: a worker that ends before the wait begins would count as
    // never ending.
    QThread *t = QThread::create(f);
    t->start();
    QElapsedTimer waited;
    waited.start();
    while (!t->wait(10) && waited.elapsed() < 60000)
        QCoreApplication::processEvents();
    const bool ended = t->isFinished();
    t->wait();
    delete t;
    return ended;
}

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

}  // namespace

class TestGuiMessenger : public QObject {
    Q_OBJECT

private slots:
    void boxes_data()
    {
        QTest::addColumn<Message>("message");
        QTest::addColumn<QMessageBox::StandardButton>("press");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::addColumn<QMessageBox::StandardButtons>("buttons");
        QTest::addColumn<QMessageBox::StandardButton>("defaultButton");
        QTest::addColumn<Answer>("answer");

        QTest::newRow("plain OK box") << Message{"복사완료", "", Icon::None, Buttons::Ok, Answer::Ok}
                                      << QMessageBox::Ok << "velmar" << QMessageBox::NoIcon
                                      << QMessageBox::StandardButtons(QMessageBox::Ok) << QMessageBox::Ok
                                      << Answer::Ok;
        QTest::newRow("own title, critical") << Message{"Error 1045", "접속오류", Icon::Critical, Buttons::Ok, Answer::Ok}
                                             << QMessageBox::Ok << "접속오류" << QMessageBox::Critical
                                             << QMessageBox::StandardButtons(QMessageBox::Ok) << QMessageBox::Ok
                                             << Answer::Ok;
        QTest::newRow("question, yes by default, answered no")
            << Message{"삭제하시겠습니까?", "", Icon::Question, Buttons::YesNo, Answer::Yes} << QMessageBox::No
            << "velmar" << QMessageBox::Question << (QMessageBox::Yes | QMessageBox::No) << QMessageBox::Yes
            << Answer::No;
        QTest::newRow("no by default, answered yes")
            << Message{"?", "", Icon::Exclamation, Buttons::YesNo, Answer::No} << QMessageBox::Yes << "velmar"
            << QMessageBox::Warning << (QMessageBox::Yes | QMessageBox::No) << QMessageBox::No << Answer::Yes;
        QTest::newRow("information") << Message{"i", "", Icon::Information, Buttons::Ok, Answer::Ok}
                                     << QMessageBox::Ok << "velmar" << QMessageBox::Information
                                     << QMessageBox::StandardButtons(QMessageBox::Ok) << QMessageBox::Ok
                                     << Answer::Ok;
    }
    void boxes()
    {
        QFETCH(Message, message);
        QFETCH(QMessageBox::StandardButton, press);
        QFETCH(QString, title);
        QFETCH(QMessageBox::Icon, icon);
        QFETCH(QMessageBox::StandardButtons, buttons);
        QFETCH(QMessageBox::StandardButton, defaultButton);
        QFETCH(Answer, answer);

        FrmMain w;
        w.show();
        BoxWatcher watcher;
        watcher.answer({press});
        QCOMPARE(w.windowMessenger()->show(message), answer);
        QCOMPARE(watcher.boxes().size(), 1);
        const BoxWatcher::Box box = watcher.boxes().first();
        QCOMPARE(box.text, message.text);
        QCOMPARE(box.title, title);
        QCOMPARE(box.icon, icon);
        QCOMPARE(box.buttons, buttons);
        QCOMPARE(box.defaultButton, defaultButton);
    }

    // Log lines from the copy's thread arrive in order, before the box that follows them, and
    // the thread waits for each answer.
    void workerCallsKeepTheirOrder()
    {
        FrmMain w;
        w.show();
        GuiMessenger *m = w.windowMessenger();
        BoxWatcher watcher;
        watcher.answer({QMessageBox::No, QMessageBox::Ok});
        QStringList logAtBox;
        QList<bool> logShownAtBox;
        watcher.onShown([&](const BoxWatcher::Box &) {
            logAtBox << w.loadedLogWindow()->text();
            logShownAtBox << w.loadedLogWindow()->isVisible();
        });

        QList<Answer> answers;
        QVERIFY(runOnWorker([&] {
            m->clearLog();
            m->addLog("Check Exist DB...");
            m->addLog("");
            answers << m->show(Message{"삭제?", "", Icon::Question, Buttons::YesNo, Answer::Yes});
            m->addLog("Dump...");
            answers << m->show(Message{"복사완료", ""});
            m->addLog("after");
        }));
        QCoreApplication::processEvents();
        QCOMPARE(answers, (QList<Answer>{Answer::No, Answer::Ok}));
        QCOMPARE(watcher.texts(), (QStringList{"삭제?", "복사완료"}));
        QCOMPARE(logAtBox, (QStringList{"Check Exist DB...\r\n\r\n", "Check Exist DB...\r\n\r\nDump...\r\n"}));
        QCOMPARE(logShownAtBox, (QList<bool>{true, true}));
        QCOMPARE(w.loadedLogWindow()->text(), QString("Check Exist DB...\r\n\r\nDump...\r\nafter\r\n"));
    }

    void clearLogEmptiesShowsAndFocuses()
    {
        FrmMain w;
        w.show();
        w.AddLog("old");
        QVERIFY(!w.loadedLogWindow()->isVisible());
        QVERIFY(runOnWorker([&] { w.windowMessenger()->clearLog(); }));
        QCoreApplication::processEvents();
        FrmLog *log = w.loadedLogWindow();
        QVERIFY(log->isVisible());
        QCOMPARE(log->text(), QString());
        QCOMPARE(log->parentWidget(), &w);
        QCOMPARE(log->focusWidget(), log->Text1);
    }

    void openUrlFromAWorker()
    {
        FrmMain w;
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("http", &catcher, "open");
        QVERIFY(runOnWorker([&] { w.windowMessenger()->openUrl("http://example.com/mdac/"); }));
        QCoreApplication::processEvents();
        QDesktopServices::unsetUrlHandler("http");
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl("http://example.com/mdac/")});
    }

    // While the window goes away nobody may be left waiting for an answer.
    void closingAnswersWithoutABox()
    {
        FrmMain w;
        w.show();
        GuiMessenger *m = w.windowMessenger();
        BoxWatcher watcher;
        m->setClosing(true);
        QList<Answer> answers;
        QVERIFY(runOnWorker([&] {
            answers << m->show(Message{"삭제?", "", Icon::Question, Buttons::YesNo, Answer::Yes});
            answers << m->show(Message{"복사완료", ""});
        }));
        answers << m->show(Message{"삭제?", "", Icon::Question, Buttons::YesNo, Answer::Yes});
        QCOMPARE(answers, (QList<Answer>{Answer::No, Answer::Ok, Answer::No}));
        QCOMPARE(watcher.boxes().size(), 0);
    }

    void closingShutsTheOpenBox()
    {
        FrmMain w;
        w.show();
        GuiMessenger *m = w.windowMessenger();
        BoxWatcher watcher;
        watcher.answer({QMessageBox::NoButton});
        watcher.onShown([&](const BoxWatcher::Box &) { m->setClosing(true); });
        Answer answer = Answer::Ok;
        QVERIFY(runOnWorker([&] {
            answer = m->show(Message{"삭제?", "", Icon::Question, Buttons::YesNo, Answer::Yes});
        }));
        QCOMPARE(answer, Answer::No);
        QCOMPARE(watcher.texts(), QStringList{"삭제?"});
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestGuiMessenger)
#include "test_guimessenger.moc"
