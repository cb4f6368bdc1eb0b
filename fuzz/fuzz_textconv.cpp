// The text conversions: numbers, the numeric test and Booleans.
#include "fuzzsupport.h"

#include "textconv.h"
#include "controlerror.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzzText(data, size);
    const double number = Orvantel::leadingNumber(text);
    FUZZ_ASSERT(!std::isnan(number));
    try {
        const qint16 value = Orvantel::textToInt16(text);
        FUZZ_ASSERT(std::fabs(double(value) - number) <= 0.5);
    } catch (const Orvantel::ControlError &e) {
        FUZZ_ASSERT(e.number == Orvantel::ControlError::Overflow);
        FUZZ_ASSERT(std::fabs(number) > 32767);
    }
    const bool numeric = Orvantel::isNumericText(text);
    if (numeric)
        FUZZ_ASSERT(!text.trimmed().isEmpty());
    try {
        const bool flag = Orvantel::textToBool(text);
        if (numeric)
            FUZZ_ASSERT(flag == (Orvantel::leadingNumber(text.trimmed()) != 0.0));
    } catch (const Orvantel::ControlError &e) {
        FUZZ_ASSERT(e.number == Orvantel::ControlError::TypeMismatch);
        FUZZ_ASSERT(!numeric);
    }
    return 0;
}
