// A table's fingerprint, computed by the same SQL on both sides: equal tables give equal
// fingerprints whatever their engine or row format, and any difference of a value shows.
#include "DefinitionRecord.h"
#include "TableFingerprint.h"
#include "TestServer.h"

#include <QTemporaryDir>
#include <QTest>

using namespace velmar;
using namespace velmar::test;

class TestTableFingerprint : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void recordedPair_data();
    void recordedPair();
    void compare_data();
    void compare();
    void chunksAddUp();
    void generatedColumnsLeftOut();
    void reason_data();
    void reason();
};

namespace {

const FingerprintColumns kCols{{"id", "a", "b"}, {"id"}};

void exec(const QString &sql)
{
    const QString error = TestServer::exec(sql);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QString fingerprint(const QString &table, std::optional<QString> from = {}, std::optional<QString> to = {})
{
    const QStringList rows = TestServer::rows(fingerprintQuery("fp_test", table, kCols, from, to));
    return rows.value(0);
}

}  // namespace

void TestTableFingerprint::initTestCase()
{
    exec("DROP DATABASE IF EXISTS fp_test");
    exec("CREATE DATABASE fp_test");
}

void TestTableFingerprint::cleanupTestCase()
{
    TestServer::exec("DROP DATABASE IF EXISTS fp_test");
}

void TestTableFingerprint::compare_data()
{
    QTest::addColumn<QString>("left");   // rows of the first table
    QTest::addColumn<QString>("right");  // table options and rows of the second
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("equal");
    const QString rows = "(1,'x',NULL),(2,'가',x'00ff'),(3,NULL,'')";
    QTest::newRow("same rows, other row format") << rows << rows << "ROW_FORMAT=COMPACT" << true;
    QTest::newRow("same rows, MyISAM") << rows << rows << "ENGINE=MyISAM" << true;
    QTest::newRow("a value changed") << rows << "(1,'y',NULL),(2,'가',x'00ff'),(3,NULL,'')" << "" << false;
    QTest::newRow("NULL against the text N") << "(1,NULL,NULL)" << "(1,'N',NULL)" << "" << false;
    QTest::newRow("NULL against empty") << "(1,'',NULL)" << "(1,NULL,NULL)" << "" << false;
    QTest::newRow("separator moved between columns") << "(1,'a|b','')" << "(1,'a','b|')" << "" << false;
    QTest::newRow("a row deleted") << rows << "(1,'x',NULL),(2,'가',x'00ff')" << "" << false;
}

void TestTableFingerprint::compare()
{
    QFETCH(QString, left);
    QFETCH(QString, right);
    QFETCH(QString, options);
    QFETCH(bool, equal);
    const QString create = "CREATE TABLE fp_test.%1 (id INT PRIMARY KEY, a VARCHAR(10), b VARBINARY(10)) %2";
    exec("DROP TABLE IF EXISTS fp_test.l, fp_test.r");
    exec(create.arg("l", ""));
    exec(create.arg("r", options));
    exec("INSERT INTO fp_test.l VALUES " + left);
    exec("INSERT INTO fp_test.r VALUES " + right);
    const QString l = fingerprint("l");
    QVERIFY(!l.isEmpty());
    QCOMPARE(l == fingerprint("r"), equal);
}

void TestTableFingerprint::chunksAddUp()
{
    exec("DROP TABLE IF EXISTS fp_test.c");
    exec("CREATE TABLE fp_test.c (id INT PRIMARY KEY, a VARCHAR(10), b VARBINARY(10))");
    exec("INSERT INTO fp_test.c VALUES (1,'a',NULL),(5,'b','c'),(9,NULL,'d')");
    const QStringList whole = fingerprint("c").split('\t');
    const QStringList low = fingerprint("c", std::nullopt, QString("5")).split('\t');
    const QStringList high = fingerprint("c", QString("5"), std::nullopt).split('\t');
    QCOMPARE(whole.value(0), QString("3"));
    QCOMPARE(low.value(0).toLongLong() + high.value(0).toLongLong(), 3);
    // the sums may pass 64 bits: the server adds them
    const QString sum = TestServer::rows(QString("SELECT %1 + %2").arg(low.value(1), high.value(1))).value(0);
    QCOMPARE(sum, whole.value(1));
}

void TestTableFingerprint::generatedColumnsLeftOut()
{
    exec("DROP TABLE IF EXISTS fp_test.g");
    exec("CREATE TABLE fp_test.g (b INT, a INT, v INT AS (a + 1) VIRTUAL, s INT AS (a * 2) STORED,"
         " z TEXT, PRIMARY KEY (a, b))");
    QCOMPARE(TestServer::rows(fingerprintColumnsQuery("fp_test", "g")), QStringList({"b", "a", "z"}));
    QCOMPARE(TestServer::rows(primaryKeyQuery("fp_test", "g")), QStringList({"a", "b"}));
}

void TestTableFingerprint::reason_data()
{
    QTest::addColumn<QString>("source");  // SHOW CREATE TABLE text, "-" for no table
    QTest::addColumn<QString>("local");
    QTest::addColumn<qint64>("localRows");
    QTest::addColumn<int>("expected");
    const QString t = "CREATE TABLE `t` (\n  `id` int(11) NOT NULL AUTO_INCREMENT\n) ENGINE=InnoDB AUTO_INCREMENT=%1";
    QTest::newRow("only the counter differs") << t.arg(7) << t.arg(3) << qint64(5) << int(ChangeReason::None);
    QTest::newRow("rows differ") << t.arg(7) << t.arg(7) << qint64(4) << int(ChangeReason::Content);
    QTest::newRow("column's own AUTO_INCREMENT kept") << t.arg(7) << QString(t).replace(" AUTO_INCREMENT\n", "\n").arg(7)
                                                      << qint64(5) << int(ChangeReason::Definition);
    QTest::newRow("new on the source") << t.arg(1) << "-" << qint64(0) << int(ChangeReason::New);
    QTest::newRow("dropped on the source") << "-" << t.arg(1) << qint64(5) << int(ChangeReason::Dropped);
}

void TestTableFingerprint::reason()
{
    QFETCH(QString, source);
    QFETCH(QString, local);
    QFETCH(qint64, localRows);
    QFETCH(int, expected);
    const auto side = [](const QString &s) { return s == "-" ? std::nullopt : std::optional<QString>(s); };
    const ChangeReason r = compareTable(side(source), side(local), {5, "99"}, {localRows, "99"});
    QCOMPARE(int(r), expected);
}

// Two servers' definitions of one table count as the same when equal, or when both are still
// the pair a refresh recorded; the record survives its file and belongs to one source.
void TestTableFingerprint::recordedPair_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("readAs");
    QTest::addColumn<bool>("same");
    const QString mysql = "CREATE TABLE `t\tx` (\n  `id` int NOT NULL AUTO_INCREMENT\n) ENGINE=InnoDB AUTO_INCREMENT=9";
    const QString mariadb = "CREATE TABLE `t\tx` (\n  `id` int(11) NOT NULL AUTO_INCREMENT\n) ENGINE=InnoDB AUTO_INCREMENT=7";
    QTest::newRow("the recorded pair") << mysql << mariadb << "db1:3306/src" << true;
    QTest::newRow("counters moved on") << QString(mysql).replace("=9", "=12") << QString(mariadb).replace("=7", "=3")
                                       << "db1:3306/src" << true;
    QTest::newRow("source altered") << QString(mysql).replace("int NOT", "bigint NOT") << mariadb << "db1:3306/src"
                                    << false;
    QTest::newRow("local altered") << mysql << QString(mariadb).replace("int(11)", "bigint(20)") << "db1:3306/src"
                                   << false;
    QTest::newRow("another source") << mysql << mariadb << "db2/src" << false;
    QTest::newRow("equal texts need no record") << mariadb << QString(mariadb).replace("=7", "=1") << "db2/src" << true;
}

void TestTableFingerprint::recordedPair()
{
    QFETCH(QString, source);
    QFETCH(QString, local);
    QFETCH(QString, readAs);
    QFETCH(bool, same);
    const QString mysql = "CREATE TABLE `t\tx` (\n  `id` int NOT NULL AUTO_INCREMENT\n) ENGINE=InnoDB AUTO_INCREMENT=9";
    const QString mariadb = "CREATE TABLE `t\tx` (\n  `id` int(11) NOT NULL AUTO_INCREMENT\n) ENGINE=InnoDB AUTO_INCREMENT=7";
    QTemporaryDir dir;
    DefinitionRecord written;
    written.set("t\tx", mysql, mariadb);
    written.set("other", mariadb, mysql);
    QVERIFY(written.write(dir.path() + "/x.tables", "db1:3306/src"));
    DefinitionRecord read;
    read.read(dir.path() + "/x.tables", readAs);
    QCOMPARE(read.same("t\tx", source, local), same);
    // A pair belongs to its own table.
    QVERIFY(!read.same("third", mysql, mariadb));
}

QTEST_GUILESS_MAIN(TestTableFingerprint)
#include "test_table_fingerprint.moc"
