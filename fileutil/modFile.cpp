#include "modFile.h"

#include "NumberText.h"
#include "RaisedError.h"
#include "VersionResource.h"

#include <QHash>

namespace velmar {

namespace {

const QString kUnit = QStringLiteral("Module mdlFile");
const QString kKeyList = QStringLiteral(
    "CompanyName;FileDescription;FileVersion;InternalName;LegalCopyright;OriginalFilename;"
    "ProductName;ProductVersion;Comments;LegalTrademarks;PrivateBuild;SpecialBuild;Language");
constexpr int kLanguageIndex = 12;
constexpr int kFileVersionIndex = 2;
constexpr QChar kTextType = QChar(0x0001);
constexpr QChar kNul = QChar(0x0000);

// Run-time errors as the users know them from the original tool.
RaisedError invalidCall()
{
    return RaisedError(5, QString(), QStringLiteral("Invalid procedure call or argument"));
}

RaisedError typeMismatch()
{
    return RaisedError(13, QString(), QStringLiteral("Type mismatch"));
}

// The version block laid into a text of as many 16-bit characters as the block has bytes,
// blanks behind it. Positions are 1-based, as the scan rules count them.
class ScanText {
public:
    explicit ScanText(const QByteArray &block) : m_text(block.size(), u' ')
    {
        for (qsizetype i = 0; i < block.size(); ++i) {
            const char16_t old = m_text.at(i / 2).unicode();
            const char16_t byte = quint8(block.at(i));
            m_text[i / 2] = QChar(i % 2 == 0 ? char16_t((old & 0xff00) | byte)
                                             : char16_t((old & 0x00ff) | (byte << 8)));
        }
    }

    // Position of needle at or after start; 0 when there is none.
    qsizetype find(qsizetype start, QStringView needle) const
    {
        if (start < 1 || start > m_text.size())
            return 0;
        const qsizetype at = m_text.indexOf(needle, start - 1);
        return at < 0 ? 0 : at + 1;
    }

    bool isNul(qsizetype position) const
    {
        return position >= 1 && position <= m_text.size() && m_text.at(position - 1) == kNul;
    }

