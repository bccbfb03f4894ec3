#include "retyper/Inventory.h"

#include "link/TypeCodes.h"

namespace clarow::retyper {

namespace {
const QString kSeparator = QStringLiteral(" - ");

// Characters 18 and 19 of a sensor entry, or the first two of a type entry.
QString EntryCode(const QString &sensorEntry) { return sensorEntry.mid(kAddressLength + 1, 2); }

bool Kept(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
           || (c >= QLatin1Char('A') && c <= QLatin1Char('F')) || c == QLatin1Char(' ');
}
} // namespace

QStringList TypeEntries()
{
    QStringList entries;
    for (const TypeCode &t : TypeCodes())
        entries << QLatin1String(t.code) + kSeparator + QLatin1String(t.description);
    return entries;
}

QString TypeSuffix(const QString &code)
{
    const auto type = FindTypeCode(code);
    return kSeparator + (type ? QLatin1String(type->description) : QLatin1String("Unknown"));
}

ReplyState InventoryState(const QString &reply)
{
    if (reply.contains(QLatin1Char('?')))
        return ReplyState::NoSensors;
    if (reply.contains(QLatin1String("EOD")))
        return ReplyState::Complete;
    return ReplyState::Incomplete;
}

InventoryList ParseInventory(const QString &reply, const QString &preferred)
{
    InventoryList list;
    QString line;
    for (const QChar c : reply) {
        if (c != QLatin1Char('\r')) {
            if (Kept(c))
                line += c;
            continue;
        }
        if (line.size() == kSensorLineLength && line.startsWith(QLatin1String(kMultiSensorFamily))) {
            if (!preferred.isEmpty() && preferred == line)
                list.preferredSeen = true;
            const QString entry = line + TypeSuffix(EntryCode(line));
            const bool isPreferred = !preferred.isEmpty()
                                     && entry.left(kAddressLength) == preferred.left(kAddressLength);
            if (isPreferred || list.selected < 0)
                list.selected = int(list.entries.size());
            list.entries << entry;
        }
        line.clear();
    }
    return list;
}

bool ApplyAllowed(const QString &sensorEntry, const QString &typeEntry)
{
    if (sensorEntry.size() < kSensorLineLength)
        return false;
    return EntryCode(sensorEntry) != typeEntry.left(2);
}

QString TypeWriteCommand(const QString &sensorEntry, const QString &typeEntry)
{
    return QStringLiteral("K07") + sensorEntry.left(kAddressLength) + typeEntry.left(2);
}

QString ExpectedLine(const QString &sensorEntry, const QString &typeEntry)
{
    return sensorEntry.left(kAddressLength) + QLatin1Char(' ') + typeEntry.left(2);
}

} // namespace clarow::retyper
