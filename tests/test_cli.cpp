// velmar-cli as a user runs it: a separate process, the real programs, the test server.
#include "CliProgress.h"
#include "JobFixture.h"
#include "StagedReplace.h"
#include "TestFiles.h"
#include "PlatformText.h"
#include "ProgramInfo.h"
#include "SettingsStore.h"
#include "TestServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#endif

using namespace velmar;
using namespace velmar::test;

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// velmar-cli's output through a pipe: UTF-8 with the platform's line ends, each line end once.
// The text comes back with "\n" line ends, or marked when the line ends are wrong.
QString fromPipe(const QByteArray &bytes)
{
#ifdef Q_OS_WIN
    QByteArray lines = bytes;
    lines.replace("\r\n", "\n");
    if (lines.contains('\r') || bytes.count('\n') != bytes.count("\r\n"))
        return "<line ends not CR LF once> " + QString::fromUtf8(bytes);
    return QString::fromUtf8(lines);
#else
    if (bytes.contains('\r'))
        return "<line ends not LF> " + QString::fromUtf8(bytes);
    return QString::fromUtf8(bytes);
#endif
}

CliRun runCli(const QStringList &args)
{
    QProcess p;
    p.setProgram(QStringLiteral(VELMAR_CLI_PATH));
    p.setArguments(args);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    if (!p.waitForFinished(600000))
        return {};
    return {p.exitCode(), fromPipe(p.readAllStandardOutput()), fromPipe(p.readAllStandardError())};
}

#ifdef Q_OS_UNIX
// The processes of a session that are still alive (zombies do not count), read from /proc.
QList<qint64> liveProcessesOfSession(qint64 session)
{
    QList<qint64> live;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile f("/proc/" + entry + "/stat");
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        // After "pid (name) ": state ppid pgrp session ...
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 3 && fields[3].toLongLong() == session && fields[0] != "Z")
            live << entry.toLongLong();
    }
    return live;
}
#endif

