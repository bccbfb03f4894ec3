#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace varnexsim {

// One sensor on the simulated bus and the values it reports.
struct Sensor
{
    QString address;   // 16 hexadecimal characters, as written in the scenario
    QString suffix;    // type code of a multi-sensor (family 26), field 2 of family 30
    double temp = 21.0; // degrees Celsius
    int decimals = 1;  // decimals the temperatures are written with
    double wander = 0; // amplitude of a slow swing of the temperature, degrees Celsius
    double phase = 0;  // where in its swing this sensor starts, 0 to 1
    int humidity = 50; // percent
    int voltage = 500; // hundredths of a volt
    int light = 50;    // percent
    int current = 200; // tenths of an ampere
    int fault = 0;     // water tape fault flag
    int wet = 0;       // water flag

    [[nodiscard]] QString family() const { return address.left(2); }
    // The reading line for "D", with its carriage return and line feed.
    [[nodiscard]] QByteArray readingLine(double seconds) const;
    // The inventory line for "I": address, blank, type code.
    [[nodiscard]] QByteArray inventoryLine() const;
};

// A misbehaviour of the adapter, for the next `times` replies it touches (-1: until changed).
struct Fault
{
    enum Kind { None, Silence, NoSensors, Error, Slow, Cut, LoaderSilent, LoaderStop, Noise, Unplug, Endless };
    Kind kind = None;
    int chunk = 0;  // Slow: characters per chunk
    int gapMs = 0;  // Slow: pause between chunks; Endless: between repeats of the lines
    int cutAt = -1; // Cut, Unplug: characters kept (-1: everything before "EOD")
    int noise = 0;  // Noise: characters of line noise before every line
    int awayMs = 0; // Unplug: how long the adapter stays unplugged
    int records = 0; // LoaderStop: records acknowledged before the loader falls silent
    int times = -1;
};

// One scenario line, understood.
struct Directive
{
    enum Kind { AddSensor, Set, Remove, SetFault, Version, UpgradeVersion, LoaderPrompt };
    Kind kind = AddSensor;
    Sensor sensor;      // AddSensor
    QString address;    // Set, Remove
    QStringList values; // Set: "key=value" texts
    Fault fault;        // SetFault
    QString text;       // Version, UpgradeVersion, LoaderPrompt
};

// A directive that waits for its moment: seconds since start, or readings answered.
struct Event
{
    double atSeconds = -1;
    int afterReadings = -1;
    Directive directive;
};

struct Scenario
{
    QList<Directive> immediate;
    QList<Event> events;
};

// Reads a scenario text; on failure returns nothing and sets error to "line N: reason".
[[nodiscard]] std::optional<Scenario> ParseScenario(const QString &text, QString *error);
// The bus that runs without a scenario: green under the monitor's default limits.
[[nodiscard]] Scenario DemoScenario();

// Text to send, due a number of milliseconds after the command that caused it.
struct Chunk
{
    QByteArray data;
    int delayMs = 0;
    // Sent again this many milliseconds after it went out, and again, until the adapter
    // receives its next character (-1: sent once).
    int repeatMs = -1;
};

// The adapter's behaviour: takes the characters the computer sends, answers as the adapter
// would. Time is given by the caller in seconds since start, so that it can be driven
// without a clock.
class Adapter
{
public:
    explicit Adapter(Scenario scenario);

    // Firmware text after "Varnex " in the identification line; a command-line override
    // beats the scenario.
    void overrideVersion(const QString &version);
    // Runs the timed events that are due.
    void advance(double seconds);
    // Feeds received characters; returns the reply chunks, in order.
    QList<Chunk> receive(const QByteArray &data, double seconds);
    // Seconds until the next timed event, or -1.
    [[nodiscard]] double nextEventIn(double seconds) const;
    [[nodiscard]] QString version() const { return m_version; }
    [[nodiscard]] const QList<Sensor> &sensors() const { return m_sensors; }
    // After a reply cut off by an unplug fault: how long the terminal stays away (0: no
    // unplug due). Asking clears it.
    [[nodiscard]] int takeUnplug();

private:
    void apply(const Directive &d);
    QList<Chunk> command(char c, double seconds);
    QList<Chunk> loaderLine(const QByteArray &line);
    QList<Chunk> reply(QByteArray text, bool reading);
    void writeType(const QByteArray &command);
    Sensor *find(const QString &address);
    void runReadingEvents();

    QList<Sensor> m_sensors;
    QList<Event> m_pending;
    Fault m_fault;
    Fault m_loaderFault;
    QString m_version = QStringLiteral("V1.0h");
    QString m_upgradeVersion = QStringLiteral("V1.0h");
    QByteArray m_loaderPrompt = QByteArrayLiteral("L10");
    std::optional<QString> m_versionOverride;
    double m_now = 0;
    int m_readings = 0;
    bool m_afterB = false;
    QByteArray m_typeWrite; // a "K07" command being collected
    bool m_inLoader = false;
    QByteArray m_loaderLine;
    int m_recordsAcked = 0;
    bool m_imageComplete = false;
    int m_unplugMs = 0;
};

// One line for the simulator's own log on standard error.
void Log(double seconds, const QString &text);

} // namespace varnexsim
