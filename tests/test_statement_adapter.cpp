#include "SqlStatementReader.h"
#include "StatementAdapter.h"

#include <QTest>

using namespace velmar;
using namespace velmar::load;

namespace {

// MariaDB 10.11's collations that the tables below need, and none of MySQL 8's.
QSet<QByteArray> mariadbCollations()
{
    return {"utf8mb4_general_ci", "utf8mb4_unicode_ci", "utf8mb4_unicode_520_ci", "utf8mb4_bin",
            "utf8mb4_uca1400_ai_ci", "latin1_swedish_ci", "utf8mb3_general_ci"};
}

AdaptRules toMariadb()
{
    AdaptRules r;
    r.collations = mariadbCollations();
    r.mariadb = true;
    r.fromDatabase = "pelsar_abc";
    r.toDatabase = "pelsar_abc_dev";
    r.accounts = {"root@localhost", "dev@%"};
    r.definerTo = "`dev`@`%`";
    return r;
}

SqlStatement statement(const QByteArray &text, qint64 offset = 0)
{
    SqlStatement s;
    s.text = text;
    s.offset = offset;
    s.kind = SqlStatementReader::classify(text, &s.name);
    return s;
}

}  // namespace

// The changes a dump of another server goes through on its way to the local one, byte for byte.
class TestStatementAdapter : public QObject {
    Q_OBJECT
private slots:
    void closest_data()
    {
        QTest::addColumn<QByteArray>("missing");
        QTest::addColumn<bool>("uca1400");
        QTest::addColumn<QByteArray>("closest");
        QTest::newRow("0900 ai ci, uca1400 there") << QByteArray("utf8mb4_0900_ai_ci") << true << QByteArray("utf8mb4_uca1400_ai_ci");
        QTest::newRow("0900 ai ci, no uca1400") << QByteArray("utf8mb4_0900_ai_ci") << false << QByteArray("utf8mb4_unicode_520_ci");
        QTest::newRow("upper case") << QByteArray("UTF8MB4_0900_AI_CI") << false << QByteArray("utf8mb4_unicode_520_ci");
        QTest::newRow("0900 as cs") << QByteArray("utf8mb4_0900_as_cs") << false << QByteArray("utf8mb4_bin");
        QTest::newRow("0900 bin") << QByteArray("utf8mb4_0900_bin") << true << QByteArray("utf8mb4_bin");
        QTest::newRow("language 0900") << QByteArray("utf8mb4_de_pb_0900_ai_ci") << true << QByteArray("utf8mb4_uca1400_ai_ci");
        QTest::newRow("utf8 named utf8mb3") << QByteArray("utf8_general_ci") << false << QByteArray("utf8mb3_general_ci");
        QTest::newRow("unknown charset") << QByteArray("koi9_0900_ai_ci") << true << QByteArray();
        QTest::newRow("no charset") << QByteArray("binary") << true << QByteArray();
    }
    void closest()
    {
        QFETCH(QByteArray, missing);
        QFETCH(bool, uca1400);
        QFETCH(QByteArray, closest);
        QSet<QByteArray> present = mariadbCollations();
        if (!uca1400)
            present.remove("utf8mb4_uca1400_ai_ci");
        QCOMPARE(closestCollation(missing, present), closest);
    }

    void toMySql()
    {
        // MariaDB's uca1400 onto MySQL 8, which has 0900.
        QCOMPARE(closestCollation("utf8mb4_uca1400_ai_ci", {"utf8mb4_0900_ai_ci", "utf8mb4_general_ci"}),
                 QByteArray("utf8mb4_0900_ai_ci"));
        QCOMPARE(closestCollation("utf8mb4_uca1400_nopad_as_cs", {"utf8mb4_0900_as_cs"}), QByteArray("utf8mb4_0900_as_cs"));
    }

