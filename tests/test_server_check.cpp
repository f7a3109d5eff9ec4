#include "ServerCheck.h"

#include <QTest>

using namespace velmar;

namespace {

LocalFacts mariadb1011()
{
    LocalFacts l;
    l.version = "10.11.6-MariaDB (mariadb.org binary distribution)";
    l.mariadb = true;
    l.collations = {"utf8mb4_general_ci", "utf8mb4_unicode_520_ci", "utf8mb4_uca1400_ai_ci", "latin1_swedish_ci"};
    l.engines = {"INNODB", "MYISAM", "ARIA", "SEQUENCE"};
    l.accounts = {"root@localhost", "dev@%"};
    return l;
}

LocalFacts mysql80()
{
    LocalFacts l;
    l.version = "8.0.36 (MySQL Community Server - GPL)";
    l.mysql8 = true;
    l.collations = {"utf8mb4_general_ci", "utf8mb4_0900_ai_ci", "utf8mb4_unicode_520_ci"};
    l.engines = {"INNODB", "MYISAM"};
    l.accounts = {"root@localhost"};
    return l;
}

}  // namespace

// What the pre-flight says it will adapt and what it says cannot be, for the source's facts
// against the local server's.
class TestServerCheck : public QObject {
    Q_OBJECT
private slots:
    void unadaptable_data()
    {
        QTest::addColumn<bool>("toMysql");
        QTest::addColumn<QStringList>("collations");
        QTest::addColumn<QStringList>("engines");
        QTest::addColumn<QStringList>("kinds");
        QTest::addColumn<QStringList>("definers");
        QTest::addColumn<QStringList>("types");
        QTest::addColumn<bool>("createDefiners");
        QTest::addColumn<QStringList>("planned");
        QTest::addColumn<QStringList>("refused");
        QTest::newRow("same kind, nothing to say")
            << false << QStringList{"utf8mb4_general_ci"} << QStringList{"InnoDB"} << QStringList() << QStringList{"dev@%"}
            << QStringList{"uuid"} << false << QStringList() << QStringList();
        QTest::newRow("MySQL 8 onto MariaDB")
            << false << QStringList{"utf8mb4_0900_ai_ci", "utf8mb4_general_ci"} << QStringList{"InnoDB"} << QStringList()
            << QStringList{"app@%"} << QStringList() << false
            << QStringList{"적응 예정: 콜레이션 utf8mb4_0900_ai_ci -> utf8mb4_uca1400_ai_ci",
                           "적응 예정: 정의자 'app'@'%' -> `dev`@`%`"}
            << QStringList();
        QTest::newRow("definer made locally")
            << false << QStringList() << QStringList() << QStringList() << QStringList{"app@10.%"} << QStringList() << true
            << QStringList{"적응 예정: 정의자 'app'@'10.%'을(를) 로컬에 잠긴 계정으로 만듭니다."} << QStringList();
        QTest::newRow("MariaDB onto MySQL 8")
            << true << QStringList{"utf8mb4_uca1400_ai_ci", "koi9_bin"} << QStringList{"InnoDB", "Aria"}
            << QStringList{"SEQUENCE", "SYSTEM VERSIONED"} << QStringList{"root@localhost"} << QStringList{"inet6"} << false
            << QStringList{"적응 예정: 콜레이션 utf8mb4_uca1400_ai_ci -> utf8mb4_0900_ai_ci"}
            << QStringList{"콜레이션 koi9_bin: 로컬 서버에 비슷한 것이 없습니다.", "엔진 Aria: 로컬 서버에 없습니다.",
                           "개체 종류 SEQUENCE: 로컬 서버에 없습니다.", "개체 종류 SYSTEM VERSIONED: 로컬 서버에 없습니다.",
                           "열 형식 inet6: 로컬 서버에 없습니다."};
    }
    void unadaptable()
    {
        QFETCH(bool, toMysql);
        QFETCH(QStringList, collations);
        QFETCH(QStringList, engines);
        QFETCH(QStringList, kinds);
        QFETCH(QStringList, definers);
        QFETCH(QStringList, types);
        QFETCH(bool, createDefiners);
        QFETCH(QStringList, planned);
        QFETCH(QStringList, refused);
        SourceFacts source;
        source.collations = collations;
        source.engines = engines;
        source.kinds = kinds;
        source.definers = definers;
        source.types = types;
        CopyRequest request;
        request.user = "dev";
        request.definers = createDefiners ? CopyRequest::Definers::CreateLocked : CopyRequest::Definers::Rewrite;
        QStringList said;
        QCOMPARE(ServerCheck::unadaptable(source, toMysql ? mysql80() : mariadb1011(), request, said), refused);
        QCOMPARE(said, planned);
    }

    void definerTo_data()
    {
        QTest::addColumn<QString>("newUser");
        QTest::addColumn<bool>("grants");
        QTest::addColumn<QByteArray>("definer");
        QTest::newRow("granted account") << "dev" << true << QByteArray("`dev`@`%`");
        QTest::newRow("backtick doubled") << "a`b" << true << QByteArray("`a``b`@`%`");
        QTest::newRow("no grants: root") << "dev" << false << QByteArray("`root`@`localhost`");
    }
    void definerTo()
    {
        QFETCH(QString, newUser);
        QFETCH(bool, grants);
        QFETCH(QByteArray, definer);
        CopyRequest request;
        request.newUser = newUser;
        request.stage[2] = grants;
        QCOMPARE(ServerCheck::definerTo(request), definer);
    }
};

QTEST_GUILESS_MAIN(TestServerCheck)
#include "test_server_check.moc"
