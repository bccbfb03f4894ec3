// The identification reply the adapter search judges ("Varnex V1.0h"): any text gives one of
// the two verdicts, and only a text that names version 1.0 or later with revision H or later
// is taken as ready.
#include "FuzzInput.h"

#include "core/FindVarnex.h"

using namespace clarow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString reply = fuzz::SerialText(data, size);
    const int verdict = FirmwareVerdict(reply);
    FUZZ_CHECK(verdict == VarnexReady || verdict == VarnexTooOld);
    // Line ends after the text change nothing.
    FUZZ_CHECK(FirmwareVerdict(reply + QStringLiteral("\r\n")) == verdict);
    return 0;
}
