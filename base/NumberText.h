#pragma once

#include <QStringView>

namespace velmar {

// A number read from the start of a text, the way revision texts have always been read:
// blanks, tabs and line feeds are ignored wherever they stand; an optional sign, digits, one
// decimal point and an exponent make a decimal number; a leading &H or &O makes the digits
// hexadecimal or octal. Reading stops at the first character that cannot continue the number,
// and a text without a leading number reads as 0.
struct NumberReading {
    double value = 0;
    // The number took up the whole text (blanks aside) and had at least one digit.
    bool complete = false;
};

NumberReading readNumber(QStringView text);

// value rounded to the nearest whole number, halves to the even neighbour. A result outside
// the signed 32-bit range raises RaisedError err::Overflow ("Overflow").
qint32 toInt32(double value);

}  // namespace velmar
