// The date-format routine with any custom pattern a user may type or the settings file may
// hold, on dates across the range the history covers and on serial day numbers.
#include "FuzzInput.h"

#include "core/DateFormat.h"

#include <QLocale>

#include <cstring>

using namespace clarow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first eight bytes, when there are that many, are a serial day number.
    double serial = 46000.5;
    if (size >= sizeof serial) {
        std::memcpy(&serial, data, sizeof serial);
        data += sizeof serial;
        size -= sizeof serial;
    }
    static const QLocale locales[] = {QLocale(QLocale::English, QLocale::UnitedStates),
                                      QLocale(QLocale::German, QLocale::Germany)};
    const QString pattern = fuzz::FileText(data, size);
    for (const QLocale &locale : locales) {
        const DateFormatter formatter(pattern, locale);
        (void)formatter.format(QDateTime(QDate(2026, 12, 7), QTime(13, 5, 9)));
        (void)formatter.format(QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
        (void)formatter.format(QDate(), QTime());
        (void)formatter.format(serial);
    }
    return 0;
}
