// The inventory reply of the multi-sensor type tool: whatever the adapter sends, the list
// holds only 19-character multi-sensor lines, the selection is one of them, and a type write
// built from any listed entry is the 21 characters the adapter expects.
#include "FuzzInput.h"

#include "retyper/Inventory.h"

#include <QRegularExpression>

using namespace clarow::retyper;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first line of the input is the preferred sensor, the rest the reply.
    const QString input = clarow::fuzz::SerialText(data, size);
    const qsizetype cut = input.indexOf(QLatin1Char('\n'));
    const QString preferred = cut < 0 ? QString() : input.left(cut);
    const QString reply = cut < 0 ? input : input.mid(cut + 1);

    const ReplyState state = InventoryState(reply);
    FUZZ_CHECK(state == ReplyState::Incomplete || state == ReplyState::Complete
               || state == ReplyState::NoSensors);
    const InventoryList list = ParseInventory(reply, preferred);
    FUZZ_CHECK(list.selected >= -1 && list.selected < list.entries.size());
    FUZZ_CHECK(list.entries.isEmpty() == (list.selected == -1));
    static const QRegularExpression line(QStringLiteral("^26[0-9A-F ]{17} - "));
    const QStringList types = TypeEntries();
    for (const QString &entry : list.entries) {
        FUZZ_CHECK(line.match(entry).hasMatch());
        for (const QString &type : types) {
            (void)ApplyAllowed(entry, type);
            FUZZ_CHECK(TypeWriteCommand(entry, type).size() == 21);
            FUZZ_CHECK(ExpectedLine(entry, type).size() == kSensorLineLength);
        }
    }
    return 0;
}
