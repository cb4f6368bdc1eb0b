#pragma once

#include <QString>

namespace Orvantel {

/// The number at the start of text: leading blanks skipped, an optional sign, digits,
/// an optional decimal part after a point and an optional exponent (e or E, optional
/// sign, digits). Reading stops at the first character that cannot continue the number;
/// text without a leading number reads as 0.
double leadingNumber(const QString &text);

/// Rounds to the nearest integer, an exact half going to the even neighbour.
/// Throws ControlError 6 ("Overflow") outside -32768..32767 (and for NaN).
qint16 roundToInt16(double value);

/// roundToInt16(leadingNumber(text)): "2.5" gives 2, "3.5" gives 4, "12abc" 12, "abc" 0.
qint16 textToInt16(const QString &text);

/// True when text, apart from surrounding blanks, is one number: optional sign, digits
/// with an optional decimal part (or a point followed by digits), optional exponent.
bool isNumericText(const QString &text);

/// "true"/"false" in any letter case, or a numeric text (true when not zero), surrounding
/// blanks ignored. Anything else, the empty text included, throws ControlError 13
/// ("Type mismatch").
bool textToBool(const QString &text);

} // namespace Orvantel
