#pragma once

#include <QString>
#include <QStringList>

namespace clarow::retyper {

// The entries offered in the type list: type code, " - ", description ("19 - Temperature
// and humidity"), in the order of the type-code table.
[[nodiscard]] QStringList TypeEntries();

// What a listed sensor shows after its line: " - " and the description of its type code, or
// " - Unknown" for a code the table does not hold.
[[nodiscard]] QString TypeSuffix(const QString &code);

// How far an inventory reply has come.
enum class ReplyState {
    Incomplete, // neither "EOD" nor "?" yet
    Complete,   // ended by "EOD"
    NoSensors,  // holds a "?": the adapter found no sensor (whatever came before it)
};
[[nodiscard]] ReplyState InventoryState(const QString &reply);

// The multi-sensors of a complete inventory reply, as list entries (sensor line + suffix).
struct InventoryList
{
    QStringList entries;
    int selected = -1;          // the preferred sensor if listed, else the first; -1 if none
    bool preferredSeen = false; // a line equal to the preferred text was in the reply
};

// Walks the reply keeping only "0"-"9", "A"-"F" and blanks; a line ended by a carriage
// return that is 19 characters long and starts with the multi-sensor family is listed.
// A line with lower-case or other stray characters loses them and so drops out. The
// preferred text is a sensor line ("ADDRESS TT"); its address decides the selection.
[[nodiscard]] InventoryList ParseInventory(const QString &reply, const QString &preferred);

// Apply is offered unless the chosen type is the one the chosen sensor already has, or no
// sensor is chosen at all.
[[nodiscard]] bool ApplyAllowed(const QString &sensorEntry, const QString &typeEntry);

// The type write for a list entry and a type entry: "K07" + address + code, 21 characters.
[[nodiscard]] QString TypeWriteCommand(const QString &sensorEntry, const QString &typeEntry);
// The sensor line the inventory shows once the write has taken: "ADDRESS TT".
[[nodiscard]] QString ExpectedLine(const QString &sensorEntry, const QString &typeEntry);

inline constexpr int kAddressLength = 16;
inline constexpr int kSensorLineLength = 19;

} // namespace clarow::retyper
