// The settings store during tests: a throwaway INI file on every platform, never the user's own
// store (the registry on Windows, the configuration folder elsewhere).
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;

namespace {

QByteArray content(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

// The user's own store, looked at where the program keeps it without an INI file.
QStringList userStoreKeys()
{
    setSettingsFile(QString());
    const QByteArray saved = qgetenv("VELMAR_SETTINGS_FILE");
    qunsetenv("VELMAR_SETTINGS_FILE");
#ifdef Q_OS_WIN
    QSettings user(QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\velmar"),
                   QSettings::NativeFormat);
#else
    QSettings user(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("velmar"), QStringLiteral("velmar"));
#endif
    const QStringList keys = user.allKeys();
    qputenv("VELMAR_SETTINGS_FILE", saved);
    return keys;
}

}  // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void init() { setSettingsFile(QString()); }
    void cleanupTestCase() { setSettingsFile(QString()); }

    void storeLocation_data()
    {
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("setter");
        QTest::addColumn<QString>("used");
        QTest::newRow("environment") << "env.ini" << "" << "env.ini";
        QTest::newRow("setter wins") << "env.ini" << "set.ini" << "set.ini";
        QTest::newRow("setter alone") << "" << "set.ini" << "set.ini";
    }
    void storeLocation()
    {
        QFETCH(QString, environment);
        QFETCH(QString, setter);
        QFETCH(QString, used);
        const QString folder = m_dir.path() + u'/' + QTest::currentDataTag();
        QVERIFY(QDir().mkpath(folder));
        const QByteArray saved = qgetenv("VELMAR_SETTINGS_FILE");
        qputenv("VELMAR_SETTINGS_FILE", environment.isEmpty() ? QByteArray() : (folder + u'/' + environment).toUtf8());
        if (!setter.isEmpty())
            setSettingsFile(folder + u'/' + setter);

        SaveSetting(kConfigSection, "SrcUser", "홍길동");
        const QString read = GetSetting(kConfigSection, "SrcUser", "none");
        const QStringList files = QDir(folder).entryList(QDir::Files);
        qputenv("VELMAR_SETTINGS_FILE", saved);

        QCOMPARE(read, QString("홍길동"));
        QCOMPARE(files, QStringList{used});
#ifdef Q_OS_WIN
        const QByteArray eol = "\r\n";
#else
        const QByteArray eol = "\n";
#endif
        QCOMPARE(content(folder + u'/' + used), "[Config]" + eol + "SrcUser=\xed\x99\x8d\xea\xb8\xb8\xeb\x8f\x99" + eol);
    }

    void userStoreIsLeftAlone()
    {
        setSettingsFile(m_dir.path() + "/alone.ini");
        for (int key = cfgHost; key <= cfgNewUser; ++key)
            SaveSetting(kConfigSection, configKeyName(key), "test value");
        QCOMPARE(GetConfig(cfgNewUser), QString("test value"));
        QCOMPARE(userStoreKeys(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
