// The conversions every value of the settings file and of the option boxes goes through:
// any text either converts or is refused with the program's own error, and what converts
// reads back as itself.
#include "FuzzInput.h"

#include "shell/Errors.h"
#include "shell/Helpers.h"

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

    const float single = TextToSingle(text);
    if (std::isfinite(single)) {
        // The shortest text of a single reads back as the very same single.
        const QString shortest = SingleText(single);
        FUZZ_CHECK(TextToSingle(shortest) == single || (single == 0 && TextToSingle(shortest) == 0));
    }
    try {
        (void)WholeNumber16(text);
    } catch (const ClarowError &) {
        // Refused with the program's own type-mismatch or overflow error: fine.
    }
    try {
        const float v = SingleOf(text);
        FUZZ_CHECK(!std::isnan(v));
    } catch (const ClarowError &) {
    }
    return 0;
}