    void adapt_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("gtid purged") << QByteArray("SET @@GLOBAL.GTID_PURGED=/*!80000 '+'*/ '3e11fa47-71ca-11e1-9e33-c80aa9429562:1-5'") << false << QByteArray();
        QTest::newRow("log bin off") << QByteArray("SET @@SESSION.SQL_LOG_BIN= 0") << false << QByteArray();
        QTest::newRow("log bin back") << QByteArray("SET @@SESSION.SQL_LOG_BIN = @MYSQLDUMP_TEMP_LOG_BIN") << false << QByteArray();
        QTest::newRow("log bin saved") << QByteArray("SET @MYSQLDUMP_TEMP_LOG_BIN = @@SESSION.SQL_LOG_BIN") << false << QByteArray();
        QTest::newRow("other setting") << QByteArray("/*!40101 SET NAMES utf8mb4 */") << true << QByteArray("/*!40101 SET NAMES utf8mb4 */");
        QTest::newRow("table options")
            << QByteArray("CREATE TABLE `t` (\n  `id` int NOT NULL,\n  `c` varchar(10) COLLATE utf8mb4_0900_as_cs DEFAULT NULL,\n"
                          "  `h` int /*!80023 INVISIBLE */\n) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_0900_ai_ci")
            << true
            << QByteArray("CREATE TABLE `t` (\n  `id` int NOT NULL,\n  `c` varchar(10) COLLATE utf8mb4_bin DEFAULT NULL,\n"
                          "  `h` int INVISIBLE\n) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_uca1400_ai_ci");
        QTest::newRow("present collation stays")
            << QByteArray("CREATE TABLE `t` (`a` int) DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci") << true
            << QByteArray("CREATE TABLE `t` (`a` int) DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci");
        QTest::newRow("database encryption")
            << QByteArray("CREATE DATABASE /*!32312 IF NOT EXISTS*/ `x` /*!40100 DEFAULT CHARACTER SET utf8mb4 COLLATE utf8mb4_0900_ai_ci */ /*!80016 DEFAULT ENCRYPTION='N' */")
            << true
            << QByteArray("CREATE DATABASE /*!32312 IF NOT EXISTS*/ `x` /*!40100 DEFAULT CHARACTER SET utf8mb4 COLLATE utf8mb4_uca1400_ai_ci */");
        QTest::newRow("connection collation")
            << QByteArray("/*!50001 SET collation_connection      = utf8mb4_0900_ai_ci */") << true
            << QByteArray("/*!50001 SET collation_connection      = utf8mb4_uca1400_ai_ci */");
        QTest::newRow("view: own name, missing definer")
            << QByteArray("/*!50001 CREATE ALGORITHM=UNDEFINED */\n/*!50013 DEFINER=`app`@`%` SQL SECURITY DEFINER */\n"
                          "/*!50001 VIEW `v` AS select `pelsar_abc`.`t`.`id` AS `id` from `t` */")
            << true
            << QByteArray("/*!50001 CREATE ALGORITHM=UNDEFINED */\n/*!50013 DEFINER=`dev`@`%` SQL SECURITY DEFINER */\n"
                          "/*!50001 VIEW `v` AS select `pelsar_abc_dev`.`t`.`id` AS `id` from `t` */");
        QTest::newRow("procedure: unquoted name, string and column kept")
            << QByteArray("CREATE DEFINER=`root`@`localhost` PROCEDURE `p`()\nselect count(*), 'pelsar_abc.t', x.pelsar_abc.y, pelsar_abcd.t from pelsar_abc.t")
            << true
            << QByteArray("CREATE DEFINER=`root`@`localhost` PROCEDURE `p`()\nselect count(*), 'pelsar_abc.t', x.pelsar_abc.y, pelsar_abcd.t from `pelsar_abc_dev`.t");
        QTest::newRow("trigger definer in quotes")
            << QByteArray("/*!50003 CREATE*/ /*!50017 DEFINER='old'@'10.%'*/ /*!50003 TRIGGER `tr` BEFORE INSERT ON `t` FOR EACH ROW set new.id = 1 */")
            << true
            << QByteArray("/*!50003 CREATE*/ /*!50017 DEFINER=`dev`@`%`*/ /*!50003 TRIGGER `tr` BEFORE INSERT ON `t` FOR EACH ROW set new.id = 1 */");
        QTest::newRow("name alone is no qualifier")
            << QByteArray("CREATE DEFINER=`dev`@`%` FUNCTION `f`() RETURNS int return (select count(*) from pelsar_abc)")
            << true
            << QByteArray("CREATE DEFINER=`dev`@`%` FUNCTION `f`() RETURNS int return (select count(*) from pelsar_abc)");
        QTest::newRow("rows untouched")
            << QByteArray("INSERT INTO `t` VALUES (1,'COLLATE utf8mb4_0900_ai_ci pelsar_abc.t')") << true
            << QByteArray("INSERT INTO `t` VALUES (1,'COLLATE utf8mb4_0900_ai_ci pelsar_abc.t')");
    }
    void adapt()
    {
        QFETCH(QByteArray, in);
        QFETCH(bool, sent);
        QFETCH(QByteArray, out);
        StatementAdapter adapter(toMariadb());
        SqlStatement s = statement(in);
        QCOMPARE(adapter.adapt(s), sent);
        if (sent)
            QCOMPARE(s.text, out);
    }

    // A partial load's foreign keys to the tables that stay name the user's database.
    void referencesElsewhere_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        const QByteArray head = "CREATE TABLE `c` (\n  `p_id` int NOT NULL,\n  CONSTRAINT `c_ibfk_1` FOREIGN KEY (`p_id`) ";
        QTest::newRow("parent that stays") << head + "REFERENCES `p` (`id`)\n)"
                                           << head + "REFERENCES `pelsar_abc_dev`.`p` (`id`)\n)";
        QTest::newRow("parent loaded too") << head + "REFERENCES `q` (`id`)\n)" << head + "REFERENCES `q` (`id`)\n)";
        QTest::newRow("named with its database") << head + "REFERENCES `other`.`p` (`id`)\n)"
                                                 << head + "REFERENCES `other`.`p` (`id`)\n)";
        QTest::newRow("backtick in the name") << head + "REFERENCES `a``b` (`id`)\n)"
                                              << head + "REFERENCES `pelsar_abc_dev`.`a``b` (`id`)\n)";
        QTest::newRow("two keys") << head + "REFERENCES `p` (`id`),\n  FOREIGN KEY (`x`) REFERENCES `q` (`id`),\n  FOREIGN KEY (`y`) REFERENCES `p` (`id`))"
                                  << head + "REFERENCES `pelsar_abc_dev`.`p` (`id`),\n  FOREIGN KEY (`x`) REFERENCES `q` (`id`),\n  FOREIGN KEY (`y`) REFERENCES `pelsar_abc_dev`.`p` (`id`))";
        QTest::newRow("rows untouched") << QByteArray("INSERT INTO `c` VALUES (1,'REFERENCES `p` (')")
                                        << QByteArray("INSERT INTO `c` VALUES (1,'REFERENCES `p` (')");
    }
    void referencesElsewhere()
    {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        StatementAdapter adapter(toMariadb());
        adapter.referElsewhere("pelsar_abc_dev", {"p", "a`b"});
        SqlStatement s = statement(in);
        QVERIFY(adapter.adapt(s));
        QCOMPARE(s.text, out);
    }

    void sqlMode_data()
    {
        QTest::addColumn<bool>("mysql8");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("mysql 8") << true << QByteArray("/*!50003 SET sql_mode              = 'STRICT_TRANS_TABLES,NO_ENGINE_SUBSTITUTION' */");
        QTest::newRow("mariadb") << false << QByteArray("/*!50003 SET sql_mode              = 'STRICT_TRANS_TABLES,NO_AUTO_CREATE_USER,NO_ENGINE_SUBSTITUTION' */");
    }
    void sqlMode()
    {
        QFETCH(bool, mysql8);
        QFETCH(QByteArray, out);
        AdaptRules rules;
        rules.mysql8 = mysql8;
        StatementAdapter adapter(rules);
        SqlStatement s = statement("/*!50003 SET sql_mode              = 'STRICT_TRANS_TABLES,NO_AUTO_CREATE_USER,NO_ENGINE_SUBSTITUTION' */");
        QVERIFY(adapter.adapt(s));
        QCOMPARE(s.text, out);
    }

    // Each kind of change is said once with its count; a statement read a second time (the swap
    // loads the file's objects again) is not counted again.
    void summary()
    {
        StatementAdapter adapter(toMariadb());
        const QByteArrayList file{
            "SET @@SESSION.SQL_LOG_BIN= 0",
            "SET @@GLOBAL.GTID_PURGED=/*!80000 '+'*/ 'u:1-5'",
            "CREATE TABLE `a` (`x` int) DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_0900_ai_ci",
            "CREATE TABLE `b` (`x` varchar(1) COLLATE utf8mb4_0900_as_cs) DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_0900_ai_ci",
            "/*!50001 CREATE ALGORITHM=UNDEFINED */ /*!50013 DEFINER=`app`@`%` SQL SECURITY DEFINER */ /*!50001 VIEW `v` AS select `pelsar_abc`.`a`.`x` AS `x` from `a` */",
            "SET @@SESSION.SQL_LOG_BIN = @MYSQLDUMP_TEMP_LOG_BIN",
        };
        for (int pass = 0; pass < 2; ++pass) {
            for (int i = 0; i < file.size(); ++i) {
                SqlStatement s = statement(file[i], i * 100);
                adapter.adapt(s);
            }
        }
        QCOMPARE(adapter.summary(),
                 QStringList({QStringLiteral("적응: SET @@GLOBAL.GTID_PURGED 문장 1개를 보내지 않았습니다."),
                              QStringLiteral("적응: SQL_LOG_BIN 문장 2개를 보내지 않았습니다."),
                              QStringLiteral("적응: 로컬 서버에 없는 콜레이션을 바꿨습니다 (문장 2개): utf8mb4_0900_ai_ci -> "
                                             "utf8mb4_uca1400_ai_ci, utf8mb4_0900_as_cs -> utf8mb4_bin"),
                              QStringLiteral("적응: 개체 본문의 DB 이름 pelsar_abc을 pelsar_abc_dev(으)로 바꿨습니다 (문장 1개)."),
                              QStringLiteral("적응: 로컬에 없는 정의자를 `dev`@`%`(으)로 바꿨습니다 (문장 1개): `app`@`%`")}));
    }
};

QTEST_GUILESS_MAIN(TestStatementAdapter)
#include "test_statement_adapter.moc"
