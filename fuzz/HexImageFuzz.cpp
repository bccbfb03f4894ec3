// The Intel HEX reader that checks a firmware image before it is sent: any file gives a
// verdict, and every record it passes as sound has the form the loader is sent.
#include "FuzzInput.h"

#include "firmware/HexImage.h"

#include <QRegularExpression>

using namespace clarow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList records = SplitRecords(text);
    (void)ImageFault(records);
    static const QRegularExpression form(QStringLiteral("^:([0-9A-Fa-f]{2}){5,}$"));
    for (const QString &record : records) {
        FUZZ_CHECK(!record.isEmpty());
        (void)RecordType(record);
        (void)RecordAddress(record);
        (void)RecordSkipped(record);
        if (RecordFault(record).isEmpty())
            FUZZ_CHECK(form.match(record).hasMatch());
    }
    return 0;
}
