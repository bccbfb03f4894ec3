#include "monitor/Decoder.h"

#include "core/Errors.h"
#include "core/Helpers.h"
#include "link/TypeCodes.h"

#include <QRegularExpression>

namespace clarow {

namespace {

constexpr float kUnset = -100.0f;     // a temperature or value not yet read in this line
constexpr qint16 kUnsetWhole = -100;  // a whole-number channel not yet read in this line
constexpr quint8 kNotReported = 100;  // water status not reported in this line
constexpr int kMaxWhole = 210;        // a larger humidity or light value is a bad reading
constexpr float kMaxVoltage = 10.0f;  // a larger voltage is a bad reading

// A water value is one byte; anything outside it is an overflow, as for any whole number
// that does not fit its type.
quint8 ToWater(int value)
{
    if (value < 0 || value > 255)
        throw ClarowError(kErrOverflow, QStringLiteral("Overflow"));
    return static_cast<quint8>(value);
}

// A type whose only value besides the temperature is its water tape: the first field after
// the temperatures is the tape's fault flag, where other types send their second channel.
bool WaterOnly(const TypeCode *type) { return type && type->hasWater && !type->hasCh2; }

bool IsFieldCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || u == '-' || u == '.' || u == ' ';
}

// A sensor identifier as the adapter sends it: 16 characters "0"-"9", "A"-"F", and for a
// multi-sensor or a family "30" device a blank and two more. A line whose identifier field
// has another form was garbled on the way (characters lost, two lines run together) and
// would otherwise be stored as a sensor that does not exist.
bool IsWellFormedId(const QString &id)
{
    static const QRegularExpression form(QStringLiteral("^[0-9A-F]{16}( [0-9A-F]{2})?$"));
    return form.match(id).hasMatch();
}

// The values read so far from the line being decoded.
struct WorkingValues
{
    QString lineId;
    float tempC = kUnset;
    float tempF = kUnset;
    qint16 ch2Whole = kUnsetWhole;
    float current = kUnset;
    quint8 water = kNotReported;
    QString field;

    // Voltage is deliberately not part of the per-line reset.
    void resetLine()
    {
        lineId.clear();
        tempC = kUnset;
        tempF = kUnset;
        ch2Whole = kUnsetWhole;
        current = kUnset;
        water = kNotReported;
        field.clear();
    }
};

class ReplyDecoder
{
public:
    ReplyDecoder(const QString &corF, const std::function<void(const SensorLine &)> &onLine)
        : m_fahrenheit(corF == QLatin1String("F")), m_onLine(onLine)
    {
    }

    void feed(QChar c)
    {
        if (IsFieldCharacter(c)) {
            w.field.append(c);
        } else if (c == QLatin1Char(',')) {
            endOfField();
        } else if (c == QLatin1Char('\r')) {
            // A carriage return before an identifier was read ends nothing; the field keeps
            // its text.
            if (w.lineId.size() >= 16)
                endOfLine();
        }
    }

private:
    void endOfField()
    {
        const qsizetype length = w.field.size();
        if (length == 16) {
            // A family "30" device sends its two-character suffix as the next field; it
            // joins the identifier after a blank.
            if (w.field.startsWith(QLatin1String("30"))) {
                w.field.append(QLatin1Char(' '));
                return;
            }
            w.lineId = w.field;
            w.field.clear();
            return;
        }
        if (length == 19) {
            w.lineId = w.field;
            w.field.clear();
            return;
        }
        if (w.tempC == kUnset) {
            w.tempC = TextToSingle(w.field);
        } else if (w.tempF == kUnset) {
            w.tempF = TextToSingle(w.field);
        } else if (WaterOnly(FindTypeCode(TypeOf(w.lineId)))) {
            if (w.water == kNotReported)
                w.water = ToWater(WholeNumber16(w.field));
        } else if (IsNumeric(w.field)) {
            if (w.ch2Whole == kUnsetWhole)
                w.ch2Whole = WholeNumber16(w.field);
            else if (w.water == kNotReported)
                w.water = ToWater(WholeNumber16(w.field));
        }
        w.field.clear();
    }

    void endOfLine()
    {
        const bool multi = FamilyOf(w.lineId) == QLatin1String(kMultiSensorFamily);
        const TypeCode *type = multi ? FindTypeCode(TypeOf(w.lineId)) : nullptr;

        // The pending field is the last field of the line: the tape's wet flag for a water
        // sensor, else the second channel as its type encodes it, else the temperature in °F.
        // A multi-sensor of a type code this program does not know drops it.
        if (!multi) {
            w.tempF = TextToSingle(w.field);
        } else if (type && type->hasWater) {
            if (w.water == 0)
                w.water = ToWater(2 * int(WholeNumber16(w.field)));
        } else if (type) {
            switch (type->encoding) {
            case Ch2Encoding::None:
                w.tempF = TextToSingle(w.field);
                break;
            case Ch2Encoding::Whole:
                w.ch2Whole = WholeNumber16(w.field);
                break;
            case Ch2Encoding::Hundredths:
                m_voltage = static_cast<float>(WholeNumber16(w.field) / 100.0);
                break;
            case Ch2Encoding::Tenths:
                w.current = static_cast<float>(WholeNumber16(w.field) / 10.0);
                break;
            }
        }
        w.field.clear();

        if (m_voltage > kMaxVoltage)
            m_voltage = 0;
        if (w.ch2Whole > kMaxWhole)
            w.ch2Whole = 0;

        if (!IsWellFormedId(w.lineId)) {
            w.resetLine();
            return;
        }
        SensorLine line;
        line.id = w.lineId;
        line.temperature = m_fahrenheit ? w.tempF : w.tempC;
        if (multi)
            fillMultiSensor(line, type);
        m_onLine(line);
        w.resetLine();
    }

    // What a multi-sensor line hands to the sensor table and to the history, by type code.
    void fillMultiSensor(SensorLine &line, const TypeCode *type) const
    {
        if (!type) {
            // A type code this program does not know: the history gets the temperature,
            // the sensor table is left alone.
            line.update = false;
            return;
        }
        std::optional<float> ch2;
        switch (type->encoding) {
        case Ch2Encoding::None:
            break;
        case Ch2Encoding::Whole:
            ch2 = w.ch2Whole;
            break;
        case Ch2Encoding::Hundredths:
            ch2 = m_voltage;
            break;
        case Ch2Encoding::Tenths:
            ch2 = w.current;
            break;
        }
        if (ch2) {
            line.ch2 = *ch2;
            line.logCh2 = *ch2;
        }
        if (type->hasWater) {
            line.water = w.water;
            line.logWater = w.water;
        }
    }

    const bool m_fahrenheit;
    const std::function<void(const SensorLine &)> &m_onLine;
    WorkingValues w;
    float m_voltage = 0;
};

} // namespace

void DecodeReply(const QString &rxBuffer, const QString &corF,
                 const std::function<void(const SensorLine &)> &onLine)
{
    ReplyDecoder decoder(corF, onLine);
    for (const QChar c : rxBuffer)
        decoder.feed(c);
}

} // namespace clarow
