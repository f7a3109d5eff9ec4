// The SQL loader: the reader's cuts, then loads into the test server compared with what the real
// mysql client makes of the same file.
#include "GrowingFile.h"
#include "LoaderConnection.h"
#include "RowsAsData.h"
#include "SqlLoader.h"
#include "SqlStatementReader.h"
#include "TestServer.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <mysql.h>

#include <atomic>
#include <thread>

using namespace velmar;
using namespace velmar::test;

namespace {

const QByteArray kHead = "SET AUTOCOMMIT = 0;\r\nSET FOREIGN_KEY_CHECKS=0;\r\n";
const QByteArray kTail = "SET FOREIGN_KEY_CHECKS = 1;\r\nCOMMIT;\r\nSET AUTOCOMMIT = 1;\r\n";

const char *const kKindNames[] = {"set", "tx", "insert", "create-table", "drop-table", "lock", "unlock",
                                  "view", "trigger", "routine", "event", "use", "client", "other"};

// "line:kind:name:text" for each statement the reader gives.
QStringList cut(const QByteArray &input)
{
    QBuffer b;
    b.setData(input);
    b.open(QIODevice::ReadOnly);
    SqlStatementReader r(&b);
    QStringList out;
    SqlStatement s;
    while (r.next(s)) {
        const QByteArray body = s.kind == SqlStatement::Kind::ClientCommand ? s.command : s.text;
        out << QString::number(s.line) + u':' + QLatin1String(kKindNames[int(s.kind)]) + u':'
                   + QString::fromUtf8(s.name) + u':' + QString::fromUtf8(body);
    }
    return out;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

LoadTarget target(const QString &db)
{
    LoadTarget t;
    t.user = QStringLiteral("root");
    t.password = QString::fromLatin1(TestServer::rootPassword);
    t.database = db;
    return t;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void recreate(const QString &db)
{
    QCOMPARE(TestServer::exec(QStringLiteral("DROP DATABASE IF EXISTS `%1`; CREATE DATABASE `%1`").arg(db)), QString());
}

// Runs a client program against the test server; returns its standard error.
QString runProgram(const QStringList &names, const QStringList &args, const QString &in, const QString &out)
{
    QProcess p;
    if (!in.isEmpty())
        p.setStandardInputFile(in);
    if (!out.isEmpty())
        p.setStandardOutputFile(out);
    for (const QString &name : names) {
        p.start(name, QStringList{QStringLiteral("--user=root"),
                                  QStringLiteral("--password=") + QLatin1String(TestServer::rootPassword)} + args);
        if (p.waitForStarted(30000))
            break;
    }
    if (p.state() == QProcess::NotRunning && p.error() == QProcess::FailedToStart)
        return QStringLiteral("not started: ") + names.join(u'/');
    const bool ended = p.waitForFinished(300000);
    const QString error = QString::fromUtf8(p.readAllStandardError()).trimmed();
    // A client that fails without a word must not pass for one that loaded the file; its own
    // words stay the last line.
    if (!ended || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("%1 ended badly (%2, exit %3)\n%4")
            .arg(names.first(), ended ? QStringLiteral("ended") : QStringLiteral("still running"))
            .arg(p.exitCode())
            .arg(error);
    return error;
}

// Everything that must match between two loads of one file, with the database name replaced.
QStringList snapshot(const QString &db)
{
    QStringList out;
    const auto q = [&](const QString &sql) { return TestServer::rows(sql.arg(db)); };
    const auto add = [&](QStringList rows, bool dropLast = false) {
        for (QString row : rows) {
            if (dropLast)
                row = row.section(u'\t', 0, -2);  // the creation time
            if (row.startsWith(db + u'.'))  // CHECKSUM TABLE names db.table
                row.replace(0, db.size(), QStringLiteral("DB"));
            out << row.replace(u'`' + db + u'`', QStringLiteral("`DB`"));
        }
    };
    for (const QString &t : q("SELECT table_name FROM information_schema.tables WHERE table_schema='%1' "
                              "AND table_type='BASE TABLE' ORDER BY 1")) {
        const QString name = QString(t).replace(u'`', QStringLiteral("``"));
        add(TestServer::rows(QStringLiteral("CHECKSUM TABLE `%1`.`%2` EXTENDED").arg(db, name)));
        add(TestServer::rows(QStringLiteral("SHOW CREATE TABLE `%1`.`%2`").arg(db, name)));
    }
    add(q("SELECT table_name, auto_increment, table_collation FROM information_schema.tables "
          "WHERE table_schema='%1' ORDER BY 1"));
    for (const QString &v : q("SELECT table_name FROM information_schema.views WHERE table_schema='%1' ORDER BY 1"))
        add(TestServer::rows(QStringLiteral("SHOW CREATE VIEW `%1`.`%2`").arg(db, v)));
    for (const QString &t : q("SELECT trigger_name FROM information_schema.triggers WHERE trigger_schema='%1'"))
        add(TestServer::rows(QStringLiteral("SHOW CREATE TRIGGER `%1`.`%2`").arg(db, t)), true);
    for (const QString &r : q("SELECT CONCAT(routine_type, ' `%1`.`', routine_name, '`') FROM "
                              "information_schema.routines WHERE routine_schema='%1' ORDER BY 1"))
        add(TestServer::rows(QStringLiteral("SHOW CREATE ") + r));
    for (const QString &e : q("SELECT event_name FROM information_schema.events WHERE event_schema='%1'"))
        add(TestServer::rows(QStringLiteral("SHOW CREATE EVENT `%1`.`%2`").arg(db, e)));
    return out;
}

// The process list entry of a running statement (its connection id), or 0.
qulonglong runningId(const QString &info)
{
    return TestServer::value(QStringLiteral("SELECT id FROM information_schema.processlist WHERE info = '%1'").arg(info)).toULongLong();
}

}  // namespace

class TestLoader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (TestServer::available())
            TestServer::exportEnvironment();
    }

    void reader_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("statements");
        QTest::newRow("quotes and escapes")
            << QByteArray("SELECT 'a;b''c', \"d\\\";e\", `f;``g`;SELECT '\\\\';\n")
            << QStringList{"1:other::SELECT 'a;b''c', \"d\\\";e\", `f;``g`", "1:other::SELECT '\\\\'"};
        QTest::newRow("comments dropped")
            << QByteArray("-- dump\n#\n  /* x */ SELECT 1 /* y\n;z */ + 2 -- t\n--\n, 3 # h\n;SELECT 4 --5;")
            << QStringList{"3:other::SELECT 1  + 2 \n\n, 3 \n", "7:other::SELECT 4 --5"};
        QTest::newRow("space for a comment")
            << QByteArray("SELECT 6/* x */ /* y */7,/* z */8 /* w */\n,9;")
            << QStringList{"1:other::SELECT 6  7, 8 \n,9"};
        QTest::newRow("executable comments kept")
            << QByteArray("/*!40101 SET NAMES utf8mb4 */;\n/*!40000 ALTER TABLE `t` DISABLE KEYS */;\n/*M!100100 SET @a=1 */;\n")
            << QStringList{"1:set::/*!40101 SET NAMES utf8mb4 */", "2:other::/*!40000 ALTER TABLE `t` DISABLE KEYS */",
                           "3:set::/*M!100100 SET @a=1 */"};
        QTest::newRow("delimiter and trigger")
            << QByteArray("DELIMITER ;;\n/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ /*!50003 TRIGGER tr "
                          "AFTER INSERT ON a FOR EACH ROW BEGIN -- c\n  SET @x = 1; # h\nEND */;;\ndelimiter ;\nSELECT 2;")
            << QStringList{"2:trigger::/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ /*!50003 TRIGGER tr "
                           "AFTER INSERT ON a FOR EACH ROW BEGIN \n  SET @x = 1; \nEND */",
                           "6:other::SELECT 2"};
        QTest::newRow("CR LF and sandbox line")
            << QByteArray(kHead + "/*M!999999\\- enable the sandbox mode */ \n-- MariaDB dump\n"
                                  "/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE */;\r\n" + kTail)
            << QStringList{"1:set::SET AUTOCOMMIT = 0", "2:set::SET FOREIGN_KEY_CHECKS=0",
                           "3:set::/*M!999999 enable the sandbox mode */ \n\n/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE */",
                           "6:set::SET FOREIGN_KEY_CHECKS = 1", "7:tx::COMMIT", "8:set::SET AUTOCOMMIT = 1"};
        QTest::newRow("classified")
            << QByteArray("INSERT INTO `a``b` VALUES (1);\nINSERT IGNORE INTO db.t (x, `y`) VALUES (2);\n"
                          "REPLACE INTO `한글` VALUES (3);\nINSERT INTO t (x) SELECT 1;\n"
                          "CREATE TABLE IF NOT EXISTS `c` (x int);\nDROP TABLE IF EXISTS `c`;\n"
                          "LOCK TABLES `c` WRITE;\nUNLOCK TABLES;\n/*!50001 CREATE ALGORITHM=UNDEFINED */\n"
                          "/*!50013 DEFINER=`root`@`localhost` SQL SECURITY DEFINER */\n/*!50001 VIEW `v` AS select 1 */;\n"
                          "CREATE DEFINER=`root`@`%` FUNCTION `f`() RETURNS int(11)\nRETURN 1;\n"
                          "/*!50106 CREATE*/ /*!50117 DEFINER=`root`@`localhost`*/ /*!50106 EVENT `e` ON SCHEDULE "
                          "EVERY 1 DAY DO SELECT 1 */;\n")
            << QStringList{"1:insert:a`b:INSERT INTO `a``b` VALUES (1)", "2:insert:t:INSERT IGNORE INTO db.t (x, `y`) VALUES (2)",
                           "3:insert:한글:REPLACE INTO `한글` VALUES (3)", "4:other::INSERT INTO t (x) SELECT 1",
                           "5:create-table:c:CREATE TABLE IF NOT EXISTS `c` (x int)", "6:drop-table:c:DROP TABLE IF EXISTS `c`",
                           "7:lock::LOCK TABLES `c` WRITE", "8:unlock::UNLOCK TABLES",
                           "9:view::/*!50001 CREATE ALGORITHM=UNDEFINED */\n/*!50013 DEFINER=`root`@`localhost` SQL "
                           "SECURITY DEFINER */\n/*!50001 VIEW `v` AS select 1 */",
                           "12:routine::CREATE DEFINER=`root`@`%` FUNCTION `f`() RETURNS int(11)\nRETURN 1",
                           "14:event::/*!50106 CREATE*/ /*!50117 DEFINER=`root`@`localhost`*/ /*!50106 EVENT `e` ON "
                           "SCHEDULE EVERY 1 DAY DO SELECT 1 */"};
        QTest::newRow("client commands")
            << QByteArray("SELECT 1\\g SELECT 2;\nsource x.sql\nSELECT 3; \\! ls\n  USE `other`;\nwarnings\nSELECT 4 \\N;")
            << QStringList{"1:other::SELECT 1", "1:other::SELECT 2", "2:client::source x.sql", "3:other::SELECT 3",
                           "3:client::\\! ls", "4:use:other:USE `other`;", "6:other::SELECT 4 \\N"};
    }

