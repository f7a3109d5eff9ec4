#include "cMySQL.h"
#include "modMySQL_Func_lite.h"

#include <QTest>

using namespace velmar;

// The conversions and quoting of the client wrapper that need no server.
class TestMysqlText : public QObject {
    Q_OBJECT
private slots:
    void cstrToText_data()
    {
        QTest::addColumn<bool>("null");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("null pointer") << true << QByteArray() << "";
        QTest::newRow("empty") << false << QByteArray("") << "";
        QTest::newRow("blanks around") << false << QByteArray("  abc  ") << "abc";
        QTest::newRow("blanks only") << false << QByteArray("     ") << "";
        QTest::newRow("inner blanks kept") << false << QByteArray(" a  b ") << "a  b";
        QTest::newRow("other white space kept") << false << QByteArray("\tabc\r\n ") << "\tabc\r\n";
        QTest::newRow("stops at NUL") << false << QByteArray("ab\0cd", 5) << "ab";
        QTest::newRow("korean") << false << QByteArray(" 한글 값 ") << QStringLiteral("한글 값");
    }
    void cstrToText()
    {
        QFETCH(bool, null);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const QString got = cMySQL::cstr_to_text(null ? nullptr : bytes.constData());
        QCOMPARE(got, text);
    }

    void lowLong_data()
    {
        QTest::addColumn<quint64>("count");
        QTest::addColumn<qint32>("value");
        QTest::newRow("0") << quint64(0) << 0;
        QTest::newRow("5") << quint64(5) << 5;
        QTest::newRow("2^31 - 1") << quint64(0x7fffffff) << 2147483647;
        QTest::newRow("2^31") << quint64(0x80000000) << qint32(-2147483647 - 1);
        QTest::newRow("2^32 - 1") << quint64(0xffffffff) << -1;
        QTest::newRow("2^32 + 5") << (quint64(1) << 32) + 5 << 5;
        QTest::newRow("all ones") << ~quint64(0) << -1;
    }
    void lowLong()
    {
        QFETCH(quint64, count);
        QFETCH(qint32, value);
        QCOMPARE(cMySQL::low_long(count), value);
    }

    void splitHostPort_data()
    {
        QTest::addColumn<QString>("hostText");
        QTest::addColumn<bool>("split");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint32>("port");
        QTest::newRow("plain name") << "localhost" << false << "" << 0;
        QTest::newRow("empty") << "" << false << "" << 0;
        QTest::newRow("name and port") << "db.example.com:3307" << true << "db.example.com" << 3307;
        QTest::newRow("address and port") << "127.0.0.1:45001" << true << "127.0.0.1" << 45001;
        QTest::newRow("bracketed v6") << "[::1]:3307" << true << "::1" << 3307;
        QTest::newRow("bare v6") << "::1" << false << "" << 0;
        QTest::newRow("bare v6 ending in digits") << "fe80::1:3307" << false << "" << 0;
        QTest::newRow("brackets without port") << "[::1]" << false << "" << 0;
        QTest::newRow("no port after colon") << "host:" << false << "" << 0;
        QTest::newRow("no name before colon") << ":3307" << false << "" << 0;
        QTest::newRow("port not a number") << "host:abc" << false << "" << 0;
        QTest::newRow("signed port") << "host:+3307" << false << "" << 0;
        QTest::newRow("port 0") << "host:0" << false << "" << 0;
        QTest::newRow("port too large") << "host:65536" << false << "" << 0;
        QTest::newRow("highest port") << "host:65535" << true << "host" << 65535;
    }
    void splitHostPort()
    {
        QFETCH(QString, hostText);
        QFETCH(bool, split);
        QFETCH(QString, name);
        QFETCH(qint32, port);
        QString gotName = QStringLiteral("untouched");
        qint32 gotPort = -7;
        QCOMPARE(cMySQL::splitHostPort(hostText, gotName, gotPort), split);
        QCOMPARE(gotName, split ? name : QStringLiteral("untouched"));
        QCOMPARE(gotPort, split ? port : -7);
    }

    void quoting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("likePattern");
        QTest::addColumn<QString>("literal");
        QTest::newRow("plain") << "shop_db" << "`shop_db`" << "shop\\_db" << "'shop_db'";
        QTest::newRow("backtick") << "a`b" << "`a``b`" << "a`b" << "'a`b'";
        QTest::newRow("quote") << "it's" << "`it's`" << "it's" << "'it\\'s'";
        QTest::newRow("double quote") << "say \"hi\"" << "`say \"hi\"`" << "say \"hi\"" << "'say \\\"hi\\\"'";
        QTest::newRow("backslash") << "a\\b" << "`a\\b`" << "a\\\\b" << "'a\\\\b'";
        QTest::newRow("percent") << "100%" << "`100%`" << "100\\%" << "'100%'";
        QTest::newRow("control characters") << QStringLiteral("a\nb\rc") << QStringLiteral("`a\nb\rc`")
                                             << QStringLiteral("a\nb\rc") << "'a\\nb\\rc'";
        QTest::newRow("korean") << QStringLiteral("가_나") << QStringLiteral("`가_나`")
                                << QStringLiteral("가\\_나") << QStringLiteral("'가_나'");
        QTest::newRow("empty") << "" << "``" << "" << "''";
    }
    void quoting()
    {
        QFETCH(QString, text);
        QFETCH(QString, identifier);
        QFETCH(QString, likePattern);
        QFETCH(QString, literal);
        QCOMPARE(quoteIdentifier(text), identifier);
        QCOMPARE(escapeLikePattern(text), likePattern);
        QCOMPARE(quoteString(text), literal);
    }

    void quoteStringEscapesNul()
    {
        QCOMPARE(quoteString(QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"))),
                 QStringLiteral("'a\\0b'"));
    }

    void registryIsNotReadWithoutOne()
    {
#ifdef Q_OS_WIN
        QSKIP("this machine has a registry");
#else
        QString buffer(255, u' ');
        QVERIFY(!ReadRegistryString(QStringLiteral("Software\\Microsoft\\DataAccess"),
                                    QStringLiteral("Version"), buffer));
        QCOMPARE(buffer, QString(255, u' '));
#endif
    }
};

QTEST_GUILESS_MAIN(TestMysqlText)
#include "test_mysql_text.moc"