    // The text from position up to the next NUL; a text that never ends is an error.
    QString textUntilNul(qsizetype position) const
    {
        const qsizetype end = find(position, QStringView(&kNul, 1));
        if (end == 0)
            throw invalidCall();
        return m_text.mid(position - 1, end - position);
    }

private:
    QString m_text;
};

QString valueOf(const ScanText &text, const QString &key)
{
    const qsizetype p = text.find(1, QString(kTextType + key));
    if (p == 0)
        return QStringLiteral("Not specified");
    qsizetype q = p + key.size() + 1;
    // Skip the key's terminator and, where there is one, an alignment character.
    if (text.isNul(q + 1))
        q += 2;
    else if (text.isNul(q))
        q += 1;
    return text.textUntilNul(q);
}

// The language of the first string table: the key of the first text entry after StringFileInfo.
QString languageCode(const ScanText &text, qsizetype stringFileInfoAt)
{
    const qsizetype tableType = text.find(stringFileInfoAt + 14, QStringView(&kTextType, 1));
    return text.textUntilNul(tableType + 1);
}

// The last part of a file version in plain decimal form; left as it is when it is no number.
QString standardForm(const QString &part)
{
    const NumberReading n = readNumber(part);
    if (!n.complete)
        return part;
    try {
        return QString::number(toInt32(n.value));
    } catch (const RaisedError &) {
        return part;
    }
}

struct Language {
    const char16_t *code;
    const char16_t *name;
};

// Names exactly as the tool has always shown them, misspellings included.
const Language kLanguages[] = {
    {u"0401", u"Arabic - Saudia Arabia"},
    {u"0402", u"Bulgarian"},
    {u"0403", u"Catalan"},
    {u"0404", u"Chinese - Taiwan"},
    {u"0405", u"Czech"},
    {u"0406", u"Danish"},
    {u"0407", u"German - Standard"},
    {u"0408", u"Greek"},
    {u"0409", u"English - United States"},
    {u"040A", u"Spanish - Standard"},
    {u"040B", u"Finnish"},
    {u"040C", u"French - Standard"},
    {u"040D", u"Hebrew"},
    {u"040E", u"Hungarian"},
    {u"040F", u"Icelandic"},
    {u"0410", u"Italian - Standard"},
    {u"0411", u"Japanese"},
    {u"0412", u"Korean"},
    {u"0413", u"Dutch"},
    {u"0414", u"Norwegian - Bokm\uCC45l"},
    {u"0415", u"Polish"},
    {u"0416", u"Portuguese - Brazil"},
    {u"0417", u"Raeto-Romance"},
    {u"0418", u"Romanian"},
    {u"0419", u"Russian"},
    {u"041A", u"Croatian"},
    {u"041B", u"Slovak"},
    {u"041C", u"Albanian"},
    {u"041D", u"Swedish"},
    {u"041E", u"Thai"},
    {u"041F", u"Turkish"},
    {u"0420", u"Urdu - Pakistan"},
    {u"0421", u"Indonesian"},
    {u"0422", u"Ukranian"},
    {u"0423", u"Belarusian"},
    {u"0424", u"Slovenian"},
    {u"0425", u"Estonian"},
    {u"0426", u"Latvian"},
    {u"0427", u"Lithuanian"},
    {u"0429", u"Farsi"},
    {u"042A", u"Vietnamese"},
    {u"042D", u"Basque"},
    {u"042E", u"Sorbian"},
    {u"042F", u"Macedonian"},
    {u"0430", u"Sutu"},
    {u"0431", u"Tsonga"},
    {u"0432", u"Setsuana"},
    {u"0434", u"Xhosa"},
    {u"0435", u"Zulu"},
    {u"0436", u"Afrikaans"},
    {u"0438", u"Faeroese"},
    {u"0439", u"Hindi"},
    {u"043A", u"Maltese"},
    {u"043C", u"Gaelic - Scotland"},
    {u"043D", u"Yiddish"},
    {u"043E", u"Malay - Malaysia"},
    {u"0801", u"Arabic - Iraq"},
    {u"0804", u"Chinese - PRC"},
    {u"0807", u"German - Switzerland"},
    {u"0809", u"English - United Kingdom"},
    {u"080A", u"Spanish - Mexico"},
    {u"080C", u"French - Belgium"},
    {u"0810", u"Italian - Switzerland"},
    {u"0813", u"Dutch - Belgium"},
    {u"0816", u"Portuguese - Standard"},
    {u"0818", u"Romanian - Moldova"},
    {u"0819", u"Russian - Moldova"},
    {u"081D", u"Swedish - Finland"},
    {u"0C01", u"Arabic - Egypt"},
    {u"0C04", u"Chinese - Hong Kong S.A.R."},
    {u"0C07", u"German - Austrian"},
    {u"0C09", u"English - Australia"},
    {u"0C0C", u"French - Canada"},
    {u"0C1A", u"Serbian - Cyrillic"},
    {u"1001", u"Arabic - Libya"},
    {u"1004", u"Chinese - Singapore"},
    {u"1007", u"German - Luxembourg"},
    {u"1009", u"English - Canada"},
    {u"100A", u"Spanish - Guatemala"},
    {u"100C", u"French - Switzerland"},
    {u"1401", u"Arabic - Algeria"},
    {u"1407", u"German - Lichtenstein"},
    {u"1409", u"English - New Zealand"},
    {u"140A", u"Spanish - Costa Rica"},
    {u"140C", u"French - Luxembourg"},
    {u"1801", u"Arabic - Morocco"},
    {u"1809", u"English - Ireland"},
    {u"180A", u"Spanish - Panama"},
    {u"1C01", u"Arabic - Tunisia"},
    {u"1C09", u"English - South Africa"},
    {u"1C0A", u"Spanish - Dominican Republic"},
    {u"2001", u"Arabic - Oman"},
    {u"2009", u"English - Jamaica"},
    {u"200A", u"Spanish - Venezuela"},
    {u"2401", u"Arabic - Yemen"},
    {u"240A", u"Spanish - Columbia"},
    {u"2801", u"Arabic - Syria"},
    {u"2809", u"English - Belize"},
    {u"280A", u"Spanish - Peru"},
    {u"2C01", u"Arabic - Jordan"},
    {u"2C09", u"English - Trinidad"},
    {u"2C0A", u"Spanish - Argentina"},
    {u"3001", u"Arabic - Lebanon"},
    {u"300A", u"Spanish - Ecuador"},
    {u"3401", u"Arabic - Kuwait"},
    {u"340A", u"Spanish - Chile"},
    {u"3801", u"Arabic - U.A.E."},
    {u"380A", u"Spanish - Uruguay"},
    {u"3C01", u"Arabic - Bahrain"},
    {u"3C0A", u"Spanish - Paraguay"},
    {u"4001", u"Arabic - Qatar"},
    {u"400A", u"Spanish - Bolivia"},
    {u"440A", u"Spanish - El Salvador"},
    {u"480A", u"Spanish - Honduras"},
    {u"4C0A", u"Spanish - Nicaragua"},
    {u"500A", u"Spanish - Puerto Rico"},
};

}  // namespace

QStringList GetFileVer(const QString &path)
{
    const QByteArray block = readVersionResource(path);
    if (block.isEmpty())
        return {};
    const ScanText text(block);
    const QStringList keys = kKeyList.split(u';');

    QStringList lines = keys;
    for (int i = 0; i < kLanguageIndex; ++i) {
        try {
            lines[i] = keys.at(i) + u": " + valueOf(text, keys.at(i));
        } catch (const std::exception &e) {
            reportError(RaisedError::from(e), QStringLiteral("GetFileVer"), kUnit);
        }
    }
    try {
        const qsizetype p = text.find(1, QString(kTextType + QStringLiteral("StringFileInfo")));
        if (p != 0)
            lines[kLanguageIndex] = keys.at(kLanguageIndex) + u": " + GetLanguageName(languageCode(text, p));
    } catch (const std::exception &e) {
        reportError(RaisedError::from(e), QStringLiteral("GetFileVer"), kUnit);
    }
    return lines;
}

QString GetLanguageName(const QString &code)
{
    static const QHash<QString, QString> names = [] {
        QHash<QString, QString> h;
        for (const Language &l : kLanguages)
            h.insert(QString::fromUtf16(l.code), QString::fromUtf16(l.name));
        return h;
    }();
    return names.value(code.left(4).toUpper());
}

QString GetFileVersionText(const QString &path, bool keepLast, bool silent)
{
    QString v;
    try {
        const QStringList lines = GetFileVer(path);
        if (lines.size() <= kFileVersionIndex)
            throw typeMismatch();
        const QString &entry = lines.at(kFileVersionIndex);
        const qsizetype blank = entry.indexOf(u' ');
        v = blank < 0 ? entry : entry.mid(blank + 1);

        const qsizetype d = v.lastIndexOf(u'.') + 1;
        if (keepLast) {
            v = v.left(d) + standardForm(v.mid(d));
        } else {
            if (d == 0)
                throw invalidCall();
            v = v.left(d - 1);
        }
    } catch (const std::exception &e) {
        if (!silent)
            reportError(RaisedError::from(e), QStringLiteral("GetFileVersionText"), kUnit);
    }
    return v;
}

}  // namespace velmar