    void reader()
    {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, statements);
        QCOMPARE(cut(input), statements);
    }

    // A second reader that takes up at a statement's line reads on exactly as the first one, in
    // the delimiter and quoting the first one had there.
    void readerResumes()
    {
        const QByteArray file = "SET sql_mode='ANSI_QUOTES';\nDELIMITER ;;\nINSERT INTO \"t\" VALUES ('a;;b'),\n(2);;\n"
                                "  INSERT INTO t VALUES (3);;\nDELIMITER ;\nINSERT INTO t VALUES ('\"');\n";
        QBuffer buffer;
        buffer.setData(file);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        SqlStatementReader reader(&buffer);
        QList<SqlStatement> all;
        QList<std::pair<qsizetype, SqlStatementReader::ResumePoint>> points;
        for (SqlStatement s; reader.next(s);) {
            SqlStatementReader::ResumePoint p;
            if (reader.resumePoint(s, p))
                points.append({all.size(), p});
            all << s;
        }
        const auto shape = [](const SqlStatement &s) -> QString {
            return QString::fromUtf8(s.text) + QStringLiteral(" @%1:%2-%3").arg(s.line).arg(s.offset).arg(s.endOffset);
        };
        QList<qsizetype> at;
        for (const auto &[index, point] : points) {
            at << index;
            QBuffer again;
            again.setData(file);
            QVERIFY(again.open(QIODevice::ReadOnly) && again.seek(point.offset));
            SqlStatementReader resumed(&again);
            resumed.resumeAt(point);
            QStringList expected, got;
            for (qsizetype i = index; i < all.size(); ++i)
                expected << shape(all[i]);
            for (SqlStatement s; resumed.next(s);)
                got << shape(s);
            QCOMPARE(got, expected);
        }
        // Every statement that starts its line; not the indented one.
        QCOMPARE(at, QList<qsizetype>({0, 1, 3}));
    }

    // A file with a command only the client runs is refused before anything is loaded.
    // Rows as LOAD DATA: the values and escapes mysqldump writes convert; anything else stays an INSERT.
    void rowsAsData_data()
    {
        QTest::addColumn<QByteArray>("insert");
        QTest::addColumn<QByteArray>("columns");  // the statement's end; "-" when it stays an INSERT
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("dump rows") << QByteArray("INSERT INTO `t``x` VALUES\n(1,'it\\'s\\n\\0\\Z',NULL,-1.5e-30),\n"
                                                 "(2,'tab\there\\\\ \\\"q\\\" ''x''','NULL',0000.50);")
                                   << QByteArray("`t``x` CHARACTER SET utf8mb4 FIELDS TERMINATED BY '\\t' ESCAPED BY "
                                                 "'\\\\' LINES TERMINATED BY '\\n'")
                                   << QByteArray("1\tit's\\n\\0\x1a\t\\N\t-1.5e-30\n2\ttab\\there\\\\ \"q\" 'x'\tNULL\t0000.50\n");
        QTest::newRow("column list") << QByteArray("insert into t (`a b`, c) values (1, '')")
                                     << QByteArray("t CHARACTER SET utf8mb4 FIELDS TERMINATED BY '\\t' ESCAPED BY '\\\\' "
                                                   "LINES TERMINATED BY '\\n' (`a b`, c)")
                                     << QByteArray("1\t\n");
        // Raw tabs, line ends and NULs inside a string double in size.
        const QByteArray raw = QByteArray(64, '\t') + QByteArray(32, '\0') + "\r\n";
        QTest::newRow("raw control bytes") << "INSERT INTO t VALUES ('" + raw + "',1)"
                                           << QByteArray("t CHARACTER SET utf8mb4 FIELDS TERMINATED BY '\\t' ESCAPED BY "
                                                         "'\\\\' LINES TERMINATED BY '\\n'")
                                           << QByteArray("\\t").repeated(64) + QByteArray("\\0").repeated(32) + "\\r\\n\t1\n";
        for (const char *insert : {"INSERT IGNORE INTO t VALUES (1)", "REPLACE INTO t VALUES (1)", "INSERT INTO t VALUES (0x41)",
                                   "INSERT INTO t VALUES (b'1')", "INSERT INTO t VALUES (_binary 'a')",
                                   "INSERT INTO t VALUES (DEFAULT)", "INSERT INTO t VALUES (1+1)", "INSERT INTO t VALUES ('a\\%')",
                                   "INSERT INTO d.t VALUES (1)", "INSERT INTO t VALUES (1) ON DUPLICATE KEY UPDATE a=1",
                                   "INSERT INTO t VALUES ('')", "INSERT INTO t VALUES (-0.0)", "INSERT INTO t SELECT 1",
                                   "INSERT INTO t VALUES (\"a\")", "INSERT INTO t VALUES ('open"})
            QTest::newRow(insert) << QByteArray(insert) << QByteArray("-") << QByteArray();
    }

    void rowsAsData()
    {
        QFETCH(QByteArray, insert);
        QFETCH(QByteArray, columns);
        QFETCH(QByteArray, data);
        RowsAsData d;
        QCOMPARE(velmar::rowsAsData(insert, "utf8mb4", d), columns != "-");
        if (columns == "-")
            return;
        QCOMPARE(d.statement, "LOAD DATA LOCAL INFILE 'rows' INTO TABLE " + columns);
        QCOMPARE(d.data, data);
        QCOMPARE(d.rows, data.count('\n'));
    }

    // Rows the server would take otherwise as LOAD DATA, or that cannot go so, end as the client's.
    void rowsLikeClient_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("infileOff");
        QTest::addColumn<qint64>("asData");
        QTest::newRow("plain rows") << QByteArray("CREATE TABLE w (id INT PRIMARY KEY, s VARCHAR(10));\n"
                                                  "INSERT INTO w VALUES (1,'a'),(2,NULL),(3,'\\\\N');\n")
                                    << false << qint64(1);
        QTest::newRow("warnings") << QByteArray("SET sql_mode = '';\nCREATE TABLE w (id INT PRIMARY KEY, s VARCHAR(3), n INT);\n"
                                                "INSERT INTO w VALUES (1,'abcdef','12abc'),(2,'',''),(3,'x',NULL);\n")
                                  << false << qint64(0);
        QTest::newRow("latin1 session") << QByteArray("SET NAMES latin1;\nCREATE TABLE w (id INT PRIMARY KEY, s VARCHAR(10)) "
                                                      "CHARSET utf8mb4;\nINSERT INTO w VALUES (1,'\xc3\xa9\x80');\n")
                                        << false << qint64(1);
        QTest::newRow("MyISAM") << QByteArray("CREATE TABLE w (id INT PRIMARY KEY, s VARCHAR(10)) ENGINE=MyISAM;\n"
                                              "INSERT INTO w VALUES (1,'a');\n")
                                << false << qint64(0);
        QTest::newRow("local_infile off") << QByteArray("CREATE TABLE w (id INT PRIMARY KEY, s VARCHAR(10));\n"
                                                        "INSERT INTO w VALUES (1,'a');\n")
                                          << true << qint64(0);
    }

    void rowsLikeClient()
    {
        VELMAR_REQUIRE_SERVER();
        QFETCH(QByteArray, body);
        QFETCH(bool, infileOff);
        QFETCH(qint64, asData);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("w.sql"));
        writeFile(path, kHead + body + kTail);
        recreate(QStringLiteral("lwclient"));
        QCOMPARE(runProgram({QStringLiteral("mysql"), QStringLiteral("mariadb")}, {QStringLiteral("--database=lwclient")},
                            path, QString()),
                 QString());
        if (infileOff)
            TestServer::exec(QStringLiteral("SET GLOBAL local_infile = 0"));
        const auto restore = qScopeGuard([] { TestServer::exec(QStringLiteral("SET GLOBAL local_infile = 1")); });
        recreate(QStringLiteral("lwload"));
        const LoadResult r = loadSqlFile(path, target(QStringLiteral("lwload")), LoadOptions{3, nullptr, {}, {}, {}, {}});
        QVERIFY2(r.outcome == LoadResult::Outcome::Loaded, qPrintable(r.message));
        QCOMPARE(r.asData, asData);
        const QString rows = QStringLiteral("SELECT id, HEX(s) FROM `%1`.w ORDER BY id");
        QCOMPARE(TestServer::rows(rows.arg(QStringLiteral("lwload"))), TestServer::rows(rows.arg(QStringLiteral("lwclient"))));
        QCOMPARE(snapshot(QStringLiteral("lwload")), snapshot(QStringLiteral("lwclient")));
    }

    void needsClient_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("line");
        QTest::newRow("source") << QByteArray("source other.sql") << 4;
        QTest::newRow("system") << QByteArray("\\! touch x") << 4;
        QTest::newRow("use another database") << QByteArray("USE mysql;") << 4;
        QTest::newRow("charset") << QByteArray("charset latin1") << 4;
    }

    void needsClient()
    {
        VELMAR_REQUIRE_SERVER();
        QFETCH(QByteArray, command);
        QFETCH(int, line);
        recreate(QStringLiteral("lneeds"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("n.sql"));
        writeFile(path, kHead + "CREATE TABLE early (id int);\n" + command + "\nCREATE TABLE late (id int);\n");
        const LoadResult r = loadSqlFile(path, target(QStringLiteral("lneeds")), LoadOptions());
        QCOMPARE(r.outcome, LoadResult::Outcome::NeedsClient);
        QVERIFY2(r.message.endsWith(QStringLiteral("(%1의 %2번째 줄)은 mysql 클라이언트가 실행해야 합니다.").arg(path).arg(line)),
                 qPrintable(r.message));
        // Nothing at or after the command was sent.
        QCOMPARE(TestServer::rows(QStringLiteral("SHOW TABLES FROM lneeds LIKE 'late'")), QStringList());
    }

    void sameAsClient()
    {
        VELMAR_REQUIRE_SERVER();
        recreate(QStringLiteral("lsrc"));
        QString bytes;
        for (int i = 0; i < 256; ++i)
            bytes += QStringLiteral("%1").arg(i, 2, 16, QLatin1Char('0'));
        const QString made = TestServer::exec(QStringLiteral(R"(USE lsrc;
CREATE TABLE parent (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(50)) AUTO_INCREMENT=7;
CREATE TABLE `child``s 한글` (id INT AUTO_INCREMENT PRIMARY KEY, parent_id INT, note TEXT,
  twice INT AS (parent_id * 2) VIRTUAL, plus VARCHAR(20) AS (CONCAT(parent_id, 'x')) PERSISTENT,
  FOREIGN KEY (parent_id) REFERENCES parent (id)) AUTO_INCREMENT=50000;
CREATE TABLE blobs (id INT PRIMARY KEY, b LONGBLOB);
CREATE TABLE legacy (id INT PRIMARY KEY, t VARCHAR(50)) DEFAULT CHARSET=euckr;
CREATE TABLE empty_one (id INT PRIMARY KEY) DEFAULT CHARSET=latin1;
CREATE TABLE log (id INT AUTO_INCREMENT PRIMARY KEY, msg VARCHAR(100));
CREATE TABLE kinds (id INT AUTO_INCREMENT PRIMARY KEY, f FLOAT, d DOUBLE, m DECIMAL(30,10),
  u BIGINT UNSIGNED, z INT(6) ZEROFILL, dt DATETIME(6), t TIME, y YEAR, e ENUM('a','b'), st SET('x','y'),
  c CHAR(5), s VARCHAR(20), l VARCHAR(9) CHARACTER SET latin1);
CREATE TABLE plain (id INT PRIMARY KEY, s VARCHAR(20), bits BIT(5), d DOUBLE) ENGINE=MyISAM;
CREATE TABLE odd LIKE plain;
ALTER TABLE odd ENGINE=InnoDB;
SET sql_mode = 'NO_AUTO_VALUE_ON_ZERO';
INSERT INTO kinds VALUES (0, 0.1, 1e-300, -12345678901234567890.0123456789, 18446744073709551615, 7,
  '0000-00-00 00:00:00', '-838:59:59', 1901, 'b', 'x,y', 'ab  ', 'NULL', 'Ünï'),
  (1, -1.5e-30, 1e300, 0, 0, 0, '2024-02-29 23:59:59.123456', '12:00', 2155, NULL, '', '', '\\N', ''),
  (2, 3.25, -2.5, 1.5, 1, 123456, NULL, NULL, NULL, 'a', NULL, NULL, 'tab\there\nnew\rline\Z', NULL);
INSERT INTO plain VALUES (1, 'myisam', b'10101', -0e0), (2, NULL, NULL, 1);
INSERT INTO odd SELECT * FROM plain;
SET sql_mode = DEFAULT;
SET max_recursive_iterations = 10000;
INSERT INTO parent (name) WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 3000)
  SELECT CONCAT('이름 ''', n, '\\;') FROM s;
INSERT INTO `child``s 한글` (parent_id, note) SELECT id, REPEAT('한글 메모; ', id % 40) FROM parent;
INSERT INTO blobs VALUES (1, UNHEX('%1')), (2, REPEAT(UNHEX('00FF27225C0D0A1A3B'), 600000));
INSERT INTO legacy VALUES (1, '한국어'), (2, 'latin');
CREATE VIEW v1 AS SELECT id, name FROM parent;
CREATE VIEW `v2 한` AS SELECT id FROM v1 WHERE id > 1;
CREATE TRIGGER trg AFTER INSERT ON parent FOR EACH ROW BEGIN -- keeps a log
  INSERT INTO log (msg) VALUES (CONCAT('p', NEW.id)); /* one row */
END;
CREATE PROCEDURE proc(IN x INT) BEGIN
  # counts
  SELECT COUNT(*) FROM parent WHERE id > x;
END;
CREATE FUNCTION f(x INT) RETURNS INT DETERMINISTIC RETURN x * 2;
CREATE EVENT ev ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01 00:00:00' DISABLE DO DELETE FROM log WHERE id < 0;
INSERT INTO parent (name) VALUES ('fires the trigger');)").arg(bytes));
        QVERIFY2(made.isEmpty(), qPrintable(made));

        QTemporaryDir dir;
        const QString dump = dir.filePath(QStringLiteral("lsrc.sql"));
        // Small INSERTs: many statements per table, so several connections share each table.
        QCOMPARE(runProgram({QStringLiteral("mysqldump"), QStringLiteral("mariadb-dump")},
                            {QStringLiteral("-q"), QStringLiteral("-e"), QStringLiteral("--routines"),
                             QStringLiteral("--triggers"), QStringLiteral("--events"),
                             QStringLiteral("--net-buffer-length=16384"), QStringLiteral("lsrc")},
                            QString(), dump),
                 QString());
        QFile f(dump);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString wrapped = dir.filePath(QStringLiteral("lsrc_2.sql"));
        writeFile(wrapped, kHead + f.readAll() + kTail);

        recreate(QStringLiteral("lclient"));
        QCOMPARE(runProgram({QStringLiteral("mysql"), QStringLiteral("mariadb")},
                            {QStringLiteral("--database=lclient")}, wrapped, QString()),
                 QString());
        const QStringList expected = snapshot(QStringLiteral("lclient"));
        QCOMPARE(expected.size(), 9 * 3 + 2 + 1 + 2 + 1 + 2);
        // The last load follows the file while it is written, in pieces that end anywhere.
        for (const auto &[connections, followed] : {std::pair{1, false}, {3, false}, {3, true}}) {
            const QString db = QStringLiteral("lload%1%2").arg(connections).arg(followed ? "f" : "");
            recreate(db);
            LoadOptions o;
            o.connections = connections;
            QList<qint64> seen;
            o.progress = [&, followed = followed](qint64 done, qint64 total) {
                if (!followed || total != -1)
                    QCOMPARE(total, QFileInfo(wrapped).size());
                seen << done;
            };
            QString path = wrapped;
            std::thread writer;
            if (followed) {
                path = dir.filePath(QStringLiteral("growing.sql"));
                o.growing = std::make_shared<GrowingFile>();
                writer = std::thread([path, all = fileBytes(wrapped), growing = o.growing] {
                    QFile out(path);
                    out.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
                    for (qsizetype at = 0; at < all.size(); at += 65521) {
                        out.write(all.mid(at, 65521));
                        growing->publish(out.size());
                        QThread::msleep(2);
                    }
                    growing->finish();
                });
                while (!QFile::exists(path))
                    QThread::msleep(1);
            }
            const LoadResult r = loadSqlFile(path, target(db), o);
            if (writer.joinable())
                writer.join();
            QVERIFY2(r.outcome == LoadResult::Outcome::Loaded, qPrintable(r.message));
            QCOMPARE(r.connections, connections);
            QVERIFY(r.asData > 0);
            QCOMPARE(seen.last(), QFileInfo(wrapped).size());
            QVERIFY(std::is_sorted(seen.begin(), seen.end()));
            QCOMPARE(snapshot(db), expected);
        }
    }

    // Session settings hold on every connection: each row records the session it was sent on.
    void sessionLikeClient_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<int>("connectionsUsed");
        QTest::newRow("dump settings") << QByteArray("/*!40101 SET NAMES latin1 */;\n/*!40103 SET TIME_ZONE='+09:00' */;\n"
                                                     "SET @x = 'v';\nSET AUTOCOMMIT = 0;\nSET FOREIGN_KEY_CHECKS=0;\n")
                                       << 3;
        // Before any SET NAMES: the client's own character set; with foreign keys checked, one connection.
        QTest::newRow("client defaults") << QByteArray() << 1;
    }

    void sessionLikeClient()
    {
        VELMAR_REQUIRE_SERVER();
        QFETCH(QByteArray, settings);
        QFETCH(int, connectionsUsed);
#ifdef Q_OS_WIN
        if (settings.isEmpty())
            QSKIP("the client here is the build machine's mysql behind a stand-in: its own character set "
                  "follows that machine's locale, not this program's code page");
#endif
        QByteArray file = settings + "CREATE TABLE s (n INT, cs VARCHAR(30), tz VARCHAR(30), x VARCHAR(9), ac INT, "
                                     "fk INT, cid BIGINT, z INT);\n";
        for (int n = 1; n <= 6; ++n)
            file += "INSERT INTO s VALUES (" + QByteArray::number(n) + ", @@character_set_client, @@time_zone, @x, "
                    "@@autocommit, @@foreign_key_checks, CONNECTION_ID(), SLEEP(0.2));\n";
        file += "COMMIT;\n";
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.sql"));
        writeFile(path, file);
        recreate(QStringLiteral("lsclient"));
        QCOMPARE(runProgram({QStringLiteral("mysql"), QStringLiteral("mariadb")}, {QStringLiteral("--database=lsclient")},
                            path, QString()),
                 QString());
        recreate(QStringLiteral("lsload"));
        LoadOptions o;
        o.connections = 3;
        const LoadResult r = loadSqlFile(path, target(QStringLiteral("lsload")), o);
        QVERIFY2(r.outcome == LoadResult::Outcome::Loaded, qPrintable(r.message));
        const QString rows = QStringLiteral("SELECT n, cs, tz, x, ac, fk FROM `%1`.s ORDER BY n");
        QCOMPARE(TestServer::rows(rows.arg(QStringLiteral("lsload"))), TestServer::rows(rows.arg(QStringLiteral("lsclient"))));
        QCOMPARE(TestServer::value(QStringLiteral("SELECT COUNT(DISTINCT cid) FROM lsload.s")).toInt(), connectionsUsed);
    }

    // A session setting the server refuses leaves the connection as it was and working; one it
    // takes holds for that session alone.
    void sessionSettings_data()
    {
        QTest::addColumn<QByteArray>("assignment");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("session");  // the variable afterwards, in this session
        QTest::addColumn<QString>("global");   // the same, for the server
        const QString sortBuffer = TestServer::value(QStringLiteral("SELECT @@GLOBAL.sort_buffer_size"));
        QTest::newRow("taken") << QByteArray("sort_buffer_size = 4194304") << true << QStringLiteral("4194304")
                               << sortBuffer;
        // MySQL 8's; MariaDB has no such variable.
        QTest::newRow("unknown here") << QByteArray("innodb_ddl_buffer_size = 33554432") << false << QString()
                                      << QString();
        QTest::newRow("global and read only") << QByteArray("innodb_sort_buffer_size = 4194304") << false
                                              << QStringLiteral("1048576") << QStringLiteral("1048576");
        QTest::newRow("not a number") << QByteArray("sort_buffer_size = 'lots'") << false << sortBuffer
                                      << sortBuffer;
    }

    void sessionSettings()
    {
        VELMAR_REQUIRE_SERVER();
        QFETCH(QByteArray, assignment);
        QFETCH(bool, taken);
        QFETCH(QString, session);
        QFETCH(QString, global);
        LoaderConnection c;
        QVERIFY(c.open(target(QString()), 10, 10));
        QCOMPARE(c.setSession(assignment), taken);
        const QByteArray name = assignment.left(assignment.indexOf(' '));
        bool ok = false;
        QCOMPARE(QString::fromUtf8(c.value("SELECT @@" + name, &ok)), session);
        QCOMPARE(ok, !session.isEmpty());
        QCOMPARE(c.value("SELECT 'still answers'"), QByteArray("still answers"));
        if (!global.isEmpty())
            QCOMPARE(TestServer::value(QStringLiteral("SELECT @@GLOBAL.") + QString::fromLatin1(name)), global);
    }

    // Rows that meet another connection's row lock: each row tells who holds the lock and when it
    // lets go; however the lock ends, the rows that follow still go as LOAD DATA.
    void lockedRows_data()
    {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QString>("release");  // the loader statement that waits when the holder lets go
        QTest::addColumn<bool>("deadlock");
        QTest::addColumn<qint64>("asData");
        // The loader's LOAD DATA is the lighter side of a deadlock: the server rolls it back, and
        // the same rows go again as LOAD DATA.
        QTest::newRow("deadlock") << QByteArray() << QStringLiteral("LOAD DATA%") << true << qint64(3);
        // Its wait runs out: those rows go as their INSERT, which waits again until the lock goes.
        QTest::newRow("lock wait timeout") << QByteArray("SET SESSION innodb_lock_wait_timeout = 3;\n")
                                           << QStringLiteral("INSERT INTO `a`%") << false << qint64(2);
    }

    void lockedRows()
    {
        VELMAR_REQUIRE_SERVER();
        QFETCH(QByteArray, setting);
        QFETCH(QString, release);
        QFETCH(bool, deadlock);
        QFETCH(qint64, asData);
        recreate(QStringLiteral("llock"));
        // The holder's session; the load waits for its user lock before the rows.
        std::unique_ptr<MYSQL, decltype(&mysql_close)> holder(mysql_init(nullptr), &mysql_close);
        QVERIFY(TestServer::connect(holder.get(), "root", TestServer::rootPassword, "llock"));
        const auto run = [&](const char *sql) {
            QVERIFY2(mysql_query(holder.get(), sql) == 0, mysql_error(holder.get()));
            if (MYSQL_RES *r = mysql_store_result(holder.get()))
                mysql_free_result(r);
        };
        run("SELECT GET_LOCK('llock_go', 60)");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("l.sql"));
        writeFile(path, kHead + setting
                            + "CREATE TABLE `a` (\n  `id` int(11) NOT NULL,\n  PRIMARY KEY (`id`)\n) ENGINE=InnoDB;\n"
                              "DO GET_LOCK('llock_go', 60);\n"
                              "INSERT INTO `a` VALUES (1),(2),(3),(4),(5);\nINSERT INTO `a` VALUES (6);\n"
                              "INSERT INTO `a` VALUES (7);\n"
                            + kTail);
        LoadOptions o;
        o.connections = 1;
        LoadResult r;
        std::thread load([&] { r = loadSqlFile(path, target(QStringLiteral("llock")), o); });
        // However the test ends, the holder's locks go first, then the load ends.
        const auto joinLoad = qScopeGuard([&] {
            holder.reset();
            if (load.joinable())
                load.join();
        });
        const auto waitFor = [&](const QString &sql) {
            QElapsedTimer wait;
            wait.start();
            while (TestServer::value(sql).isEmpty() && wait.elapsed() < 30000)
                QThread::msleep(20);
            return !TestServer::value(sql).isEmpty();
        };
        QVERIFY(waitFor(QStringLiteral("SELECT 1 FROM information_schema.tables WHERE table_schema = 'llock'")));
        // Heavier than the loader's few rows: the server takes the loader's side as the victim.
        run("CREATE TABLE weight (id INT PRIMARY KEY) ENGINE=InnoDB");
        run("START TRANSACTION");
        run("INSERT INTO weight SELECT seq FROM seq_1_to_2000");
        run("INSERT INTO a VALUES (5)");
        run("DO RELEASE_LOCK('llock_go')");
        const QString waiting = QStringLiteral("SELECT id FROM information_schema.processlist WHERE info LIKE '%1'");
        QVERIFY(waitFor(waiting.arg(deadlock ? QStringLiteral("LOAD DATA%") : release)));
        if (deadlock)
            run("INSERT INTO a VALUES (1)");  // waits for the loader's row 1: the loader's side rolls back
        QVERIFY(waitFor(waiting.arg(release)));
        run("ROLLBACK");
        load.join();
        QVERIFY2(r.outcome == LoadResult::Outcome::Loaded, qPrintable(r.message));
        QCOMPARE(r.asData, asData);
        QCOMPARE(TestServer::rows(QStringLiteral("SELECT GROUP_CONCAT(id ORDER BY id) FROM llock.a")),
                 QStringList{QStringLiteral("1,2,3,4,5,6,7")});
    }

    // The last rows of an AUTO_INCREMENT table are loading alone: its keys are built beside them,
    // and when the server gives that build up (here its log of those rows outgrows the smallest
    // innodb_online_alter_log_max_size) they are built again after the rows.
    void keysBesideLastRows()
    {
        VELMAR_REQUIRE_SERVER();
        recreate(QStringLiteral("learly"));
        const QString logSize = TestServer::value(QStringLiteral("SELECT @@innodb_online_alter_log_max_size"));
        QCOMPARE(TestServer::exec(QStringLiteral("SET GLOBAL innodb_online_alter_log_max_size = 65536")), QString());
        const auto restore = qScopeGuard([&] {
            TestServer::exec(QStringLiteral("SET GLOBAL innodb_online_alter_log_max_size = %1").arg(logSize));
        });
        QByteArray file = kHead + "CREATE TABLE `t` (\n  `id` int(11) NOT NULL AUTO_INCREMENT,\n  `v` int(11) NOT NULL,\n"
                                  "  PRIMARY KEY (`id`),\n  KEY `v` (`v`)\n) ENGINE=InnoDB;\n";
        constexpr int kRows = 1000;
        for (int i = 0; i < 600; ++i) {
            file += "INSERT INTO `t` VALUES ";
            for (int j = 1; j <= kRows; ++j)
                file += '(' + QByteArray::number(i * kRows + j) + ',' + QByteArray::number((j * 7919) % 5000)
                        + (j < kRows ? ")," : ");\n");
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("e.sql"));
        writeFile(path, file + kTail);
        // A second connection watches for the online build while the load runs.
        std::atomic_bool loading{true};
        bool seen = false;
        std::thread watch([&] {
            while (loading && !seen)
                seen = runningId(QStringLiteral("ALTER TABLE `t` ADD KEY `v` (`v`), ALGORITHM=INPLACE, LOCK=NONE")) != 0;
        });
        LoadOptions o;
        o.connections = 3;
        const LoadResult r = loadSqlFile(path, target(QStringLiteral("learly")), o);
        loading = false;
        watch.join();
        QVERIFY2(r.outcome == LoadResult::Outcome::Loaded, qPrintable(r.message));
        QVERIFY(seen);
        // FORCE INDEX fails without the key.
        QCOMPARE(TestServer::rows(QStringLiteral("SELECT COUNT(*), SUM(id), SUM(v) FROM learly.t FORCE INDEX (v)")),
                 QStringList{QStringLiteral("600000\t180000300000\t1493700000")});
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");  // a pattern; "client:" takes the mysql client's line, which starts so
        QTest::addColumn<QString>("absent");   // a table that must not exist afterwards
        const QByteArray rows = "CREATE TABLE a (id INT PRIMARY KEY);\nINSERT INTO a VALUES (1),(2);\n"
                                "INSERT INTO a VALUES (3);\nINSERT INTO a VALUES (4);\n";
        QTest::newRow("syntax error") << rows + "SELEC 1;\nCREATE TABLE later (id int);\n" << QString() << 2
                                      << QStringLiteral("client:ERROR 1064 (42000) at line 7: ") << QStringLiteral("later");
        // As LOAD DATA the server would skip the second row; the INSERT's own error stops the load.
        QTest::newRow("duplicate key") << rows + "INSERT INTO a VALUES (5),(5);\nCREATE TABLE later (id int);\n" << QString() << 2
                                       << QStringLiteral("client:ERROR 1062 (23000) at line 7: Duplicate entry '5'")
                                       << QStringLiteral("later");
        // An AUTO_INCREMENT table's rows load on one connection of their own; the view waits for them.
        QTest::newRow("duplicate key, own connection")
            << QByteArray("CREATE TABLE b (id INT AUTO_INCREMENT PRIMARY KEY);\nINSERT INTO b VALUES (1),(2);\n"
                          "INSERT INTO b VALUES (3);\nINSERT INTO b VALUES (3),(4);\nINSERT INTO b VALUES (5);\n"
                          "CREATE VIEW later AS SELECT 1;\n")
            << QString() << 2 << QStringLiteral("client:ERROR 1062 (23000) at line 6: Duplicate entry '3'")
            << QStringLiteral("later");
        QTest::newRow("too big") << rows + "INSERT INTO a VALUES (5);\nINSERT INTO a VALUES (<BIG>);\nCREATE TABLE later (id int);\n"
                                 << QString() << 2
                                 << QStringLiteral("^ERROR at line 8: 문장이 \\d+바이트로 서버의 max_allowed_packet\\(\\d+바이트\\)보다 "
                                                   "커서 이 문장부터는 보내지 않았습니다\\.$")
                                 << QStringLiteral("later");
        QTest::newRow("connection killed") << rows + "DO SLEEP(30);\nCREATE TABLE later (id int);\n" << QStringLiteral("kill") << 2
                                           << QStringLiteral("^ERROR (2013|1927) \\(\\w+\\) at line 7: .+ \\(서버는 동작 중입니다: "
                                                             "이 연결이 서버에서 끊겼습니다\\)$")
                                           << QStringLiteral("later");
        QTest::newRow("cancel") << rows + "DO SLEEP(30);\nCREATE TABLE later (id int);\n" << QStringLiteral("cancel") << 1
                                << QString() << QStringLiteral("later");
        // A file still being written, up to <CUT>, that is never completed.
        const QByteArray cut = rows + "INSERT INTO a VALUES (5),<CUT>(6);\nCREATE TABLE later (id int);\n";
        QTest::newRow("writing fails") << cut << QStringLiteral("fail writing") << 2
                                       << QStringLiteral("^.*/f\\.sql 파일을 읽을 수 없습니다: the dump stopped$") << QStringLiteral("later");
        QTest::newRow("cancel while the file is written") << cut << QStringLiteral("cancel writing") << 1 << QString()
                                                          << QStringLiteral("later");
    }

    void failures()
    {
        VELMAR_REQUIRE_SERVER();
        QFETCH(QByteArray, body);
        QFETCH(QString, action);
        QFETCH(int, outcome);
        QFETCH(QString, message);
        QFETCH(QString, absent);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f.sql"));
        const qint64 maxPacket = TestServer::value(QStringLiteral("SELECT @@max_allowed_packet")).toLongLong();
        body.replace(QByteArray("<BIG>"), QByteArray(QByteArray("'") + QByteArray(maxPacket, 'x') + "'"));
        const qsizetype written = kHead.size() + body.indexOf("<CUT>");
        body.replace(QByteArray("<CUT>"), QByteArray());
        writeFile(path, kHead + body + kTail);
        const auto growing = std::make_shared<GrowingFile>();
        growing->publish(written);

        std::atomic_bool cancel{false};
        QElapsedTimer clock;
        clock.start();
        std::atomic<qint64> cancelledAt{-1};
        std::thread actor([&] {
            if (action.isEmpty())
                return;
            if (action.endsWith(QStringLiteral("writing"))) {
                QThread::msleep(300);  // the load waits for the rest
                if (action.startsWith(QStringLiteral("fail")))
                    return growing->fail(QStringLiteral("the dump stopped"));
                cancelledAt = clock.elapsed();
                cancel = true;
                return;
            }
            QElapsedTimer wait;
            wait.start();
            qulonglong id = 0;
            while (!(id = runningId(QStringLiteral("DO SLEEP(30)"))) && wait.elapsed() < 20000)
                QThread::msleep(50);
            if (action == QStringLiteral("kill")) {
                TestServer::exec(QStringLiteral("KILL CONNECTION %1").arg(id));
            } else {
                cancelledAt = clock.elapsed();
                cancel = true;
            }
        });
        recreate(QStringLiteral("lfail"));
        LoadOptions o;
        o.connections = 3;
        o.cancel = &cancel;
        if (written >= kHead.size())
            o.growing = growing;
        const LoadResult r = loadSqlFile(path, target(QStringLiteral("lfail")), o);
        const qint64 returnedAt = clock.elapsed();
        actor.join();
        QCOMPARE(int(r.outcome), outcome);
        if (message.startsWith(QStringLiteral("client:"))) {
            recreate(QStringLiteral("lfail"));
            // The client's own last line, e.g. "ERROR 1064 (42000) at line 7: You have an error ...".
            const QString client = message.mid(7);
            message = runProgram({QStringLiteral("mysql"), QStringLiteral("mariadb")},
                                 {QStringLiteral("--database=lfail")}, path, QString()).section(u'\n', -1);
            QVERIFY2(message.startsWith(client), qPrintable(message));
            message = u'^' + QRegularExpression::escape(message) + u'$';
        }
        if (!message.isEmpty())
            QVERIFY2(QRegularExpression(message).match(r.message).hasMatch(), qPrintable(r.message));
        if (action.startsWith(QStringLiteral("cancel"))) {
            QVERIFY(cancelledAt >= 0);
            QVERIFY2(returnedAt - cancelledAt < 1000, qPrintable(QString::number(returnedAt - cancelledAt)));
            QCOMPARE(runningId(QStringLiteral("DO SLEEP(30)")), 0ull);
        }
        QCOMPARE(TestServer::rows(QStringLiteral("SHOW TABLES FROM lfail LIKE '%1'").arg(absent)), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestLoader)
#include "test_loader.moc"
