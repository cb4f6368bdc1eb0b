#include "textconv.h"

#include "controlerror.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace Orvantel {

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

/// Scans a number at position i; returns the ASCII text of it (empty when none) and
/// moves i past it.
std::string scanNumber(const QString &text, qsizetype &i)
{
    std::string number;
    const qsizetype n = text.size();
    qsizetype j = i;
    if (j < n && (text[j] == u'+' || text[j] == u'-'))
        number += char(text[j++].unicode());
    bool mantissa = false;
    while (j < n && isDigit(text[j])) {
        number += char(text[j++].unicode());
        mantissa = true;
    }
    if (j < n && text[j] == u'.') {
        qsizetype k = j + 1;
        std::string fraction;
        while (k < n && isDigit(text[k]))
            fraction += char(text[k++].unicode());
        if (mantissa || !fraction.empty()) {
            number += '.';
            number += fraction;
            mantissa = true;
            j = k;
        }
    }
    if (!mantissa)
        return {};
    if (j < n && (text[j] == u'e' || text[j] == u'E')) {
        qsizetype k = j + 1;
        std::string exponent = "e";
        if (k < n && (text[k] == u'+' || text[k] == u'-'))
            exponent += char(text[k++].unicode());
        bool digits = false;
        while (k < n && isDigit(text[k])) {
            exponent += char(text[k++].unicode());
            digits = true;
        }
        if (digits) {
            number += exponent;
            j = k;
        }
    }
    i = j;
    return number;
}

double toDouble(const std::string &number)
{
    const char *first = number.data();
    const char *last = first + number.size();
    // from_chars does not take a leading '+'.
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    double value = 0;
    const auto result = std::from_chars(first, last, value);
    if (result.ec == std::errc::result_out_of_range) {
        const auto e = number.find('e');
        const bool tiny = e != std::string::npos && e + 1 < number.size() && number[e + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -value : value;
}

} // namespace

double leadingNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    const std::string number = scanNumber(text, i);
    return number.empty() ? 0.0 : toDouble(number);
}

qint16 roundToInt16(double value)
{
    const double rounded = std::nearbyint(value); // the default rounding mode sends halves to even
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        throw ControlError::overflow();
    return static_cast<qint16>(rounded);
}

qint16 textToInt16(const QString &text)
{
    return roundToInt16(leadingNumber(text));
}

bool isNumericText(const QString &text)
{
    const QString trimmed = text.trimmed();
    qsizetype i = 0;
    return !scanNumber(trimmed, i).empty() && i == trimmed.size();
}

bool textToBool(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    if (!isNumericText(trimmed))
        throw ControlError::typeMismatch();
    return leadingNumber(trimmed) != 0.0;
}

} // namespace Orvantel
