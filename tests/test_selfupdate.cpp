#include "LocalHttpServer.h"
#include "PeFixture.h"
#include "RecordingMessenger.h"
#include "TestFiles.h"
#include "modZephlane_Download.h"
#include "modZephlane_Launcher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <thread>

using namespace velmar;
using velmar::test::LocalHttpServer;
using velmar::test::PeFixture;
using velmar::test::RecordingMessenger;
using velmar::test::fileContent;
using velmar::test::writeFile;
using Reply = LocalHttpServer::Reply;

Q_DECLARE_METATYPE(LocalHttpServer::Reply)

namespace {

const QString kFolder = "/download/tessavo_v1/";
const QString kNoVersionInfo = "Zephlane.exe의 최신버전 정보를 읽어올 수 없습니다!";
const QString kOverflow = "Error 6 (Overflow) in procedure AutoUpdaterSelfUpdate of Module modZephlane_Launcher";
const QByteArray kNewUpdater = "MZ new updater";
const QByteArray kNewChanger = "MZ new file changer";
const QByteArray kOldChanger = "MZ old file changer";

QStringList fileNames(const QStringList &paths)
{
    QStringList names;
    for (const QString &p : paths)
        names << (p.startsWith(kFolder) ? p.mid(kFolder.size()) : p);
    return names;
}

}  // namespace

class TestSelfUpdate : public QObject {
    Q_OBJECT

    QTemporaryDir m_fixtures;
    QHash<QString, QByteArray> m_updaters;

    // A local updater whose version resource carries this FileVersion.
    QByteArray updaterWithVersion(const QString &fileVersion)
    {
        if (!m_updaters.contains(fileVersion)) {
            const QString path = m_fixtures.filePath(QString("u%1.exe").arg(m_updaters.size()));
            const QString error = PeFixture::build(PeFixture::versionScript(fileVersion), path);
            if (!error.isEmpty())
                qFatal("fixture: %s", qPrintable(error));
            m_updaters.insert(fileVersion, fileContent(path));
        }
        return m_updaters.value(fileVersion);
    }

