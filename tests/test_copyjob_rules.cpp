// Rules of the copy job that need no server: validation, names, the rewrite, the clock.
#include "ClientPrograms.h"
#include "CopyJob.h"
#include "RewriteStage.h"
#include "DumpFolder.h"
#include "DumpRewrite.h"
#include "GrowingFile.h"
#include "LinkMeasure.h"
#include "modMySQL_Func_lite.h"
#include "PlatformText.h"
#include "RecordingMessenger.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

using namespace velmar;
using namespace velmar::test;
using velmar::test::RecordingMessenger;
using velmar::test::nativePath;

Q_DECLARE_METATYPE(velmar::FieldId)

namespace {

CopyRequest validRequest()
{
    CopyRequest r;
    r.host = "devdb.example";
    r.dbPrefix = "pelsar_";
    r.user = "abc";
    r.dumpOption = "-q -e";
    r.foreign = false;
    return r;
}

QStringList dumpFiles(const QString &folder)
{
    QStringList files = QDir(folder + "/dump").entryList(QDir::Files);
    files.sort();
    return files;
}

const QByteArray kHead("SET AUTOCOMMIT = 0;\r\nSET FOREIGN_KEY_CHECKS=0;\r\n");
const QByteArray kTail("SET FOREIGN_KEY_CHECKS = 1;\r\nCOMMIT;\r\nSET AUTOCOMMIT = 1;\r\n");

}  // namespace

