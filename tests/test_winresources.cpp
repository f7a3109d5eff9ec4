// The Windows executables carry the project's version and the icon, read back with the
// program's own version reader.
#include "modFile.h"

#include <QCoreApplication>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace velmar;

namespace {

#ifdef Q_OS_WIN
bool hasIcon(const QString &path)
{
    HMODULE m = LoadLibraryExW(reinterpret_cast<LPCWSTR>(path.utf16()), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!m)
        return false;
    const bool found = FindResourceW(m, L"IDI_ICON1", MAKEINTRESOURCEW(14)) != nullptr;  // RT_GROUP_ICON
    FreeLibrary(m);
    return found;
}
#endif

}  // namespace

class TestWinResources : public QObject {
    Q_OBJECT
private slots:
    void versionAndIcon_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("description");
        QTest::newRow("velmar") << "gui" << "velmar.exe" << "velmar - 서버의 DB를 로컬로 복사";
        QTest::newRow("velmar-cli") << "cli" << "velmar-cli.exe" << "velmar-cli - 서버의 DB를 로컬로 복사 (명령줄)";
    }
    void versionAndIcon()
    {
#ifndef Q_OS_WIN
        QSKIP("only the Windows build puts resources into its executables");
#else
        QFETCH(QString, folder);
        QFETCH(QString, file);
        QFETCH(QString, description);
        const QString path = QCoreApplication::applicationDirPath() + "/../" + folder + "/" + file;
        const QString version = QStringLiteral(VELMAR_TEST_PROJECT_VERSION);
        const QStringList lines = GetFileVer(path);
        QCOMPARE(lines.mid(0, 8), (QStringList{"CompanyName: velmar", "FileDescription: " + description,
                                               "FileVersion: " + version, "InternalName: " + file.chopped(4),
                                               "LegalCopyright: Not specified", "OriginalFilename: " + file,
                                               "ProductName: velmar", "ProductVersion: " + version}));
        QCOMPARE(lines.last(), QString("Language: Korean"));
        QCOMPARE(GetFileVersionText(path, true, true), version);
        QVERIFY(hasIcon(path));
#endif
    }
};

QTEST_GUILESS_MAIN(TestWinResources)
#include "test_winresources.moc"
