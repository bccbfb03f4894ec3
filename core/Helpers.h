#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>
#include <optional>
#include <type_traits>

namespace clarow {

// Rounds to the nearest whole number, halves to the even neighbour (45.5 → 46, 44.5 → 44).
[[nodiscard]] double RoundHalfEven(double v);

// The leading number of a text: leading blanks skipped, "&H" introduces hexadecimal digits,
// a text that does not begin with a number gives 0.
[[nodiscard]] double LeadingNumber(const QString &text);

// True when the whole text (blanks around it allowed) is a number: "12", "-5.25", "1e3",
// "&H1F".
[[nodiscard]] bool IsNumeric(const QString &text);

// Serial day number of t in its shortest plain decimal form of up to 15 significant digits,
// "." as the decimal mark, cut to 12 characters; midnight gives the bare day number.
[[nodiscard]] QString DateNumberText(const QDateTime &t);

// The value rounded (halves to even) when it is numeric and not empty, else the default.
[[nodiscard]] double NumOr(const QVariant &value, double fallback);

// Decimal text with "." as the mark to a single, whatever the regional settings; a text
// that is not numeric gives 0. Throws ClarowError (overflow) when the whole part does not fit
// in 16 bits, as a field taken as a whole number does.
[[nodiscard]] float TextToSingle(const QString &text);

// A field taken as a whole number: numeric text rounded, halves to even. Throws
// ClarowError (type mismatch) when the text is not a number, (overflow) when it does not
// fit in 16 bits.
[[nodiscard]] qint16 WholeNumber16(const QString &text);

// A field taken as a single: plain decimal text with "." or the regional decimal mark.
// Throws ClarowError (type mismatch) when the text is not a number, empty included,
// (overflow) when it does not fit.
[[nodiscard]] float SingleOf(const QString &text);

// The shortest text that reads back as the same float ("22.05", never "22.049999237").
[[nodiscard]] QString SingleText(float v);

// The program's colours are stored (settings file, status grid, graph plan) as 0x00BBGGRR,
// red in the low byte. The same colour as 0xFFRRGGBB, opaque, the order Qt's colours and the
// web page's hexadecimal colours take (QColor::fromRgb), and back. Bytes beyond the three
// colours are ignored both ways.
[[nodiscard]] quint32 StoredColourToRgb(qint32 stored);
[[nodiscard]] qint32 RgbToStoredColour(quint32 rgb);

// A database column's value as read from a query: nothing for NULL, else the value as T
// (yes/no columns hold 1 and 0).
template <typename T>
std::optional<T> Optional(const QVariant &v)
{
    if (v.isNull())
        return std::nullopt;
    if constexpr (std::is_same_v<T, bool>)
        return v.toLongLong() != 0;
    else if constexpr (std::is_same_v<T, float>)
        return static_cast<float>(v.toDouble());
    else
        return static_cast<T>(v.toLongLong());
}

// Runs work on a thread of its own and waits for it the way Pause waits (every pauseSeconds),
// so that the windows stay alive through an exchange that can take many seconds. Once the
// program is closing, abort is set: work should then give up soon.
void RunWhileWaiting(const std::function<void()> &work, std::atomic<bool> &abort, double pauseSeconds);

} // namespace clarow
