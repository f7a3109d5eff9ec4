#include "LocalHttpServer.h"
#include "RecordingMessenger.h"
#include "TestFiles.h"
#include "modWaitProc.h"
#include "modZephlane_Launcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;
using velmar::test::LocalHttpServer;
using velmar::test::RecordingMessenger;
using velmar::test::fileContent;
using velmar::test::writeFile;

namespace {

const QString kFolder = "/download/tessavo_v1/";
const QString kStartFailed = "Error 53 (File not found) in procedure RunAutoUpdate of Module modZephlane_Launcher";

#ifdef Q_OS_WIN
const QString kFileBrowser = "explorer.exe";
#else
const QString kFileBrowser = "xdg-open";
#endif

#ifdef Q_OS_WIN
QString testTool()
{
    return QCoreApplication::applicationDirPath() + "/velmar_testtool.exe";
}
#endif

#ifndef Q_OS_WIN
// The updater stand-in: notes its arguments and working folder, and leaves a new version of
// the program behind when asked to.
QByteArray updaterScript(bool leavesNewVersion)
{
    QByteArray s = "#!/bin/sh\nprintf '%s\\n' \"$@\" > updater-args.txt\npwd > updater-cwd.txt\n";
    if (leavesNewVersion)
        s += "printf 'new program' > New_velmar.exe\n";
    return s;
}

// The file changer stand-in: notes its arguments (the file appears whole, by renaming).
const QByteArray kChangerScript =
    "#!/bin/sh\nprintf '%s\\n' \"$@\" > changer-args.tmp && mv changer-args.tmp changer-args.txt\n";
#endif

struct Start {
    QString program;
    QStringList arguments;
    QString directory;
    bool minimized;
    bool operator==(const Start &) const = default;
};

QString describe(const QList<Start> &starts)
{
    QStringList s;
    for (const Start &st : starts)
        s << st.program + " [" + st.arguments.join("|") + "] in " + st.directory + (st.minimized ? " min" : "");
    return s.join("; ");
}

}  // namespace

