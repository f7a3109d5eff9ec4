// The log window on its own: entries, the caret, the size and placement, filling on resize.
#include "FrmLog.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QTextBlock>
#include <QTest>

using namespace velmar;

class TestFrmLog : public QObject {
    Q_OBJECT

private slots:
    void entries_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("text");
        QTest::newRow("three in a row") << QStringList{"Check Exist DB...", "Dump...", "DumpFile Edit..."}
                                        << "Check Exist DB...\r\nDump...\r\nDumpFile Edit...\r\n";
        QTest::newRow("empty line") << QStringList{""} << "\r\n";
        QTest::newRow("empty between") << QStringList{"a", "", "b"} << "a\r\n\r\nb\r\n";
        QTest::newRow("entry spanning lines")
            << QStringList{"f.sql / Head AddLine...\r\n\r\nSET AUTOCOMMIT = 0;", "Import..."}
            << "f.sql / Head AddLine...\r\n\r\nSET AUTOCOMMIT = 0;\r\nImport...\r\n";
        QTest::newRow("korean") << QStringList{"Local DB삭제:pelsar_lee"} << "Local DB삭제:pelsar_lee\r\n";
    }
    void entries()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, text);
        FrmLog log(nullptr);
        for (const QString &line : lines)
            log.AddLog(line);
        QCOMPARE(log.text(), text);
        QVERIFY(log.Text1->textCursor().atEnd());
    }

    // The user may have clicked or selected anywhere: the entry still goes to the very end.
    void appendsAtEndWhateverTheCaret_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("anchor");
        QTest::newRow("caret at start") << 0 << 0;
        QTest::newRow("caret mid-line") << 3 << 3;
        QTest::newRow("selection") << 1 << 9;
    }
    void appendsAtEndWhateverTheCaret()
    {
        QFETCH(int, position);
        QFETCH(int, anchor);
        QWidget owner;
        FrmLog log(&owner);
        log.show();
        log.AddLog("first line");
        log.AddLog("second line");
        QTextCursor c = log.Text1->textCursor();
        c.setPosition(anchor);
        c.setPosition(position, QTextCursor::KeepAnchor);
        log.Text1->setTextCursor(c);

        log.AddLog("third");
        QCOMPARE(log.text(), QString("first line\r\nsecond line\r\nthird\r\n"));
        QVERIFY(log.Text1->textCursor().atEnd());
        QVERIFY(!log.Text1->textCursor().hasSelection());
    }

    void newestEntryStaysInView()
    {
        QWidget owner;
        FrmLog log(&owner);
        log.show();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        for (int i = 0; i < 300; ++i)
            log.AddLog(QString("line %1").arg(i));
        const QTextDocument *doc = log.Text1->document();
        const QRect view = log.Text1->viewport()->rect();
        QVERIFY(view.contains(log.Text1->cursorRect(QTextCursor(doc->findBlockByNumber(299)))));
        QVERIFY(!view.contains(log.Text1->cursorRect(QTextCursor(doc->findBlockByNumber(0)))));
    }

    void windowProperties()
    {
        QWidget owner;
        owner.setWindowIcon(QIcon(QPixmap(16, 16)));
        owner.setGeometry(200, 150, 366, 560);
        owner.show();
        FrmLog log(&owner);
        QCOMPARE(log.windowTitle(), QString("처리결과"));
        QVERIFY(log.isWindow());
        QCOMPARE(log.parentWidget(), &owner);
        QVERIFY(!log.isVisible());
        QCOMPARE(log.windowIcon().cacheKey(), owner.windowIcon().cacheKey());
        QCOMPARE(log.Text1->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(log.Text1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(log.Text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

        log.show();
        // 9780 x 5355 twips, inside the screen.
        QCOMPARE(log.size(), QSize(652, 357));
        QVERIFY(owner.screen()->availableGeometry().contains(log.frameGeometry()));
        QVERIFY(log.minimumSize().width() < 652 && log.maximumSize().width() > 652);
    }

    // Beside the main window where the screen has room, never off the screen.
    void placement_data()
    {
        QTest::addColumn<QRect>("owner");  // its frame
        QTest::addColumn<QRect>("placed");  // the log's client area
        QTest::newRow("room on the right") << QRect(100, 50, 370, 590) << QRect(478 + 2, 50 + 28, 652, 357);
        QTest::newRow("room on the left only") << QRect(1500, 50, 370, 590) << QRect(1500 - 8 - 656 + 2, 50 + 28, 652, 357);
        QTest::newRow("off the top left") << QRect(-300, -200, 370, 590) << QRect(78 + 2, 0 + 28, 652, 357);
        QTest::newRow("near the bottom") << QRect(100, 900, 370, 590) << QRect(480, 1040 - 387 + 28, 652, 357);
        QTest::newRow("no room either side, more on the left") << QRect(400, 50, 1200, 590) << QRect(0 + 2, 78, 652, 357);
        QTest::newRow("no room either side, more on the right") << QRect(100, 50, 1200, 590) << QRect(1920 - 656 + 2, 78, 652, 357);
    }
    void placement()
    {
        QFETCH(QRect, owner);
        QFETCH(QRect, placed);
        QCOMPARE(FrmLog::placedBeside(owner, QSize(652, 357), QSize(4, 30), QRect(0, 0, 1920, 1040)), placed);
    }

    void textBoxFillsTheWindow_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("larger") << QSize(900, 600);
        QTest::newRow("smaller") << QSize(200, 120);
        QTest::newRow("narrow and tall") << QSize(150, 700);
    }
    void textBoxFillsTheWindow()
    {
        QFETCH(QSize, size);
        QWidget owner;
        FrmLog log(&owner);
        log.show();
        QCOMPARE(log.Text1->geometry(), log.rect());
        log.resize(size);
        QCOMPARE(log.size(), size);
        QCOMPARE(log.Text1->geometry(), QRect(QPoint(0, 0), size));
    }

    void minimisedLeavesTheTextBoxAlone()
    {
        QWidget owner;
        FrmLog log(&owner);
        log.show();
        const QRect before = log.Text1->geometry();
        log.setWindowState(Qt::WindowMinimized);
        QVERIFY(log.isMinimized());
        log.resize(300, 200);
        QCOMPARE(log.Text1->geometry(), before);
        log.setWindowState(Qt::WindowNoState);
        QCOMPARE(log.Text1->geometry(), QRect(0, 0, 300, 200));
    }

    // Closing the window unloads it, so that the next use starts afresh.
    void closingUnloads()
    {
        QWidget owner;
        QPointer<FrmLog> log = new FrmLog(&owner);
        log->show();
        log->AddLog("x");
        log->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(log.isNull());
    }
};

QTEST_MAIN(TestFrmLog)
#include "test_frmlog.moc"