QByteArray storeFile()
{
    QFile f(settingsFile());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        VELMAR_REQUIRE_SERVER();
        TestServer::exportEnvironment();
        JobFixture::createSourceDatabase("dorvik_cli", 20);
        // velmar-cli inherits the test's throwaway store.
        QVERIFY2(!settingsFile().isEmpty(), "VELMAR_SETTINGS_FILE is not set");
        QFile::remove(settingsFile());
    }

    void helpAndVersion()
    {
        const CliRun help = runCli({"--help"});
        QCOMPARE(help.exitCode, 0);
        for (const char *option : {"--host", "--db", "--user", "--option", "--new-db", "--new-user", "--fk", "--no-fk",
                                   "--fk-path", "--drop-existing", "--ask-before-drop", "--ord-user", "--no-ord-user",
                                   "--stages", "--yes", "--version"})
            QVERIFY2(help.out.contains(option), option);
        const CliRun version = runCli({"--version"});
        QCOMPARE(version.exitCode, 0);
        const ProgramVersion v = programVersion();
        QCOMPARE(version.out.trimmed(), QString("velmar %1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision));
    }

    void refusedRequests_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty store, no host") << QStringList{"--db", "dorvik_", "--user", "cli"} << "host를 입력하세요.\n";
        QTest::newRow("no stage") << QStringList{"--host", "h", "--stages", ""} << "작업범위가 선택되지 않았습니다.\n";
        const QString hint = "velmar-cli --help로 사용법을 볼 수 있습니다.\n";
        QTest::newRow("bad stage") << QStringList{"--host", "h", "--stages", "1,4"}
                                   << "--stages는 쉼표로 구분한 1, 2, 3입니다: 1,4\n" + hint;
        QTest::newRow("conflicting options") << QStringList{"--fk", "--no-fk"}
                                             << "함께 쓸 수 없는 옵션입니다: --fk, --no-fk\n" + hint;
        QTest::newRow("conflicting refresh options") << QStringList{"--changed-only", "--full"}
                                                     << "함께 쓸 수 없는 옵션입니다: --changed-only, --full\n" + hint;
        QTest::newRow("unknown option") << QStringList{"--host", "h", "--frob"} << "알 수 없는 옵션입니다: --frob\n" + hint;
        QTest::newRow("unknown options") << QStringList{"-z", "--frob"} << "알 수 없는 옵션입니다: -z, --frob\n" + hint;
        QTest::newRow("missing value") << QStringList{"--host"} << "--host 뒤에 값이 없습니다.\n" + hint;
        QTest::newRow("value for a switch") << QStringList{"--yes=1"} << "값을 받지 않는 옵션입니다: --yes\n" + hint;
        QTest::newRow("stray words") << QStringList{"--host", "h", "dorvik_", "cli"} << "알 수 없는 인수입니다: dorvik_ cli\n" + hint;
        QTest::newRow("option for a name") << QStringList{"--host", "h", "--new-db", "--no-fk"}
                                           << "--new-db의 값이 옵션처럼 보입니다: --no-fk\n" + hint;
        QTest::newRow("unknown option for a folder") << QStringList{"--work-folder", "--nofk", "--host", "h"}
                                                     << "--work-folder의 값이 옵션처럼 보입니다: --nofk\n" + hint;
        QTest::newRow("our option for the dump's") << QStringList{"--host", "h", "--option", "--yes"}
                                                   << "--option의 값이 옵션처럼 보입니다: --yes\n" + hint;
        QTest::newRow("the dump's own option passes") << QStringList{"--option", "--single-transaction", "--stages", ""}
                                                      << "작업범위가 선택되지 않았습니다.\n";
        QTest::newRow("no connections") << QStringList{"--host", "h", "--import-connections", "0"}
                                        << "--import-connections는 1부터 16까지의 수입니다: 0\n" + hint;
        QTest::newRow("unknown definer choice") << QStringList{"--host", "h", "--definers", "keep"}
                                                << "--definers는 rewrite 또는 create입니다: keep\n" + hint;
        QTest::newRow("source is target")
            << QStringList{"--host", "127.0.0.1", "--db", "dorvik_", "--user", "cli", "--new-db", "dorvik_cli", "--no-fk"}
            << "원본 DB(dorvik_cli)가 로컬 서버에 있으므로 New DB는 다른 이름으로 반드시 입력되어야 합니다.\n";
    }
    void refusedRequests()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        const CliRun r = runCli(args);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err, error);
        QCOMPARE(r.out, QString());
    }

    void copyFromRememberedFields()
    {
        JobFixture::dropDatabase("dorvik_cli_dev");
        // The window's remembered fields, as the window would have saved them.
        SaveSetting(kConfigSection, "Host", "localhost");
        SaveSetting(kConfigSection, "SrcDB", "dorvik_");
        SaveSetting(kConfigSection, "SrcUser", "cli");
        SaveSetting(kConfigSection, "NewDB", "dorvik_cli_dev");
        SaveSetting(kConfigSection, "foreign", "0");
        const QByteArray before = storeFile();
        QVERIFY(!before.isEmpty());

        const QString work = m_dir.path() + "/remembered";
        const CliRun r = runCli({"--work-folder", work, "--stages", "1,2", "--import-connections", "1"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString("복사완료\n"));
        const QStringList lines = r.out.split('\n');
        QVERIFY(lines.contains("velmar 로더로 가져옵니다 (연결 1개, 덤프와 동시에)"));
        QCOMPARE(lines.mid(0, 2), (QStringList{"dump 폴더 생성: " + nativePath(work + "/dump"), "Check Exist DB..."}));
        QVERIFY(lines.contains(programName("mysqldump") + " -q -e dorvik_cli -hlocalhost -uroot -p**** > "
                               + nativePath(work + "/dump/dorvik_cli.sql")));
        // A multi-line entry shows as its lines.
        const int head = lines.indexOf(nativePath(work + "/dump/dorvik_cli_2.sql") + " / Head AddLine...");
        QVERIFY(head > 0);
        QCOMPARE(lines.mid(head + 1, 4), (QStringList{"", "SET AUTOCOMMIT = 0;", "SET FOREIGN_KEY_CHECKS=0;", ""}));
        QVERIFY(lines.at(lines.size() - 2).startsWith("[Finish] Total Time="));
        QCOMPARE(JobFixture::checksums("dorvik_cli_dev"), JobFixture::checksums("dorvik_cli"));
        QCOMPARE(storeFile(), before);
    }

    // The remembered box, and the options over it, decide whether the copy looks for changed tables.
    void changedOnlyOption_data()
    {
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("refresh");
        QTest::newRow("--changed-only") << "0" << "--changed-only" << true;
        QTest::newRow("remembered") << "1" << "" << true;
        QTest::newRow("--full over remembered") << "1" << "--full" << false;
    }
    void changedOnlyOption()
    {
        QFETCH(QString, remembered);
        QFETCH(QString, option);
        QFETCH(bool, refresh);
        // The database the copy from the remembered fields made.
        QVERIFY(JobFixture::databaseExists("dorvik_cli_dev"));
        SaveSetting(kConfigSection, "ChangedOnly", remembered);
        QStringList args{"--work-folder", m_dir.path() + "/remembered", "--stages", "1,2", "--yes"};
        if (!option.isEmpty())
            args << option;
        const CliRun r = runCli(args);
        SaveSetting(kConfigSection, "ChangedOnly", "0");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.split('\n').contains("변경된 테이블 찾기..."), refresh);
    }

    void questionsWithoutTerminal()
    {
        JobFixture::dropDatabase("cli_target");
        QCOMPARE(TestServer::exec("CREATE DATABASE cli_target; CREATE TABLE cli_target.keep (a INT)"), QString());
        const QString work = m_dir.path() + "/questions";
        const QStringList base{"--host", "localhost", "--db", "dorvik_", "--user", "cli", "--new-db", "cli_target",
                               "--no-fk", "--ask-before-drop", "--stages", "1,2", "--work-folder", work};
        const QString question = "Local에 동일한 DB명(cli_target)이 존재합니다.\n삭제후 계속 진행할까요?\n";

        const CliRun no = runCli(base);
        QCOMPARE(no.exitCode, 1);
        QCOMPARE(no.err, question + "-> 아니요 (물어볼 터미널이 없습니다; --yes로 답할 수 있습니다)\n");
        QCOMPARE(no.out, "dump 폴더 생성: " + nativePath(work + "/dump") + "\nCheck Exist DB...\n복사 중단: Local에 동일한 DB명(cli_target)이 존재하며 삭제하지 않았습니다.\n");
        QCOMPARE(JobFixture::rowCounts("cli_target").keys(), QStringList{"keep"});

        const CliRun yes = runCli(base + QStringList{"--yes"});
        QCOMPARE(yes.exitCode, 0);
        QCOMPARE(yes.err, question + "-> 예 (--yes)\n복사완료\n");
        QVERIFY(yes.out.contains("Local DB삭제:cli_target\n"));
        QCOMPARE(JobFixture::checksums("cli_target"), JobFixture::checksums("dorvik_cli"));
        JobFixture::dropDatabase("cli_target");
    }

    void stoppedJobExitsWithOne()
    {
        const CliRun r = runCli({"--host", "localhost", "--db", "dorvik_", "--user", "missing", "--new-db", "x",
                                 "--no-fk", "--work-folder", m_dir.path() + "/stopped"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, QString("존재하지 않는 DB입니다. localhost/dorvik_missing\n"));
    }

#ifdef Q_OS_UNIX
    void ctrlCAtTheTerminalCancels()
    {
        // A terminal's Ctrl+C reaches velmar-cli and the program it runs together (one process
        // group); the copy must end as cancelled, not with an error of the stopped program.
        const QString work = m_dir.path() + "/interrupted";
        QVERIFY(QDir().mkpath(work + "/dump"));
        writeLongImport(work + "/dump/dorvik_cli_2.sql", 100000);
        JobFixture::dropDatabase("cli_cancel");
        QProcess p;
        p.setProgram("setsid");  // its own process group, as a terminal gives a command
        p.setArguments({QStringLiteral(VELMAR_CLI_PATH), "--host", "localhost", "--db", "dorvik_", "--user", "cli",
                        "--new-db", "cli_cancel", "--no-fk", "--stages", "2", "--work-folder", work});
        p.setStandardInputFile(QProcess::nullDevice());
        p.start();
        QVERIFY(p.waitForStarted());
        QByteArray out;
        const QByteArray loading = "mysql " + stagingDatabaseName("cli_cancel").toUtf8();
        while (!out.contains(loading) && p.state() == QProcess::Running) {
            p.waitForReadyRead(1000);
            out += p.readAllStandardOutput();
        }
        QVERIFY2(out.contains(loading), out.constData());
        QTest::qWait(300);
        QCOMPARE(::kill(-pid_t(p.processId()), SIGINT), 0);
        QVERIFY(p.waitForFinished(60000));
        out += p.readAllStandardOutput();
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(out.endsWith("복사가 취소되었습니다.\n"), out.right(200).constData());
        QVERIFY2(!err.contains("Error"), qPrintable(err));
        QVERIFY(!out.contains("[Finish]"));
        JobFixture::dropDatabase("cli_cancel");
    }
#endif

    // The progress line on a terminal: rewritten in place, blanked to its width (Hangul takes
    // two columns) when taken away; nothing at all elsewhere.
    void progressLine_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<int>("stage");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("written");
        QTest::newRow("load") << true << int(CopyStage::Import) << qint64(3 << 20) << qint64(4 << 20) << 1.5 * (1 << 20)
                              << "\r가져오기: 75% (3.0 MB / 4.0 MB), 1.5 MB/s\r" + QString(41, ' ') + "\r";
        QTest::newRow("dump") << true << int(CopyStage::Dump) << qint64(1536) << qint64(-1) << 100.0
                              << "\r덤프: 1.5 KB, 100 B/s\r" + QString(21, ' ') + "\r";
        QTest::newRow("not a terminal") << false << int(CopyStage::Import) << qint64(1) << qint64(2) << 1.0 << "";
    }
    void progressLine()
    {
        QFETCH(bool, terminal);
        QFETCH(int, stage);
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(double, rate);
        QFETCH(QString, written);
        FILE *out = std::tmpfile();
        CliProgress progress(out, terminal);
        progress.stageStarted(CopyStage(stage));
        progress.progress(CopyStage(stage), done, total, rate);
        QCOMPARE(progress.lineShown(), terminal);
        progress.clear();
        char buffer[512] = {};
        std::rewind(out);
        const size_t n = std::fread(buffer, 1, sizeof buffer, out);
        std::fclose(out);
        QCOMPARE(QString::fromUtf8(buffer, qsizetype(n)), written);
    }