    static UpdateEnvironment environment(const QString &folder, const QString &base)
    {
        UpdateEnvironment env;
        env.programFolder = folder;
        env.programFileName = "velmar.exe";
        env.programRevision = 25;
        env.updateBaseUrl = base;
        env.endProgram = [] { QFAIL("the self-update never ends the program"); };
        env.startProgram = [](const QString &, const QStringList &, const QString &, bool) {
            qWarning("the self-update starts no program");
            return false;
        };
        return env;
    }

private slots:
    void initTestCase()
    {
        // The servers are local; a proxy from the environment must not come between.
        for (const char *name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
        QVERIFY(m_fixtures.isValid());
    }

    void readUrlText_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("text");
        QTest::newRow("short") << Reply{200, "25", false} << "25";
        QTest::newRow("line break kept") << Reply{200, "25\r\n", false} << "25\r\n";
        QTest::newRow("exactly 20 bytes") << Reply{200, "12345678901234567890", false} << "12345678901234567890";
        QTest::newRow("cut at 20 bytes") << Reply{200, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ", false}
                                         << "0123456789ABCDEFGHIJ";
        QTest::newRow("empty") << Reply{200, "", false} << "";
        QTest::newRow("blanks") << Reply{200, "   ", false} << "   ";
        QTest::newRow("error page counts as text") << Reply{500, "<html>Internal Server Error</html>", false}
                                                   << "<html>Internal Serve";
        QTest::newRow("not found page") << Reply{404, "gone", false} << "gone";
        // Nine bytes arrive (two Hangul syllables of three bytes each): nine characters are
        // kept from the decoded buffer of blanks.
        QTest::newRow("characters counted as bytes") << Reply{200, "버전 25", false} << "버전 25    ";
        QTest::newRow("transfer broken after the first bytes") << Reply{200, "26", true} << "26";
    }
    void readUrlText()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, text);
        LocalHttpServer server;
        server.setReply("/v.txt", reply);
        QCOMPARE(ReadUrlText(server.url("/v.txt")), text);
        QCOMPARE(server.requestedPaths(), QStringList{"/v.txt"});
    }

    void readUrlTextWithoutServer()
    {
        QCOMPARE(ReadUrlText(QString("http://127.0.0.1:%1/v.txt").arg(LocalHttpServer::closedPort())), QString());
        QCOMPARE(ReadUrlText(QString()), QString());
    }

    void requestsBypassCaches()
    {
        LocalHttpServer server;
        server.setReply("/v.txt", {200, "1", false});
        server.setReply("/f.exe", {200, "x", false});
        QTemporaryDir dir;
        ReadUrlText(server.url("/v.txt"));
        DownloadFile(server.url("/f.exe"), dir.filePath("f.exe"));
        const auto requests = server.requests();
        QCOMPARE(requests.size(), 2);
        for (const auto &r : requests) {
            QCOMPARE(r.headers.value("cache-control"), QByteArray("no-cache"));
            QCOMPARE(r.headers.value("pragma"), QByteArray("no-cache"));
            QCOMPARE(r.headers.value("user-agent"), QByteArray("velmar"));
        }
    }

    // Neither call needs a running event loop on its thread.
    void networkFromOtherThreads_data()
    {
        QTest::addColumn<bool>("qtThread");
        QTest::newRow("QThread without exec") << true;
        QTest::newRow("thread foreign to Qt") << false;
    }
    void networkFromOtherThreads()
    {
        QFETCH(bool, qtThread);
        LocalHttpServer server;
        server.setReply("/v.txt", {200, "42", false});
        server.setReply("/f.exe", {200, kNewUpdater, false});
        QTemporaryDir dir;
        const QString target = dir.filePath("f.exe");
        QString text;
        bool saved = false;
        std::atomic_bool done{false};
        auto work = [&] {
            text = ReadUrlText(server.url("/v.txt"));
            saved = DownloadFile(server.url("/f.exe"), target);
            done = true;
        };
        std::unique_ptr<QThread> qthread;
        std::thread plain;
        if (qtThread) {
            qthread.reset(QThread::create(work));
            qthread->start();
        } else {
            plain = std::thread(work);
        }
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 60000);
        if (qthread)
            qthread->wait();
        else
            plain.join();
        QCOMPARE(text, QString("42"));
        QVERIFY(saved);
        QCOMPARE(fileContent(target), kNewUpdater);
    }

    void downloadFile_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("replaces the file") << Reply{200, kNewUpdater, false} << true << kNewUpdater;
        QTest::newRow("empty body") << Reply{200, "", false} << true << QByteArray();
        QTest::newRow("not found") << Reply{404, "<html>not found</html>", false} << false << kOldChanger;
        QTest::newRow("server error page") << Reply{500, "<html>error</html>", false} << false << kOldChanger;
        QTest::newRow("broken transfer") << Reply{200, kNewUpdater, true} << false << kOldChanger;
    }
    void downloadFile()
    {
        QFETCH(Reply, reply);
        QFETCH(bool, result);
        QFETCH(QByteArray, content);
        LocalHttpServer server;
        server.setReply("/f.exe", reply);
        QTemporaryDir dir;
        const QString target = dir.filePath("f.exe");
        writeFile(target, kOldChanger);
        QCOMPARE(DownloadFile(server.url("/f.exe"), target), result);
        QCOMPARE(fileContent(target), content);
#ifndef Q_OS_WIN
        // A downloaded program can be run; a kept one keeps its own bits.
        QCOMPARE(bool(QFile::permissions(target) & QFileDevice::ExeOwner), result);
#endif
        // No temporary file stays behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"f.exe"});
    }

    void downloadFileFailures()
    {
        LocalHttpServer server;
        server.setReply("/f.exe", {200, kNewUpdater, false});
        QTemporaryDir dir;
        QVERIFY(!DownloadFile(server.url("/f.exe"), dir.filePath("missing folder/f.exe")));
        QVERIFY(!DownloadFile(QString("http://127.0.0.1:%1/f.exe").arg(LocalHttpServer::closedPort()),
                              dir.filePath("f.exe")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void selfUpdate_data()
    {
        QTest::addColumn<QString>("localVersion");  // "": no local updater, "-": one without version
        QTest::addColumn<Reply>("versionFile");
        QTest::addColumn<Reply>("updater");
        QTest::addColumn<Reply>("changer");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("requested");
        QTest::addColumn<bool>("updaterReplaced");
        QTest::addColumn<bool>("changerReplaced");

        const Reply updater{200, kNewUpdater, false};
        const Reply changer{200, kNewChanger, false};
        const Reply missing{404, "<html>not found</html>", false};
        const QStringList none;
        const QStringList versionOnly{"Zephlane_lastver.txt"};
        const QStringList all{"Zephlane_lastver.txt", "Zephlane.exe", "brackwell.exe"};

        QTest::newRow("empty reply") << "1.00.0025" << Reply{200, "", false} << updater << changer
                                     << false << QStringList{kNoVersionInfo} << versionOnly << false << false;
        QTest::newRow("blanks only") << "" << Reply{200, "    ", false} << updater << changer
                                     << false << QStringList{kNoVersionInfo} << versionOnly << false << false;
        QTest::newRow("line breaks are not blanks") << "" << Reply{200, "\r\n", false} << updater << changer
                                                    << true << none << versionOnly << false << false;
        QTest::newRow("25.5 is 26: newer") << "1.00.0025" << Reply{200, "25.5", false} << updater << changer
                                           << true << none << all << true << true;
        QTest::newRow("24.5 is 24: equal") << "1.00.0024" << Reply{200, "24.5", false} << updater << changer
                                           << true << none << versionOnly << false << false;
        QTest::newRow("equal revisions") << "1.00.0025" << Reply{200, "25\r\n", false} << updater << changer
                                         << true << none << versionOnly << false << false;
        QTest::newRow("lower remote revision") << "1.00.0025" << Reply{200, "7", false} << updater << changer
                                               << true << none << versionOnly << false << false;
        QTest::newRow("error page reads as 0") << "" << Reply{500, "<html>Internal Server Error</html>", false}
                                               << updater << changer << true << none << versionOnly << false << false;
        // Nineteen blanks and "12": only "1" is within the first 20 bytes.
        QTest::newRow("only the first 20 bytes count") << "1.00.0005" << Reply{200, QByteArray(19, ' ') + "12", false}
                                                       << updater << changer << true << none << versionOnly << false << false;
        QTest::newRow("beyond 32 bits: overflow, revision 0") << "" << Reply{200, "4294967296", false}
                                                              << updater << changer << true << QStringList{kOverflow}
                                                              << versionOnly << false << false;
        QTest::newRow("no local updater") << "" << Reply{200, "1", false} << updater << changer
                                          << true << none << all << true << true;
        QTest::newRow("local updater without version") << "-" << Reply{200, "1", false} << updater << changer
                                                       << true << none << all << true << true;
        QTest::newRow("tabs and line feeds ignored") << "1.00.0025" << Reply{200, "\t2\n6\n", false} << updater
                                                     << changer << true << none << all << true << true;
        QTest::newRow("hexadecimal") << "1.00.0025" << Reply{200, "&H1A", false} << updater << changer
                                     << true << none << all << true << true;
        QTest::newRow("first download fails") << "1.00.0025" << Reply{200, "26", false} << missing << changer
                                              << false << none << QStringList{"Zephlane_lastver.txt", "Zephlane.exe"}
                                              << false << false;
        QTest::newRow("first download broken") << "1.00.0025" << Reply{200, "26", false}
                                               << Reply{200, kNewUpdater, true} << changer << false << none
                                               << QStringList{"Zephlane_lastver.txt", "Zephlane.exe"} << false << false;
        QTest::newRow("second download fails, new updater stays") << "1.00.0025" << Reply{200, "26", false}
                                                                  << updater << missing << false << none << all
                                                                  << true << false;
    }
    void selfUpdate()
    {
        VELMAR_REQUIRE_MINGW(PeFixture::Arch::Pe32Plus);
        QFETCH(QString, localVersion);
        QFETCH(Reply, versionFile);
        QFETCH(Reply, updater);
        QFETCH(Reply, changer);
        QFETCH(bool, result);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, requested);
        QFETCH(bool, updaterReplaced);
        QFETCH(bool, changerReplaced);

        LocalHttpServer server;
        server.setReply(kFolder + "Zephlane_lastver.txt", versionFile);
        server.setReply(kFolder + "Zephlane.exe", updater);
        server.setReply(kFolder + "brackwell.exe", changer);

        QTemporaryDir dir;
        const QString folder = dir.filePath("프로그램 폴더");
        QVERIFY(QDir().mkpath(folder));
        const QString updaterPath = folder + "/Zephlane.exe";
        const QString changerPath = folder + "/brackwell.exe";
        QByteArray oldUpdater = "<absent>";
        if (localVersion == "-")
            oldUpdater = "#!/bin/sh\nexit 0\n";
        else if (!localVersion.isEmpty())
            oldUpdater = updaterWithVersion(localVersion);
        if (oldUpdater != "<absent>")
            writeFile(updaterPath, oldUpdater);
        writeFile(changerPath, kOldChanger);

        RecordingMessenger rec;
        QCOMPARE(AutoUpdaterSelfUpdate(environment(folder, server.url(kFolder))), result);
        QCOMPARE(rec.messageTexts(), messages);
        for (const Message &m : rec.messages()) {
            QCOMPARE(m.icon, m.text == kNoVersionInfo ? Icon::Critical : Icon::None);
            QCOMPARE(m.title, QString());
            QCOMPARE(m.buttons, Buttons::Ok);
        }
        QCOMPARE(fileNames(server.requestedPaths()), requested);
        QCOMPARE(fileContent(updaterPath), updaterReplaced ? kNewUpdater : oldUpdater);
        QCOMPARE(fileContent(changerPath), changerReplaced ? kNewChanger : kOldChanger);
        QStringList expectedFiles{"brackwell.exe"};
        if (oldUpdater != "<absent>" || updaterReplaced)
            expectedFiles.prepend("Zephlane.exe");
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), expectedFiles);
    }

    void selfUpdateServerUnreachable()
    {
        QTemporaryDir dir;
        RecordingMessenger rec;
        const QString base = QString("http://127.0.0.1:%1%2").arg(LocalHttpServer::closedPort()).arg(kFolder);
        QVERIFY(!AutoUpdaterSelfUpdate(environment(dir.path(), base)));
        QCOMPARE(rec.messageTexts(), QStringList{kNoVersionInfo});
        QCOMPARE(rec.messages().first().icon, Icon::Critical);
    }

    // A build that names no update server neither asks nor complains.
    void selfUpdateWithoutServer()
    {
        QTemporaryDir dir;
        RecordingMessenger rec;
        QVERIFY(!AutoUpdaterSelfUpdate(environment(dir.path(), QString())));
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    void updateFolderAddress()
    {
        QCOMPARE(updateBaseUrl("http://updates.example.com"),
                 QString("http://updates.example.com/download/tessavo_v1/"));
        QCOMPARE(updateBaseUrl(QString()), QString());
    }
};

QTEST_GUILESS_MAIN(TestSelfUpdate)
#include "test_selfupdate.moc"
