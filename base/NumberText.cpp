#include "NumberText.h"

#include "RaisedError.h"

#include <QLocale>
#include <QString>

#include <cmath>

namespace velmar {

namespace {

bool isIgnored(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

int digitValue(QChar c, int base)
{
    int d = -1;
    if (isDigit(c))
        d = c.unicode() - u'0';
    else if (c >= u'a' && c <= u'f')
        d = c.unicode() - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        d = c.unicode() - u'A' + 10;
    return d < base ? d : -1;
}

NumberReading readRadix(const QString &s, int base)
{
    NumberReading r;
    qsizetype i = 2;
    bool any = false;
    for (; i < s.size(); ++i) {
        const int d = digitValue(s.at(i), base);
        if (d < 0)
            break;
        r.value = r.value * base + d;
        any = true;
    }
    r.complete = any && i == s.size();
    return r;
}

// Moves a leading sign at i over to out.
void takeSign(const QString &s, qsizetype &i, QString &out)
{
    if (i < s.size() && (s.at(i) == u'+' || s.at(i) == u'-'))
        out += s.at(i++);
}

// Moves the decimal digits at i over to out; false when there are none.
bool takeDigits(const QString &s, qsizetype &i, QString &out)
{
    const qsizetype start = i;
    while (i < s.size() && isDigit(s.at(i)))
        out += s.at(i++);
    return i > start;
}

// The text is already in the C locale's form. Too large a number reads as an infinity (so that
// a later conversion to a whole number reports the overflow), too small a one as 0.
double parseDecimal(const QString &number)
{
    return QLocale::c().toDouble(number);
}

}  // namespace

NumberReading readNumber(QStringView text)
{
    QString s;
    s.reserve(text.size());
    for (QChar c : text) {
        if (!isIgnored(c))
            s += c;
    }

    if (s.size() >= 2 && s.at(0) == u'&') {
        const QChar kind = s.at(1).toUpper();
        if (kind == u'H')
            return readRadix(s, 16);
        if (kind == u'O')
            return readRadix(s, 8);
    }

    NumberReading r;
    qsizetype i = 0;
    QString number;
    takeSign(s, i, number);
    bool digits = takeDigits(s, i, number);
    if (i < s.size() && s.at(i) == u'.') {
        number += s.at(i++);
        digits = takeDigits(s, i, number) || digits;
    }
    if (!digits)
        return r;
    if (number.endsWith(u'.'))
        number += u'0';

    // An exponent counts only with at least one digit; "1e" reads as 1.
    if (i < s.size() && (s.at(i) == u'e' || s.at(i) == u'E')) {
        qsizetype j = i + 1;
        QString exponent = QStringLiteral("e");
        takeSign(s, j, exponent);
        if (takeDigits(s, j, exponent)) {
            number += exponent;
            i = j;
        }
    }

    r.value = parseDecimal(number);
    r.complete = i == s.size();
    return r;
}

qint32 toInt32(double value)
{
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    if (!(whole >= -2147483648.0 && whole <= 2147483647.0))
        throw RaisedError(err::Overflow, QString(), QStringLiteral("Overflow"));
    return static_cast<qint32>(whole);
}

}  // namespace velmar
