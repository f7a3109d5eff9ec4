#include "modWaitProc.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <thread>

using namespace velmar;

namespace {

// The tests' own tool (tests/tools/TestTool.cpp), beside the test: every platform has it.
QString tool()
{
    return QCoreApplication::applicationDirPath() + "/velmar_testtool";
}

}  // namespace

class TestWaitProc : public QObject {
    Q_OBJECT
private slots:
    void splitWords_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("default options") << "-q -e" << QStringList{"-q", "-e"};
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("blanks only") << "   \t " << QStringList{};
        QTest::newRow("extra blanks") << "  -q   -e  " << QStringList{"-q", "-e"};
        QTest::newRow("double quotes") << "--where=\"id > 5\" -q" << QStringList{"--where=id > 5", "-q"};
        QTest::newRow("single quotes") << "'a b' c" << QStringList{"a b", "c"};
        QTest::newRow("escaped blank") << "a\\ b" << QStringList{"a b"};
        QTest::newRow("escape in double") << "\"a\\\"b\\\\c\\d\"" << QStringList{"a\"b\\c\\d"};
        QTest::newRow("backslash kept in single") << "'a\\b'" << QStringList{"a\\b"};
        QTest::newRow("empty quoted word") << "'' x" << QStringList{"", "x"};
        QTest::newRow("no expansion or operators") << "; rm -rf / && `id` $(id) > f"
                                                   << QStringList{";", "rm", "-rf", "/", "&&", "`id`", "$(id)", ">", "f"};
        QTest::newRow("korean") << "--comments '한글 옵션'" << QStringList{"--comments", "한글 옵션"};
    }
    void splitWords()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, words);
        QCOMPARE(splitShellWords(text), words);
    }

    void mask_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("masked");
        QTest::newRow("once") << "-uroot -pwexrolp > f" << "-uroot -p**** > f";
        QTest::newRow("twice") << "wexrolp-pwexrolp" << "****-p****";
        QTest::newRow("other case kept") << "-pWEXROLP wexrolP" << "-pWEXROLP wexrolP";
        QTest::newRow("adjacent") << "wexrolpwexrolp" << "********";
        QTest::newRow("absent") << "nothing" << "nothing";
    }
    void mask()
    {
        QFETCH(QString, text);
        QFETCH(QString, masked);
        QCOMPARE(maskSecret(text, QStringLiteral("wexrolp")), masked);
    }

    void commandLine()
    {
        QCOMPARE(commandLineText("mysqldump", {"-q", "-e", "pelsar_abc"}), QString("mysqldump -q -e pelsar_abc"));
        QCOMPARE(commandLineText("mysql", {"a b", "c\"d", ""}), QString("mysql \"a b\" \"c\\\"d\" \"\""));
    }

    void runWritesStdoutToFileInWorkingFolder()
    {
        QTemporaryDir tmp;
        const QString folder = tmp.path() + "/폴더 with blank";
        QVERIFY(QDir().mkpath(folder));
        const QString out = folder + "/out.txt";
        RunOptions o;
        o.stdoutFile = out;
        const RunResult r = RunAndWait(tool(), {"cwd"}, folder, true, false, o);
        QVERIFY(r.succeeded());
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()).trimmed(), QDir(folder).canonicalPath());
    }

    void runArgumentsAreNotInterpreted()
    {
        QTemporaryDir tmp;
        const QString out = tmp.path() + "/out.txt";
        RunOptions o;
        o.stdoutFile = out;
        const QString evil = "x; touch " + tmp.path() + "/owned $(id) `id` > y";
        const RunResult r = RunAndWait(tool(), {"print", evil}, tmp.path(), true, false, o);
        QVERIFY(r.succeeded());
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()), evil);
        QVERIFY(!QFile::exists(tmp.path() + "/owned"));
    }

    void runFeedsStdinAndReportsProgress()
    {
        QTemporaryDir tmp;
        const QString in = tmp.path() + "/in.bin";
        const QString out = tmp.path() + "/out.bin";
        QByteArray data(5 * 1024 * 1024 + 17, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 31 + (i >> 7));
        {
            QFile f(in);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(data);
        }
        RunOptions o;
        o.stdinFile = in;
        o.stdoutFile = out;
        qint64 lastFed = 0;
        o.progress = [&](qint64, qint64 fed) { QVERIFY(fed >= lastFed); lastFed = fed; };
        const RunResult r = RunAndWait(tool(), {"cat"}, tmp.path(), true, false, o);
        QVERIFY(r.succeeded());
        QCOMPARE(lastFed, qint64(data.size()));
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll() == data);
    }

    void runReportsExitCodeAndErrorOutput()
    {
        QTemporaryDir tmp;
        const RunResult r = RunAndWait(tool(), {"fail", "파일 does-not-exist"}, tmp.path(), true, false);
        QVERIFY(r.started);
        QVERIFY(!r.succeeded());
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(r.errorOutput, QString("파일 does-not-exist").toUtf8());
    }

    void startFailures_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("failure");
        QTest::newRow("missing program") << "velmar-no-such-program" << "" << "" << "program";
        QTest::newRow("missing input file") << "cat" << "missing.sql" << "" << "input";
        QTest::newRow("output in a missing folder") << "cat" << "" << "no-folder/out.sql" << "output";
        QTest::newRow("output is a folder") << "cat" << "" << "." << "output";
    }
    void startFailures()
    {
        QFETCH(QString, program);
        QFETCH(QString, input);
        QFETCH(QString, output);
        QFETCH(QString, failure);
        QTemporaryDir tmp;
        RunOptions o;
        if (!input.isEmpty())
            o.stdinFile = tmp.path() + "/" + input;
        if (!output.isEmpty())
            o.stdoutFile = tmp.path() + "/" + output;
        // The tests' own tool stands in for cat on every platform.
        const bool ours = program == "cat";
        const RunResult r = RunAndWait(ours ? tool() : program, ours ? QStringList{"cat"} : QStringList{}, tmp.path(),
                                       true, false, o);
        QVERIFY(!r.started);
        QVERIFY(!r.succeeded());
        QCOMPARE(r.inputUnreadable, failure == "input");
        QCOMPARE(r.outputUnwritable, failure == "output");
        const QString file = failure == "input" ? o.stdinFile : o.stdoutFile;
        QVERIFY2(failure == "program" ? !r.startError.isEmpty() : r.startError.startsWith(file + " ("),
                 qPrintable(r.startError));
    }

    // A cancel, and a program that writes nothing in its first moments, stop it at once.
    void stopsWithoutWaiting_data()
    {
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("cancel") << true;
        QTest::newRow("no first output") << false;
    }
    void stopsWithoutWaiting()
    {
        QFETCH(bool, cancelled);
        QTemporaryDir tmp;
        std::atomic_bool cancel{false};
        RunOptions o;
        o.cancel = &cancel;
        o.stdoutFile = tmp.path() + "/out.sql";
        if (!cancelled)
            o.firstOutputTimeoutMs = 300;
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            cancel = cancelled;
        });
        QElapsedTimer t;
        t.start();
        const RunResult r = RunAndWait(tool(), {"sleep", "30"}, QDir::tempPath(), true, false, o);
        canceller.join();
        QCOMPARE(r.cancelled, cancelled);
        QCOMPARE(r.timedOut, !cancelled);
        QVERIFY(!r.succeeded());
        QVERIFY(t.elapsed() < 5000);
    }
};

QTEST_GUILESS_MAIN(TestWaitProc)
#include "test_waitproc.moc"
