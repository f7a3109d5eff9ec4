// velmar-cli as a user runs it: a separate process, the real programs, the test server.
#include "JobFixture.h"
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

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/types.h>
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
        QTest::newRow("bad stage") << QStringList{"--host", "h", "--stages", "1,4"}
                                   << "--stages takes 1, 2 and 3 separated by commas, not \"4\".\n";
        QTest::newRow("conflicting options") << QStringList{"--fk", "--no-fk"} << "--fk and --no-fk exclude each other.\n";
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
        const CliRun r = runCli({"--work-folder", work, "--stages", "1,2"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString("복사완료\n"));
        const QStringList lines = r.out.split('\n');
        QCOMPARE(lines.first(), QString("Check Exist DB..."));
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
        QCOMPARE(no.err, question + "-> 아니오 (물어볼 터미널이 없습니다; --yes로 답할 수 있습니다)\n");
        QCOMPARE(no.out, QString("Check Exist DB...\n"));
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
        {
            QFile f(work + "/dump/dorvik_cli_2.sql");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("CREATE TABLE filler (id INT PRIMARY KEY, v VARCHAR(200));\n");
            for (int i = 0; i < 100000; ++i)
                f.write("INSERT INTO filler VALUES (" + QByteArray::number(i) + ", '" + QByteArray(150, 'v') + "');\n");
        }
        JobFixture::dropDatabase("cli_cancel");
        QProcess p;
        p.setProgram("setsid");  // its own process group, as a terminal gives a command
        p.setArguments({QStringLiteral(VELMAR_CLI_PATH), "--host", "localhost", "--db", "dorvik_", "--user", "cli",
                        "--new-db", "cli_cancel", "--no-fk", "--stages", "2", "--work-folder", work});
        p.setStandardInputFile(QProcess::nullDevice());
        p.start();
        QVERIFY(p.waitForStarted());
        QByteArray out;
        while (!out.contains("mysql cli_cancel") && p.state() == QProcess::Running) {
            p.waitForReadyRead(1000);
            out += p.readAllStandardOutput();
        }
        QVERIFY2(out.contains("mysql cli_cancel"), out.constData());
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

    void cleanupTestCase()
    {
        JobFixture::dropDatabase("dorvik_cli");
        JobFixture::dropDatabase("dorvik_cli_dev");
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
