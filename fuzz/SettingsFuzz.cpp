// The conversions every value of the settings file and of the option boxes goes through:
// any text either converts or is refused with the program's own error, and the shortest
// text of a single reads back as the very same single.
#include "FuzzInput.h"

#include "core/Errors.h"
#include "core/Helpers.h"

#include <QVariant>

#include <cmath>

using namespace clarow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::FileText(data, size);

    const double leading = LeadingNumber(text);
    (void)RoundHalfEven(leading);
    (void)IsNumeric(text);
    (void)NumOr(QVariant(text), 7.0);

    try {
        (void)TextToSingle(text);
    } catch (const ClarowError &) {
        // A whole part beyond 16 bits overflows, as in the decoder.
    }
    try {
        (void)WholeNumber16(text);
    } catch (const ClarowError &) {
        // Refused with the program's own type-mismatch or overflow error: fine.
    }
    try {
        const float v = SingleOf(text);
        FUZZ_CHECK(!std::isnan(v));
        if (std::isfinite(v))
            FUZZ_CHECK(SingleOf(SingleText(v)) == v);
    } catch (const ClarowError &) {
    }
    return 0;
}