class TestAutoUpdate : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder;
    QList<Start> m_starts;
    int m_ends = 0;
    bool m_startSucceeds = true;
    bool m_forwardStarts = false;

    // The program folder in the platform's form, as the program has it.
    QString path(const QString &name) const { return m_folder + QDir::separator() + name; }

    UpdateEnvironment environment(const QString &base = QString())
    {
        UpdateEnvironment env;
        env.programFolder = m_folder;
        env.programFileName = "velmar.exe";
        env.programRevision = 25;
        env.updateBaseUrl = base;
        env.endProgram = [this] { ++m_ends; };
        env.startProgram = [this](const QString &program, const QStringList &arguments,
                                  const QString &directory, bool minimized) {
            m_starts << Start{program, arguments, directory, minimized};
            if (m_forwardStarts)
                return StartDetached(program, arguments, directory, minimized);
            return m_startSucceeds;
        };
        return env;
    }

    void verifyUpdaterRan()
    {
        QCOMPARE(fileContent(path("updater-args.txt")), QByteArray("25;velmar.exe\n"));
        QCOMPARE(QString::fromUtf8(fileContent(path("updater-cwd.txt"))).trimmed(),
                 QDir(m_folder).canonicalPath());
    }

    // The stand-ins of the maker's updater and file changer: shell scripts here, the tests' own
    // tool under their names on Windows.
    void installUpdater(bool leavesNewVersion)
    {
#ifdef Q_OS_WIN
        QVERIFY(QFile::copy(testTool(), path("Zephlane.exe")));
        QVERIFY(QFile::setPermissions(path("Zephlane.exe"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        if (leavesNewVersion)
            writeFile(path("Zephlane.exe.new"), "");
#else
        writeFile(path("Zephlane.exe"), updaterScript(leavesNewVersion), true);
#endif
    }
    void installChanger()
    {
#ifdef Q_OS_WIN
        QVERIFY(QFile::copy(testTool(), path("brackwell.exe")));
        QVERIFY(QFile::setPermissions(path("brackwell.exe"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
#else
        writeFile(path("brackwell.exe"), kChangerScript, true);
#endif
    }

private slots:
    void initTestCase()
    {
        for (const char *name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    // Each case gets a fresh program folder with blanks and Hangul in its path, holding the
    // program itself.
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_folder = QDir::toNativeSeparators(m_dir->filePath("내 프로그램 folder"));
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(path("velmar.exe"), "program");
        m_starts.clear();
        m_ends = 0;
        m_startSucceeds = true;
        m_forwardStarts = false;
    }

    // The updater leaves a new version, or one is left over from an earlier run: both hand over.
    void handOverToFileChanger_data()
    {
        QTest::addColumn<bool>("updaterLeavesNewVersion");
        QTest::newRow("new version from the updater") << true;
        QTest::newRow("new version left over") << false;
    }
    void handOverToFileChanger()
    {
        QFETCH(bool, updaterLeavesNewVersion);
        installUpdater(updaterLeavesNewVersion);
        installChanger();
        if (!updaterLeavesNewVersion)
            writeFile(path("New_velmar.exe"), "left over");
        m_forwardStarts = true;

        RecordingMessenger rec;
        bool skip = true;
        QCOMPARE(RunAutoUpdate(skip, environment()), false);
        QCOMPARE(skip, true);
        verifyUpdaterRan();
        const QList<Start> expected{{path("brackwell.exe"), {"velmar.exe;New_velmar.exe"}, m_folder, true}};
        QVERIFY2(m_starts == expected, qPrintable(describe(m_starts)));
        QCOMPARE(m_ends, 1);
        QCOMPARE(rec.messageTexts(), QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path("changer-args.txt")), 30000);
        QCOMPARE(fileContent(path("changer-args.txt")), QByteArray("velmar.exe;New_velmar.exe\n"));
    }

    void noNewVersion()
    {
        installUpdater(false);
        installChanger();
        RecordingMessenger rec;
        bool skip = true;
        QCOMPARE(RunAutoUpdate(skip, environment()), false);
        verifyUpdaterRan();
        QVERIFY2(m_starts.isEmpty(), qPrintable(describe(m_starts)));
        QCOMPARE(m_ends, 0);
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    void missingFileChanger()
    {
        installUpdater(true);
        RecordingMessenger rec;
        bool skip = true;
        QCOMPARE(RunAutoUpdate(skip, environment()), false);
        verifyUpdaterRan();
        QCOMPARE(rec.messageTexts(),
                 QStringList{"파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n" + path("brackwell.exe")});
        QCOMPARE(rec.messages().first().icon, Icon::None);
        QCOMPARE(rec.messages().first().title, QString());
        const QList<Start> expected{{kFileBrowser, {m_folder}, m_folder, false}};
        QVERIFY2(m_starts == expected, qPrintable(describe(m_starts)));
        QCOMPARE(m_ends, 1);
    }

    // A program that cannot be started is reported, and the program still ends.
    void startFailures_data()
    {
        QTest::addColumn<bool>("changerPresent");
        QTest::newRow("file changer") << true;
        QTest::newRow("file browser") << false;
    }
    void startFailures()
    {
        QFETCH(bool, changerPresent);
        installUpdater(true);
        if (changerPresent)
            installChanger();
        m_startSucceeds = false;
        RecordingMessenger rec;
        bool skip = true;
        QCOMPARE(RunAutoUpdate(skip, environment()), false);
        QCOMPARE(m_starts.size(), 1);
        QCOMPARE(m_starts.first().program, changerPresent ? path("brackwell.exe") : kFileBrowser);
        QCOMPARE(rec.messageTexts().last(), kStartFailed);
        QCOMPARE(rec.messageTexts().size(), changerPresent ? 1 : 2);
        QCOMPARE(m_ends, 1);
    }

    // Without the program's own executable nothing is run.
    void ownExecutableNotPresent_data()
    {
        QTest::addColumn<QString>("programFileName");
        QTest::addColumn<bool>("asFolder");
        QTest::newRow("absent") << "other.exe" << false;
        QTest::newRow("hidden") << ".velmar" << false;
        QTest::newRow("a folder") << "velmar.exe" << true;
    }
    void ownExecutableNotPresent()
    {
        QFETCH(QString, programFileName);
        QFETCH(bool, asFolder);
        installUpdater(true);
        installChanger();
        if (programFileName.startsWith('.'))
            writeFile(path(programFileName), "hidden program");
        UpdateEnvironment env = environment();
        if (asFolder) {
            env.programFolder = m_folder + "/sub";
            QVERIFY(QDir().mkpath(env.programFolder + "/velmar.exe"));
        }
        env.programFileName = programFileName;
        RecordingMessenger rec;
        bool skip = true;
        QCOMPARE(RunAutoUpdate(skip, env), false);
        QVERIFY(!QFile::exists(path("updater-args.txt")));
        QVERIFY(m_starts.isEmpty());
        QCOMPARE(m_ends, 0);
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    void updaterAbsent()
    {
        installChanger();
        RecordingMessenger rec;
        bool skip = true;
        QCOMPARE(RunAutoUpdate(skip, environment()), false);
        QVERIFY(m_starts.isEmpty());
        QCOMPARE(m_ends, 0);
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    void skipSelfUpdateAsksNoServer()
    {
        LocalHttpServer server;
        server.setReply(kFolder + "Zephlane_lastver.txt", {200, "99", false});
        installUpdater(false);
        RecordingMessenger rec;
        bool skip = true;
        QCOMPARE(RunAutoUpdate(skip, environment(server.url(kFolder))), false);
        QCOMPARE(server.requestedPaths(), QStringList());
        verifyUpdaterRan();
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    void failedSelfUpdateRunsNoUpdater()
    {
        LocalHttpServer server;
        server.setReply(kFolder + "Zephlane_lastver.txt", {200, "", false});
        installUpdater(true);
        RecordingMessenger rec;
        bool skip = false;
        QCOMPARE(RunAutoUpdate(skip, environment(server.url(kFolder))), false);
        QCOMPARE(skip, false);
        QCOMPARE(rec.messageTexts(), QStringList{"Zephlane.exe의 최신버전 정보를 읽어올 수 없습니다!"});
        QVERIFY(!QFile::exists(path("updater-args.txt")));
        QCOMPARE(m_ends, 0);
    }

    // The local updater (no version resource: revision 0) is as new as the published one (0),
    // so it runs at once and hands over.
    void currentUpdaterRunsAndHandsOver()
    {
        LocalHttpServer server;
        server.setReply(kFolder + "Zephlane_lastver.txt", {200, "0", false});
        installUpdater(true);
        installChanger();
        RecordingMessenger rec;
        bool skip = false;
        QCOMPARE(RunAutoUpdate(skip, environment(server.url(kFolder))), false);
        QCOMPARE(server.requestedPaths(), QStringList{kFolder + "Zephlane_lastver.txt"});
        verifyUpdaterRan();
        QCOMPARE(m_starts.size(), 1);
        QCOMPARE(m_starts.first().arguments, QStringList{"velmar.exe;New_velmar.exe"});
        QCOMPARE(m_ends, 1);
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    void noUpdateServerInTheBuild()
    {
        installUpdater(true);
        RecordingMessenger rec;
        bool skip = false;
        QCOMPARE(RunAutoUpdate(skip, environment(QString())), false);
        QCOMPARE(rec.messageTexts(), QStringList());
        QVERIFY(!QFile::exists(path("updater-args.txt")));
        QCOMPARE(m_ends, 0);
    }

    void filePresence_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("present");
        QTest::newRow("file") << "velmar.exe" << true;
        QTest::newRow("hidden file") << ".hidden.exe" << false;
        QTest::newRow("folder") << "folder.exe" << false;
        QTest::newRow("missing") << "missing.exe" << false;
        QTest::newRow("link to a file") << "link.exe" << true;
        QTest::newRow("link to a folder") << "folderlink.exe" << false;
    }
    void filePresence()
    {
        QFETCH(QString, name);
        QFETCH(bool, present);
#ifdef Q_OS_WIN
        if (name.contains("link"))
            QSKIP("QFile::link makes a shortcut file on Windows, not a symbolic link");
#endif
        writeFile(path(".hidden.exe"), "x");
        QVERIFY(QDir().mkpath(path("folder.exe")));
        QVERIFY(QFile::link(path("velmar.exe"), path("link.exe")));
        QVERIFY(QFile::link(path("folder.exe"), path("folderlink.exe")));
        QCOMPARE(FileIsPresent(path(name)), present);
    }

    void defaultEnvironment()
    {
        const UpdateEnvironment env = UpdateEnvironment::current();
#ifdef Q_OS_WIN
        QCOMPARE(env.programFileName, QString("test_autoupdate.exe"));
#else
        QCOMPARE(env.programFileName, QString("test_autoupdate"));
#endif
        QVERIFY(env.endProgram);
        QVERIFY(env.startProgram);
    }
};

QTEST_GUILESS_MAIN(TestAutoUpdate)
#include "test_autoupdate.moc"
