#include "NumberText.h"
#include "PeFixture.h"
#include "RaisedError.h"
#include "RecordingMessenger.h"
#include "VersionResource.h"
#include "modFile.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace velmar;
using velmar::test::PeFixture;
using velmar::test::RecordingMessenger;

using Arch = PeFixture::Arch;
Q_DECLARE_METATYPE(PeFixture::Arch)

namespace {

const QStringList kKeys = {"CompanyName", "FileDescription", "FileVersion", "InternalName",
                           "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion",
                           "Comments", "LegalTrademarks", "PrivateBuild", "SpecialBuild"};

// Lines for a block that sets only the given keys.
QStringList linesWith(const QMap<QString, QString> &values, const QString &language)
{
    QStringList lines;
    for (const QString &key : kKeys)
        lines << (values.contains(key) ? QString(key + ": " + values.value(key)) : QString(key + ": Not specified"));
    lines << language;
    return lines;
}

QString stringTable(const QString &code, const QList<QPair<QString, QString>> &values)
{
    QString s = "    BLOCK \"" + code + "\"\n    BEGIN\n";
    for (const auto &[key, value] : values)
        s += "      VALUE \"" + key + "\", \"" + value + "\"\n";
    return s + "    END\n";
}

QString versionInfo(const QString &tables, bool withStringFileInfo = true)
{
    QString s = "1 VERSIONINFO\nFILEVERSION 1,0,0,25\nPRODUCTVERSION 1,0,0,25\nBEGIN\n";
    if (withStringFileInfo)
        s += "  BLOCK \"StringFileInfo\"\n  BEGIN\n" + tables + "  END\n";
    return s + "  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", 0x412, 1200\n  END\nEND\n";
}

// Hand-made version blocks, for layouts that no resource compiler writes.
QByteArray utf16z(const QString &s)
{
    QByteArray b;
    for (QChar c : s) {
        b.append(char(c.unicode() & 0xff));
        b.append(char(c.unicode() >> 8));
    }
    return b.append(2, '\0');
}

void pad4(QByteArray &b)
{
    while (b.size() % 4)
        b.append('\0');
}

QByteArray entry(const QString &key, quint16 type, const QByteArray &value, quint16 valueLength,
                 const QList<QByteArray> &children = {})
{
    QByteArray b(6, '\0');
    b += utf16z(key);
    if (!value.isEmpty()) {
        pad4(b);
        b += value;
    }
    for (const QByteArray &child : children) {
        pad4(b);
        b += child;
    }
    qToLittleEndian<quint16>(quint16(b.size()), b.data());
    qToLittleEndian<quint16>(valueLength, b.data() + 2);
    qToLittleEndian<quint16>(type, b.data() + 4);
    return b;
}

QByteArray textEntry(const QString &key, const QString &value)
{
    return entry(key, 1, utf16z(value), quint16(value.size() + 1));
}

QByteArray versionBlock(const QList<QByteArray> &strings)
{
    QByteArray fixed(52, '\0');
    qToLittleEndian<quint32>(0xFEEF04BD, fixed.data());
    return entry("VS_VERSION_INFO", 0, fixed, 52,
                 {entry("StringFileInfo", 1, {}, 0, {entry("040904B0", 1, {}, 0, strings)})});
}

const QString kInvalidCall = "Error 5 (Invalid procedure call or argument) in procedure ";

}  // namespace