#ifdef Q_OS_UNIX
    // A second Ctrl+C ends velmar-cli at once; SIGTERM or SIGHUP cancel the copy, which cleans up,
    // and then end it by that signal. The program it was running goes with it either way: nothing
    // of the copy stays in its session.
    void endingSignalsLeaveNoChild_data()
    {
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<int>("endedBy");
        QTest::newRow("Ctrl+C twice") << QList<int>{SIGINT, SIGINT} << SIGINT;
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << SIGTERM;
        QTest::newRow("SIGHUP") << QList<int>{SIGHUP} << SIGHUP;
        QTest::newRow("SIGTERM, then SIGTERM") << QList<int>{SIGTERM, SIGTERM} << SIGTERM;
    }
    void endingSignalsLeaveNoChild()
    {
        QFETCH(QList<int>, sent);
        QFETCH(int, endedBy);
        const QString work = m_dir.path() + "/signal-" + QTest::currentDataTag();
        QVERIFY(QDir().mkpath(work + "/dump"));
        // The foreign-key script is the client program's to run.
        writeFile(work + "/dump/dorvik_cli_2.sql", "SELECT 1;\n");
        writeFile(work + "/dorvik_tables외래키.SQL", "SELECT SLEEP(20);\n");
        writeFile(work + "/pelsar_tables외래키.SQL", "SELECT 1;\n");
        QProcess p;
        p.setProgram(QStringLiteral(VELMAR_CLI_PATH));
        p.setArguments({"--host", "localhost", "--db", "dorvik_", "--user", "cli", "--new-db", "cli_signal", "--fk",
                        "--fk-path", work, "--drop-existing", "--stages", "2", "--work-folder", work});
        p.setStandardInputFile(QProcess::nullDevice());
        p.setChildProcessModifier([] { ::setsid(); });
        p.start();
        QVERIFY(p.waitForStarted());
        const qint64 session = p.processId();
        // velmar-cli and the mysql it runs, registered just after its start
        QTRY_VERIFY_WITH_TIMEOUT(liveProcessesOfSession(session).size() > 1, 20000);
        QTest::qWait(100);

        QByteArray err;
        p.setReadChannel(QProcess::StandardError);
        for (int s : sent) {
            QCOMPARE(::kill(pid_t(session), s), 0);
            // Two signals sent together may arrive as one: the next goes once this one was heard.
            while (s == SIGINT && !err.contains("취소하는 중...") && p.waitForReadyRead(5000))
                err += p.readAllStandardError();
        }
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(p.exitCode(), endedBy);
        QTRY_COMPARE_WITH_TIMEOUT(liveProcessesOfSession(session), QList<qint64>{}, 5000);
        err += p.readAllStandardError();
        QCOMPARE(QString::fromUtf8(err), QString(endedBy == SIGINT ? "취소하는 중...\n" : ""));
        if (sent.size() == 1)  // cancelled, not cut short: the staging database is gone
            QVERIFY(!JobFixture::databaseExists(stagingDatabaseName("cli_signal")));
        JobFixture::dropDatabase("cli_signal");
    }

    // A stop signal while the dump is written and loaded: the copy is cancelled and cleans up
    // before velmar-cli ends by the signal.
    void stopSignalDuringTheDumpCleansUp()
    {
        const QString work = m_dir.path() + "/term-during-dump";
        QVERIFY(QDir().mkpath(work + "/dump"));
        JobFixture::dropDatabase("cli_term");
        // Enough rows that the first of them reach the file early, and the last ten slow: the
        // import follows the dump while it still runs for seconds.
        QCOMPARE(TestServer::exec("DROP DATABASE IF EXISTS dorvik_slow; CREATE DATABASE dorvik_slow; USE dorvik_slow; "
                                  "CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(100)); "
                                  "INSERT INTO t SELECT seq, REPEAT('x', 100) FROM seq_1_to_3000"),
                 QString());
        QProcess p;
        p.setProgram(QStringLiteral(VELMAR_CLI_PATH));
        p.setArguments({"--host", "localhost", "--db", "dorvik_", "--user", "slow", "--new-db", "cli_term", "--no-fk",
                        "--option", "-q --skip-extended-insert --where=SLEEP(0.5*(id>2990))=0", "--stages", "1,2",
                        "--work-folder", work});
        p.setStandardInputFile(QProcess::nullDevice());
        p.start();
        QVERIFY(p.waitForStarted());
        const QString following = work + "/dump/dorvik_slow_2.sql.part";
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(following), 20000);
        QTest::qWait(300);
        QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
        QVERIFY(p.waitForFinished(15000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(p.exitCode(), SIGTERM);
        QCOMPARE(QDir(work + "/dump").entryList({"*.part"}, QDir::Files), QStringList{});
        QVERIFY(!JobFixture::databaseExists(stagingDatabaseName("cli_term")));
        QVERIFY(!JobFixture::databaseExists("cli_term"));
        JobFixture::dropDatabase("dorvik_slow");
    }
#endif

    void cleanupTestCase()
    {
        JobFixture::dropDatabase("dorvik_cli");
        JobFixture::dropDatabase("dorvik_cli_dev");
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