class TestCopyJobRules : public QObject {
    Q_OBJECT
private slots:
    void dumpOptionsSayCompression_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("said");
        QTest::newRow("none") << "-q -e" << false;
        QTest::newRow("-C") << "-q -e -C" << true;
        QTest::newRow("in a cluster") << "-qeC" << true;
        QTest::newRow("after a valued letter") << "-hC" << false;  // -h takes "C" as its host
        QTest::newRow("--compress") << "--compress" << true;
        QTest::newRow("turned off") << "-q --skip-compress" << true;
        QTest::newRow("zero") << "--compress=0" << true;
        QTest::newRow("MySQL 8 algorithms") << "--compression-algorithms=zstd" << true;
        QTest::newRow("quoted word") << "--where=\"a='-C'\"" << false;
    }
    void dumpOptionsSayCompression()
    {
        QFETCH(QString, options);
        QFETCH(bool, said);
        QCOMPARE(optionsSayCompression(options), said);
    }

    void dumpOptionsTakeTriggers_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("in");
        QTest::newRow("default") << "-q -e" << true;
        QTest::newRow("skipped") << "-q --skip-triggers" << false;
        QTest::newRow("zero") << "--triggers=0" << false;
        QTest::newRow("skipped, then taken") << "--skip-triggers --triggers" << true;
        QTest::newRow("quoted word") << "--where=\"a='--skip-triggers'\"" << true;
    }
    void dumpOptionsTakeTriggers()
    {
        QFETCH(QString, options);
        QFETCH(bool, in);
        QCOMPARE(optionsDumpTriggers(options), in);
    }

    void linkChoice_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("line");
        QTest::newRow("20 Mbit/s") << 2.4 << "원본 서버 연결 측정: 2.4 MB/s, 왕복 0.3 ms, 압축 사용";
        QTest::newRow("100 Mbit/s") << 11.8 << "원본 서버 연결 측정: 11.8 MB/s, 왕복 0.3 ms, 압축 사용";
        QTest::newRow("1 Gbit/s") << 117.0 << "원본 서버 연결 측정: 117.0 MB/s, 왕복 0.3 ms, 압축 사용 안 함";
    }
    void linkChoice()
    {
        QFETCH(double, rate);
        QFETCH(QString, line);
        const LinkFacts link{rate, 0.3};
        QCOMPARE(linkLogLine(link, compressionPays(link)), line);
    }

    // A program that says nothing on standard error is reported in the program's language.
    void silentProgramFailures_data()
    {
        QTest::addColumn<bool>("crashed");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("exit status") << false << 3 << "mysqldump이(가) 실패했습니다 (종료 코드 3)" << 3;
        QTest::newRow("crash") << true << 0 << "mysqldump이(가) 비정상적으로 끝났습니다" << -1;
    }
    void silentProgramFailures()
    {
        QFETCH(bool, crashed);
        QFETCH(int, exitCode);
        QFETCH(QString, text);
        QFETCH(int, number);
        RunResult run;
        run.started = true;
        run.crashed = crashed;
        run.exitCode = exitCode;
        const RaisedError e = programError("mysqldump", run);
        QCOMPARE(e.Description, text);
        QCOMPARE(e.Number, number);
    }

    void elapsed_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "00:00:00";
        QTest::newRow("under a second") << qint64(999) << "00:00:00";
        QTest::newRow("3m27s") << qint64(207'000) << "00:03:27";
        QTest::newRow("just under a day") << qint64(86'399'000) << "23:59:59";
        QTest::newRow("25 hours") << qint64(90'000'000) << "25:00:00";
        QTest::newRow("100 hours") << qint64(360'061'000) << "100:01:01";
    }
    void elapsed()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(formatElapsed(ms), text);
    }

    void leftOut_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("routines");
        QTest::addColumn<int>("events");
        QTest::addColumn<QString>("notice");
        const QString head = "주의: 원본 DB의 ";
        const QString tail = "는 덤프 옵션에 없어 복사되지 않습니다. option에 ";
        QTest::newRow("defaults, routines") << "-q -e" << 2 << 0 << head + "저장 프로시저·함수 2개" + tail + "-R을 더하면 함께 복사됩니다.";
        QTest::newRow("defaults, events") << "-q -e" << 0 << 1 << head + "이벤트 1개" + tail + "-E를 더하면 함께 복사됩니다.";
        QTest::newRow("defaults, both") << "-q -e" << 3 << 1
                                        << head + "저장 프로시저·함수 3개, 이벤트 1개" + tail + "-R -E를 더하면 함께 복사됩니다.";
        QTest::newRow("nothing to leave out") << "-q -e" << 0 << 0 << "";
        QTest::newRow("-R") << "-q -e -R" << 2 << 0 << "";
        QTest::newRow("long names") << "--routines --events" << 2 << 1 << "";
        QTest::newRow("in a cluster") << "-qeRE" << 2 << 1 << "";
        QTest::newRow("R as a value") << "-q -hR" << 2 << 0 << head + "저장 프로시저·함수 2개" + tail + "-R을 더하면 함께 복사됩니다.";
        QTest::newRow("skipped again") << "-R --skip-routines -E" << 1 << 1
                                       << head + "저장 프로시저·함수 1개" + tail + "-R을 더하면 함께 복사됩니다.";
    }
    void leftOut()
    {
        QFETCH(QString, options);
        QFETCH(int, routines);
        QFETCH(int, events);
        QFETCH(QString, notice);
        QCOMPARE(leftOutNotice(options, routines, events), notice);
    }

    void validation_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("message");
        QTest::addColumn<velmar::FieldId>("focus");
        QTest::newRow("no stage") << "nostage" << "작업범위가 선택되지 않았습니다." << FieldId::chkWork0;
        QTest::newRow("no host") << "host=" << "host를 입력하세요." << FieldId::cmbField0;
        QTest::newRow("localhost without new db")
            << "host=localhost" << "HOST가 localhost일 경우 New DB는 다른 이름으로 반드시 입력되어야 합니다."
            << FieldId::txtField3;
        QTest::newRow("no prefix") << "prefix=" << "db를 입력하세요." << FieldId::cmbField1;
        QTest::newRow("no user") << "user=" << "User를 입력하세요." << FieldId::txtField0;
        QTest::newRow("unclosed quote before an option") << "option=-q -e \"--no-data"
                                                         << "option의 따옴표가 닫히지 않았습니다. -q -e \"--no-data"
                                                         << FieldId::txtField1;
        QTest::newRow("closed quotes pass") << "option=--where=\"id > 1\" 'x'" << "" << FieldId::None;
        QTest::newRow("unclosed quote, no dump") << "option=\"oops;nodump" << "" << FieldId::None;
        QTest::newRow("fk folder of blanks") << "fk=   " << "외래키 스크립트 파일경로가 설정되어 있지 않습니다."
                                             << FieldId::txtField4;
        QTest::newRow("fk folder empty") << "fk=" << "외래키 스크립트 파일경로가 설정되어 있지 않습니다."
                                         << FieldId::txtField4;
        QTest::newRow("fk no scripts") << "fk=none" << "pelsar_tables외래키.SQL 파일이 존재하지 않습니다."
                                       << FieldId::None;
        QTest::newRow("fk only pelsar") << "fk=pelsar" << "dorvik_tables외래키.SQL 파일이 존재하지 않습니다."
                                        << FieldId::None;
        QTest::newRow("fk only pelsar for lumetta")
            << "fk=pelsar;prefix=lumetta_" << "dorvik_tables외래키.SQL 파일이 존재하지 않습니다." << FieldId::None;
        QTest::newRow("fk both") << "fk=both" << "" << FieldId::None;
        QTest::newRow("blank names") << "host= ;prefix= ;user= " << "New DB 이름이 비어 있습니다." << FieldId::txtField3;
        QTest::newRow("blank new db") << "newdb=   " << "New DB 이름이 비어 있습니다." << FieldId::txtField3;
        QTest::newRow("blank new db, dump only") << "newdb=   ;dumponly" << "" << FieldId::None;
        QTest::newRow("new db of 65") << "newdb=" + QString(65, u'd') << "New DB 이름은 64자를 넘을 수 없습니다. " + QString(65, u'd')
                                      << FieldId::txtField3;
        QTest::newRow("new db ends with a blank") << "newdb=abc_dev " << "New DB 이름은 공백으로 끝날 수 없습니다. [abc_dev ]"
                                                  << FieldId::txtField3;
        QTest::newRow("blank new user") << "user=  ;newdb=x" << "New USER 이름이 비어 있습니다." << FieldId::txtField2;
        QTest::newRow("new user of 128") << "newuser=" + QString(128, u'u') << "" << FieldId::None;
        QTest::newRow("new user of 129") << "newuser=" + QString(129, u'u') << "New USER 이름은 128자를 넘을 수 없습니다. " + QString(129, u'u')
                                         << FieldId::txtField2;
        QTest::newRow("ord user of 129") << "ord;newuser=" + QString(125, u'u')
                                         << "New USER 이름은 128자를 넘을 수 없습니다. " + QString(125, u'u') + "_ord" << FieldId::txtField2;
        QTest::newRow("remote same name") << "newdb=pelsar_abc" << "" << FieldId::None;
        QTest::newRow("empty host before no stage wins")
            << "nostage;host=" << "작업범위가 선택되지 않았습니다." << FieldId::chkWork0;
        const QString same = "원본 DB(pelsar_abc)가 로컬 서버에 있으므로 New DB는 다른 이름으로 반드시 입력되어야 합니다.";
        QTest::newRow("LOCALHOST as source") << "host=LOCALHOST" << same << FieldId::txtField3;
        QTest::newRow("blanks around localhost") << "host= localhost " << same << FieldId::txtField3;
        QTest::newRow("loopback address") << "host=127.0.0.1" << same << FieldId::txtField3;
        QTest::newRow("other loopback address") << "host=127.1.2.3" << same << FieldId::txtField3;
        QTest::newRow("v6 loopback") << "host=::1" << same << FieldId::txtField3;
        QTest::newRow("localhost with port") << "host=localhost:3306" << same << FieldId::txtField3;
        const QString port = "HOST의 포트는 1부터 65535까지의 숫자로 입력하세요. ";
        QTest::newRow("port with a letter") << "host=127.0.0.1:3441x" << port + "[127.0.0.1:3441x]" << FieldId::cmbField0;
        QTest::newRow("port 0") << "host=devdb:0" << port + "[devdb:0]" << FieldId::cmbField0;
        QTest::newRow("port 65536") << "host=devdb:65536" << port + "[devdb:65536]" << FieldId::cmbField0;
        QTest::newRow("empty port") << "host=devdb:" << port + "[devdb:]" << FieldId::cmbField0;
        QTest::newRow("v6 with a bad port") << "host=[fd00::5]:x1" << port + "[[fd00::5]:x1]" << FieldId::cmbField0;
        QTest::newRow("port 65535") << "host=devdb:65535" << "" << FieldId::None;
        QTest::newRow("v6 with a port") << "host=[fd00::5]:3307" << "" << FieldId::None;
        QTest::newRow("machine name") << "host=@machine" << same << FieldId::txtField3;
        QTest::newRow("new db typed as the source")
            << "host=localhost;newdb=pelsar_abc" << same << FieldId::txtField3;
        QTest::newRow("new db same but for case")
            << "host=localhost;newdb=PELSAR_ABC" << same << FieldId::txtField3;
        QTest::newRow("local with another new db") << "host=127.0.0.1;newdb=pelsar_abc_dev" << "" << FieldId::None;
    }
    void validation()
    {
        QFETCH(QString, change);
        QFETCH(QString, message);
        QFETCH(velmar::FieldId, focus);
        QTemporaryDir fkDir;
        CopyRequest r = validRequest();
        for (const QString &c : change.split(';', Qt::SkipEmptyParts)) {
            const QString key = c.section('=', 0, 0);
            QString value = c.section('=', 1);
            if (key == "nostage") {
                r.stage[0] = r.stage[1] = r.stage[2] = false;
            } else if (key == "host") {
                r.host = value == "@machine" ? QHostInfo::localHostName().toUpper() : value;
            } else if (key == "prefix") {
                r.dbPrefix = value;
            } else if (key == "user") {
                r.user = value;
            } else if (key == "option") {
                r.dumpOption = value;
            } else if (key == "newuser") {
                r.newUser = value;
            } else if (key == "ord") {
                r.onOrdUser = true;
            } else if (key == "dumponly") {
                r.stage[1] = r.stage[2] = false;
            } else if (key == "nodump") {
                r.stage[0] = false;
            } else if (key == "newdb") {
                r.newDB = value;
            } else if (key == "fk") {
                r.foreign = true;
                r.foreignPath = value;
                if (value == "none" || value == "pelsar" || value == "both") {
                    r.foreignPath = fkDir.path();
                    if (value != "none")
                        writeFile(fkDir.path() + "/pelsar_tables외래키.SQL", "SELECT 1;\n");
                    if (value == "both")
                        writeFile(fkDir.path() + "/dorvik_tables외래키.SQL", "SELECT 1;\n");
                }
            }
        }
        RecordingMessenger rec;
        const ValidationResult v = ValidateCopyRequest(r);
        QCOMPARE(v.passed, message.isEmpty());
        QCOMPARE(rec.messageTexts(), message.isEmpty() ? QStringList{} : QStringList{message});
        if (!message.isEmpty()) {
            QCOMPARE(v.focus, focus);
            const Message m = rec.messages().first();
            QCOMPARE(m.buttons, Buttons::Ok);
            QCOMPARE(m.icon, Icon::None);
            QVERIFY(m.title.isEmpty());
        }
        QCOMPARE(rec.logEntries(), QStringList{});
    }

    void localHosts_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("local");
        QTest::newRow("localhost") << "localhost" << true;
        QTest::newRow("Localhost") << "Localhost" << true;
        QTest::newRow("tab and blanks") << "\t localhost  " << true;
        QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
        QTest::newRow("127.0.0.1 with port") << "127.0.0.1:3307" << true;
        QTest::newRow("::1") << "::1" << true;
        QTest::newRow("[::1]:3306") << "[::1]:3306" << true;
        QTest::newRow("machine") << QHostInfo::localHostName() << true;
        QTest::newRow("remote name") << "devdb.example" << false;
        QTest::newRow("remote address") << "192.0.2.10" << false;
        QTest::newRow("local-ish name") << "localhost.example" << false;
        QTest::newRow("empty") << "" << false;
    }
    void localHosts()
    {
        QFETCH(QString, host);
        QFETCH(bool, local);
        QCOMPARE(isLocalHost(host), local);
    }

    void derivedNames()
    {
        CopyRequest r = validRequest();
        CopyJob plain(r);
        QCOMPARE(plain.SourceDBName(), QString("pelsar_abc"));
        QCOMPARE(plain.NewDBName(), QString("pelsar_abc"));
        QCOMPARE(plain.NewUserName(), QString("abc"));
        r.newDB = "pelsar_abc_dev";
        r.newUser = "kim";
        r.programFolder = "/opt/velmar";
        CopyJob named(r);
        QCOMPARE(named.NewDBName(), QString("pelsar_abc_dev"));
        QCOMPARE(named.NewUserName(), QString("kim"));
        // The folder as given ("/" on Windows too) shows in the platform's form.
        QCOMPARE(named.dumpFilePath(), nativePath("/opt/velmar/dump/pelsar_abc.sql"));
        QCOMPARE(named.editedFilePath(), nativePath("/opt/velmar/dump/pelsar_abc_2.sql"));
    }

    void replaceFileWaitsForAHeldFile_data()
    {
        QTest::addColumn<int>("heldMs");  // how long another handle keeps the new file open
        QTest::addColumn<bool>("replaced");
        QTest::newRow("free") << 0 << true;
        QTest::newRow("held for a moment") << 300 << true;
        QTest::newRow("held throughout") << 4000 << false;
    }
    void replaceFileWaitsForAHeldFile()
    {
        QFETCH(int, heldMs);
        QFETCH(bool, replaced);
#ifndef Q_OS_WIN
        if (!replaced)
            QSKIP("an open file does not stop a rename here");
#endif
        QTemporaryDir dir;
        const QString from = dir.path() + "/new.sql.part", to = dir.path() + "/new.sql";
        writeFile(from, "new dump");
        writeFile(to, "old dump");
        // Qt opens files without delete sharing: on Windows the rename fails while it is open.
        QFile holder(from);
        QVERIFY(holder.open(QIODevice::ReadOnly));
        std::thread release;
        if (heldMs > 0)
            release = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(heldMs));
                holder.close();
            });
        else
            holder.close();
        QString error;
        const bool done = replaceFile(from, to, &error);
        if (release.joinable())
            release.join();
        QCOMPARE(done, replaced);
        if (replaced) {
            QCOMPARE(fileContent(to), QByteArray("new dump"));
            QVERIFY(!QFile::exists(from));
            QCOMPARE(error, QString());
        } else {
            QCOMPARE(fileContent(to), QByteArray("old dump"));
            QVERIFY2(error.endsWith("(32)"), qPrintable(error));  // ERROR_SHARING_VIOLATION, said so
        }
    }

    // No source name writes outside the dump folder; ordinary names keep their file names.
    void dumpFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::newRow("ordinary") << "pelsar_가 나" << "pelsar_가 나";
        QTest::newRow("parent folder") << "../x" << "..@002fx";
        QTest::newRow("backslash") << "..\\x" << "..@005cx";
        QTest::newRow("windows specials") << "a:b*?\"<>|\t" << "a@003ab@002a@003f@0022@003c@003e@007c@0009";
        QTest::newRow("the encoding's own sign") << "a@002f" << "a@0040002f";
        QTest::newRow("dot dot") << ".." << "@002e@002e";
        QTest::newRow("closing dot and blank") << "x. " << "x@002e@0020";
        QTest::newRow("device") << "Lpt1.x" << "@004cpt1.x";
        QTest::newRow("not a device") << "console" << "console";
    }
    void dumpFileNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QCOMPARE(dumpFileBaseName(name), file);
    }

    void grantPattern_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("plain") << "abc" << "abc";
        QTest::newRow("underscore") << "pelsar_abc" << "pelsar\\_abc";
        QTest::newRow("percent and backslash") << "a%b\\c" << "a\\%b\\\\c";
    }
    void grantPattern()
    {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QCOMPARE(escapeLikePattern(name), pattern);
    }

    void rewrite_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::newRow("one line with end") << QByteArray("CREATE TABLE t (a int);\n");
        QTest::newRow("no line end at the end") << QByteArray("INSERT INTO t VALUES (1);");
        QTest::newRow("crlf and korean utf-8") << QByteArray("-- 한글\r\nSELECT '가';\r\n");
        QByteArray binary(9 * 1024 * 1024 + 3, '\0');
        for (int i = 0; i < binary.size(); ++i)
            binary[i] = char(i * 7 + (i >> 11));
        QTest::newRow("several blocks of binary") << binary;
    }
    void rewrite()
    {
        QFETCH(QByteArray, dump);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("dump"));
        CopyRequest r = validRequest();
        r.programFolder = dir.path();
        velmar::CopyContext job(r);
        writeFile(job.dumpFilePath(), dump);
        // A longer file from an earlier run must not leave bytes behind.
        writeFile(job.editedFilePath(), QByteArray(dump.size() + 5000, 'x'));

        RecordingMessenger rec;
        QVERIFY(RewriteStage(job).run());
        const QByteArray out = fileContent(job.editedFilePath());
        QCOMPARE(out.size(), dump.size() + 107);
        QVERIFY(out == kHead + dump + kTail);
        QVERIFY(fileContent(job.dumpFilePath()) == dump);
        QCOMPARE(rec.messageTexts(), QStringList{});
        const QString path = job.editedFilePath();
        QCOMPARE(rec.logEntries(),
                 (QStringList{path + " / Head AddLine...\r\n\r\nSET AUTOCOMMIT = 0;\r\nSET FOREIGN_KEY_CHECKS=0;\r\n",
                              path + " / Tail AddLine...\r\n\r\nSET FOREIGN_KEY_CHECKS = 1;\r\nCOMMIT;\r\nSET AUTOCOMMIT = 1;\r\n"}));
        QCOMPARE(dumpFiles(dir.path()), (QStringList{"pelsar_abc.sql", "pelsar_abc_2.sql"}));
    }

    // The rewrite that follows a dump still being written: a reader that follows it gets the same
    // bytes as the rewrite of the finished dump, and the file takes its name only when committed.
    void followingRewrite()
    {
        QFETCH(QByteArray, dump);
        QTemporaryDir dir;
        const QString in = dir.filePath("d.sql"), out = dir.filePath("d_2.sql");
        FollowingRewrite rewrite(in, out + ".part");
        QVERIFY(rewrite.begin());
        QByteArray read;
        std::thread reader([&] {
            GrowingFileReader device(out + ".part", rewrite.file(), {});
            QVERIFY(device.open(QIODevice::ReadOnly));
            for (QByteArray block; !(block = device.read(65536)).isEmpty();)
                read += block;
        });
        QFile written(in);
        QVERIFY(written.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        for (qsizetype at = 0; at < dump.size(); at += 1000003) {
            written.write(dump.mid(at, 1000003));
            QCOMPARE(rewrite.pump(), RewriteOutcome::Done);
        }
        QCOMPARE(rewrite.drain(), RewriteOutcome::Done);
        QCOMPARE(rewrite.finish(), RewriteOutcome::Done);
        reader.join();
        QVERIFY(read == kHead + dump + kTail);
        QVERIFY(!QFile::exists(out));
        QVERIFY(rewrite.commit(out));
        QVERIFY(fileContent(out) == read);
    }
    void followingRewrite_data() { rewrite_data(); }

    // A rewrite given up on stops its reader with the reason and leaves no file behind.
    void abandonedFollowingRewrite()
    {
        QTemporaryDir dir;
        QString why;
        {
            FollowingRewrite rewrite(dir.filePath("d.sql"), dir.filePath("d_2.sql.part"));
            QVERIFY(rewrite.begin());
            GrowingFileReader device(dir.filePath("d_2.sql.part"), rewrite.file(), {});
            QVERIFY(device.open(QIODevice::ReadOnly));
            QVERIFY(device.read(1000) == kHead);
            std::thread stopper([&] { rewrite.abandon("the dump stopped"); });
            QCOMPARE(device.read(1000), QByteArray());
            why = device.errorString();
            stopper.join();
        }
        QCOMPARE(why, QString("the dump stopped"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{});
    }

    void rewriteFailures_data()
    {
        QTest::addColumn<bool>("inputExists");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing input") << false << "Error 53 (File not found: %1) in procedure STEP_EditSQLFile of Module modMain";
        QTest::newRow("empty input") << true << "Error 62 (Input past end of file: %1) in procedure STEP_EditSQLFile of Module modMain";
    }
    void rewriteFailures()
    {
        QFETCH(bool, inputExists);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("dump"));
        CopyRequest r = validRequest();
        r.programFolder = dir.path();
        velmar::CopyContext job(r);
        if (inputExists)
            writeFile(job.dumpFilePath(), QByteArray());
        writeFile(job.editedFilePath(), "earlier good file");
        RecordingMessenger rec;
        QVERIFY(!RewriteStage(job).run());
        QCOMPARE(rec.messageTexts(), QStringList{message.arg(job.dumpFilePath())});
        QCOMPARE(fileContent(job.editedFilePath()), QByteArray("earlier good file"));
        QCOMPARE(QFile::exists(job.dumpFilePath()), inputExists);
    }

    void cancelledRewriteKeepsEarlierFile()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("dump"));
        CopyRequest r = validRequest();
        r.programFolder = dir.path();
        velmar::CopyContext job(r);
        writeFile(job.dumpFilePath(), QByteArray(12 * 1024 * 1024, 'd'));
        writeFile(job.editedFilePath(), "earlier good file");
        job.progress = [&job](CopyStage stage, qint64 done, qint64 total, double) {
            QCOMPARE(stage, CopyStage::Rewrite);
            QCOMPARE(total, qint64(12 * 1024 * 1024));
            if (done > 0)
                job.cancel = true;
        };
        RecordingMessenger rec;
        QVERIFY(!RewriteStage(job).run());
        QCOMPARE(rec.messageTexts(), QStringList{});
        QCOMPARE(fileContent(job.editedFilePath()), QByteArray("earlier good file"));
        QCOMPARE(dumpFiles(dir.path()), (QStringList{"pelsar_abc.sql", "pelsar_abc_2.sql"}));
    }
};

QTEST_GUILESS_MAIN(TestCopyJobRules)
#include "test_copyjob_rules.moc"