class TestModFile : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_count = 0;

    QString nextPath() { return m_dir.filePath(QString("f%1.exe").arg(++m_count)); }

    QString build(const QString &script, Arch arch = Arch::Pe32Plus)
    {
        const QString path = nextPath();
        const QString error = PeFixture::build(script, path, arch);
        if (!error.isEmpty())
            qFatal("fixture: %s", qPrintable(error));
        return path;
    }

    QString buildWithFileVersion(const QString &fileVersion)
    {
        return build(PeFixture::versionScript(fileVersion));
    }

    // The bytes of a small executable with a version resource.
    QByteArray goodFile(Arch arch)
    {
        QFile f(build(PeFixture::versionScript("1.00.0025"), arch));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Each case that takes an architecture runs on a PE32+ and a PE32 file.
    static void architectures()
    {
        QTest::addColumn<Arch>("arch");
        QTest::newRow("PE32+") << Arch::Pe32Plus;
        QTest::newRow("PE32") << Arch::Pe32;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void allKeys_data() { architectures(); }
    void allKeys()
    {
        QFETCH(Arch, arch);
        VELMAR_REQUIRE_MINGW(arch);
        RecordingMessenger rec;
        const QString path = build(versionInfo(stringTable(
            "041204B0", {{"CompanyName", "젤레인 소프트"}, {"FileDescription", "DB 복사"},
                         {"FileVersion", "1.00.0025"}, {"InternalName", "velmar"},
                         {"LegalCopyright", "(c) 2024 Zephlane"}, {"OriginalFilename", "velmar.exe"},
                         {"ProductName", "velmar"}, {"ProductVersion", "1.0"},
                         {"Comments", "for developers"}, {"LegalTrademarks", "none"},
                         {"PrivateBuild", "pb-7"}, {"SpecialBuild", "sb"}})), arch);
        const QStringList expected = {
            "CompanyName: 젤레인 소프트", "FileDescription: DB 복사", "FileVersion: 1.00.0025",
            "InternalName: velmar", "LegalCopyright: (c) 2024 Zephlane",
            "OriginalFilename: velmar.exe", "ProductName: velmar", "ProductVersion: 1.0",
            "Comments: for developers", "LegalTrademarks: none", "PrivateBuild: pb-7",
            "SpecialBuild: sb", "Language: Korean"};
        QCOMPARE(GetFileVer(path), expected);
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    void versionLines_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("missing keys")
            << versionInfo(stringTable("041204B0", {{"FileVersion", "2.0.3"}}))
            << linesWith({{"FileVersion", "2.0.3"}}, "Language: Korean");
        QTest::newRow("two string tables: first occurrence, first language")
            << versionInfo(stringTable("040904B0", {{"CompanyName", "First"}, {"ProductName", "P1"}})
                           + stringTable("041204B0", {{"CompanyName", "Second"}, {"Comments", "only here"}}))
            << linesWith({{"CompanyName", "First"}, {"ProductName", "P1"}, {"Comments", "only here"}},
                         "Language: English - United States");
        QTest::newRow("lower-case language code")
            << versionInfo(stringTable("041404b0", {{"ProductName", "x"}}))
            << linesWith({{"ProductName", "x"}}, "Language: Norwegian - Bokm\uCC45l");
        QTest::newRow("language not in the table")
            << versionInfo(stringTable("0C0A04B0", {{"ProductName", "x"}}))
            << linesWith({{"ProductName", "x"}}, "Language: ");
        // A lone NUL after a key of odd length (alignment word) and of even length (none).
        QTest::newRow("empty values")
            << versionInfo(stringTable("041204B0", {{"CompanyName", ""}, {"Comments", ""}, {"SpecialBuild", "s"}}))
            << linesWith({{"CompanyName", ""}, {"Comments", ""}, {"SpecialBuild", "s"}}, "Language: Korean");
        QTest::newRow("no string table")
            << versionInfo({}, false) << linesWith({}, "Language");
    }
    void versionLines()
    {
        VELMAR_REQUIRE_MINGW(Arch::Pe32Plus);
        QFETCH(QString, script);
        QFETCH(QStringList, lines);
        RecordingMessenger rec;
        QCOMPARE(GetFileVer(build(script)), lines);
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    void rawBlocks_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("messages");

        // Comments has no value at all: its value runs on through CompanyName's header words
        // (length 36 = '$', value length 2, type 1) and key, up to the key's NUL.
        QTest::newRow("value runs into the next entry")
            << versionBlock({entry("Comments", 1, {}, 0), textEntry("CompanyName", "X")})
            << linesWith({{"CompanyName", "X"}, {"Comments", QString("$\u0002\u0001CompanyName")}},
                         "Language: English - United States")
            << QStringList();

        QByteArray unterminated = entry("SpecialBuild", 1, QByteArray("a\0b\0c\0", 6), 3);
        QStringList bareKey = linesWith({{"CompanyName", "X"}}, "Language: English - United States");
        bareKey[11] = "SpecialBuild";
        QTest::newRow("value without an end keeps the bare key")
            << versionBlock({textEntry("CompanyName", "X"), unterminated}) << bareKey
            << QStringList{kInvalidCall + "GetFileVer of Module mdlFile"};
    }
    void rawBlocks()
    {
        VELMAR_REQUIRE_MINGW(Arch::Pe32Plus);
        QFETCH(QByteArray, block);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, messages);
        const QString path = nextPath();
        QCOMPARE(PeFixture::buildRawVersion(block, path), QString());
        RecordingMessenger rec;
        QCOMPARE(GetFileVer(path), lines);
        QCOMPARE(rec.messageTexts(), messages);
    }

    void noVersionInformation_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("text file") << QByteArray("FileVersion 1.00.0025\r\n");
        QTest::newRow("MZ only") << QByteArray("MZ");
        QByteArray badOffset(64, '\0');
        badOffset[0] = 'M';
        badOffset[1] = 'Z';
        qToLittleEndian<quint32>(0xFFFFFFF0u, badOffset.data() + 0x3c);
        QTest::newRow("PE header offset beyond the file") << badOffset;
    }
    void noVersionInformation()
    {
        QFETCH(QByteArray, content);
        const QString path = nextPath();
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        RecordingMessenger rec;
        QCOMPARE(GetFileVer(path), QStringList());
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    void missingFileAndOtherResources()
    {
        VELMAR_REQUIRE_MINGW(Arch::Pe32);
        RecordingMessenger rec;
        QCOMPARE(GetFileVer(m_dir.filePath("absent.exe")), QStringList());
        const QString bin = m_dir.filePath("data.bin");
        QFile f(bin);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a version block");
        f.close();
        // An RT_RCDATA resource only: a PE file with resources but no version information.
        QCOMPARE(GetFileVer(build("1 RCDATA \"data.bin\"\n", Arch::Pe32)), QStringList());
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    // Every prefix of a good file either still holds the whole version block or gives nothing.
    void truncatedFiles_data() { architectures(); }
    void truncatedFiles()
    {
        QFETCH(Arch, arch);
        VELMAR_REQUIRE_MINGW(arch);
        QByteArray bytes = goodFile(arch);
        QBuffer whole(&bytes);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray block = readVersionResource(whole);
        // The whole VS_VERSIONINFO: its length word, value length 52, binary type, its key.
        QVERIFY(block.size() > 6);
        QCOMPARE(qFromLittleEndian<quint16>(block.constData()), quint16(block.size()));
        QCOMPARE(block.mid(2, 4), QByteArray("\x34\0\0\0", 4));
        QCOMPARE(block.mid(6, 32), utf16z("VS_VERSION_INFO"));

        qsizetype firstComplete = -1;
        for (qsizetype cut = 0; cut < bytes.size(); ++cut) {
            QBuffer prefix;
            prefix.setData(bytes.left(cut));
            QVERIFY(prefix.open(QIODevice::ReadOnly));
            const QByteArray got = readVersionResource(prefix);
            if (got.isEmpty()) {
                QVERIFY2(firstComplete < 0, qPrintable(QString("cut at %1").arg(cut)));
            } else {
                QCOMPARE(got, block);
                if (firstComplete < 0)
                    firstComplete = cut;
            }
        }
        QVERIFY(firstComplete > 0);
        QVERIFY(bytes.left(firstComplete).endsWith(block));
    }

    // Any single damaged byte: never a crash or a read outside the file, and either no block
    // or one that lies within the file.
    void damagedFiles_data() { architectures(); }
    void damagedFiles()
    {
        QFETCH(Arch, arch);
        VELMAR_REQUIRE_MINGW(arch);
        const QByteArray bytes = goodFile(arch);
        int none = 0;
        for (qsizetype at = 0; at < bytes.size(); ++at) {
            for (char value : {char(0xff), char(0x00), char(0x7f), char(0x80)}) {
                if (bytes.at(at) == value)
                    continue;
                QByteArray damaged = bytes;
                damaged[at] = value;
                QBuffer device(&damaged);
                QVERIFY(device.open(QIODevice::ReadOnly));
                const QByteArray got = readVersionResource(device);
                QVERIFY2(got.isEmpty() || damaged.contains(got), qPrintable(QString::number(at)));
                none += got.isEmpty();
            }
        }
        QVERIFY(none > 0);
    }

    void languageNames_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("Korean") << "0412" << "Korean";
        QTest::newRow("string table key") << "041204B0" << "Korean";
        QTest::newRow("lower case") << "0c04" << "Chinese - Hong Kong S.A.R.";
        QTest::newRow("Bokmal with a Hangul syllable") << "0414" << "Norwegian - Bokm\uCC45l";
        QTest::newRow("Saudi Arabia") << "0401" << "Arabic - Saudia Arabia";
        QTest::newRow("Ukrainian") << "0422" << "Ukranian";
        QTest::newRow("Tswana") << "0432" << "Setsuana";
        QTest::newRow("Sotho") << "0430" << "Sutu";
        QTest::newRow("Faroese") << "0438" << "Faeroese";
        QTest::newRow("Liechtenstein") << "1407" << "German - Lichtenstein";
        QTest::newRow("Austria") << "0C07" << "German - Austrian";
        QTest::newRow("Colombia") << "240A" << "Spanish - Columbia";
        QTest::newRow("Portugal") << "0816" << "Portuguese - Standard";
        QTest::newRow("Puerto Rico") << "500a" << "Spanish - Puerto Rico";
        QTest::newRow("Zulu, last of the table") << "0435" << "Zulu";
        QTest::newRow("not in the table") << "0C0A" << "";
        QTest::newRow("too short") << "041" << "";
        QTest::newRow("empty") << "" << "";
    }
    void languageNames()
    {
        QFETCH(QString, code);
        QFETCH(QString, name);
        QCOMPARE(GetLanguageName(code), name);
    }

    void fileVersionText_data()
    {
        QTest::addColumn<QString>("fileVersion");  // empty: no FileVersion key
        QTest::addColumn<bool>("keepLast");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("messages");
        const QStringList none;
        const QStringList noDot = {kInvalidCall + "GetFileVersionText of Module mdlFile"};
        QTest::newRow("keep last part") << "1.00.0025" << true << true << "1.00.25" << none;
        QTest::newRow("drop last part") << "1.00.0025" << false << false << "1.00" << none;
        QTest::newRow("no dot, keep") << "0025" << true << false << "25" << none;
        QTest::newRow("no dot, drop") << "0025" << false << false << "0025" << noDot;
        QTest::newRow("no dot, drop, silent") << "0025" << false << true << "0025" << none;
        QTest::newRow("plain part") << "7" << true << false << "7" << none;
        QTest::newRow("part that is no number") << "2.1.beta" << true << false << "2.1.beta" << none;
        QTest::newRow("blank in the value") << "3.0 build.0042" << true << false << "3.0 build.42" << none;
        QTest::newRow("no FileVersion, keep") << "" << true << false << "Not specified" << none;
        QTest::newRow("no FileVersion, drop") << "" << false << false << "Not specified" << noDot;
    }
    void fileVersionText()
    {
        VELMAR_REQUIRE_MINGW(Arch::Pe32Plus);
        QFETCH(QString, fileVersion);
        QFETCH(bool, keepLast);
        QFETCH(bool, silent);
        QFETCH(QString, text);
        QFETCH(QStringList, messages);
        const QString path = fileVersion.isEmpty()
                                 ? build(versionInfo(stringTable("041204B0", {{"ProductName", "p"}})))
                                 : buildWithFileVersion(fileVersion);
        RecordingMessenger rec;
        QCOMPARE(GetFileVersionText(path, keepLast, silent), text);
        QCOMPARE(rec.messageTexts(), messages);
    }

    void fileVersionTextWithoutInformation_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("reported") << false
            << QStringList{"Error 13 (Type mismatch) in procedure GetFileVersionText of Module mdlFile"};
        QTest::newRow("silent") << true << QStringList();
    }
    void fileVersionTextWithoutInformation()
    {
        QFETCH(bool, silent);
        QFETCH(QStringList, messages);
        RecordingMessenger rec;
        QCOMPARE(GetFileVersionText(m_dir.filePath("absent.exe"), true, silent), QString());
        QCOMPARE(rec.messageTexts(), messages);
        QCOMPARE(rec.messages().isEmpty() || rec.messages().first().icon == Icon::None, true);
    }

    void numberReading_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("complete");
        QTest::newRow("hexadecimal") << "&H1A" << 26.0 << true;
        QTest::newRow("hexadecimal, lower case") << "&hff" << 255.0 << true;
        QTest::newRow("octal") << "&O17" << 15.0 << true;
        QTest::newRow("octal stops at 8") << "&o78" << 7.0 << false;
        QTest::newRow("bare &H") << "&H" << 0.0 << false;
        QTest::newRow("blanks anywhere") << " 2 5 " << 25.0 << true;
        QTest::newRow("tabs and line feeds") << "\t2\n5\n" << 25.0 << true;
        QTest::newRow("carriage return stops") << "25\r\n" << 25.0 << false;
        QTest::newRow("carriage return first") << "\r25" << 0.0 << false;
        QTest::newRow("exponent") << "1e2" << 100.0 << true;
        QTest::newRow("exponent with blanks") << "1 E +2" << 100.0 << true;
        QTest::newRow("negative exponent") << "25e-1" << 2.5 << true;
        QTest::newRow("exponent without digits") << "1e" << 1.0 << false;
        QTest::newRow("negative") << "-3" << -3.0 << true;
        QTest::newRow("plus sign") << "+7" << 7.0 << true;
        QTest::newRow("decimal") << "25.5" << 25.5 << true;
        QTest::newRow("one decimal point only") << "1.2.3" << 1.2 << false;
        QTest::newRow("leading point") << ".5" << 0.5 << true;
        QTest::newRow("trailing point") << "5." << 5.0 << true;
        QTest::newRow("letters after digits") << "12abc" << 12.0 << false;
        QTest::newRow("no number") << "abc" << 0.0 << false;
        QTest::newRow("sign only") << "-" << 0.0 << false;
        QTest::newRow("empty") << "" << 0.0 << false;
        QTest::newRow("leading zeros") << "0025" << 25.0 << true;
        QTest::newRow("error page") << "<html>500</html>" << 0.0 << false;
    }
    void numberReading()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QFETCH(bool, complete);
        const NumberReading r = readNumber(text);
        QCOMPARE(r.value, value);
        QCOMPARE(r.complete, complete);
    }

    void wholeNumbers_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<qint32>("whole");  // ignored when overflow
        QTest::addColumn<bool>("overflow");
        QTest::newRow("half up to even") << 25.5 << 26 << false;
        QTest::newRow("half down to even") << 24.5 << 24 << false;
        QTest::newRow("negative half") << -2.5 << -2 << false;
        QTest::newRow("below half") << 0.49 << 0 << false;
        QTest::newRow("above half") << 7.51 << 8 << false;
        QTest::newRow("largest") << 2147483647.0 << 2147483647 << false;
        QTest::newRow("smallest by rounding to even") << -2147483648.5 << qint32(-2147483647 - 1) << false;
        QTest::newRow("rounds past the largest") << 2147483647.5 << 0 << true;
        QTest::newRow("beyond 32 bits") << 4294967296.0 << 0 << true;
        QTest::newRow("infinity") << qInf() << 0 << true;
    }
    void wholeNumbers()
    {
        QFETCH(double, value);
        QFETCH(qint32, whole);
        QFETCH(bool, overflow);
        try {
            const qint32 got = toInt32(value);
            QVERIFY2(!overflow, qPrintable(QString::number(got)));
            QCOMPARE(got, whole);
        } catch (const RaisedError &e) {
            QVERIFY(overflow);
            QCOMPARE(e.Number, 6);
            QCOMPARE(e.Description, QString("Overflow"));
        }
    }
};

QTEST_GUILESS_MAIN(TestModFile)
#include "test_modfile.moc"
