#include "Adapter.h"

#include <utility>

#include <QRegularExpression>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace varnexsim {

namespace {

// The temperature swing of `wander` takes ten minutes.
constexpr double kWanderPeriodSeconds = 600.0;
constexpr int kLongestLoaderLine = 1024;
const QByteArray kEod = QByteArrayLiteral("EOD\r\n");
const QByteArray kNoSensors = QByteArrayLiteral("?01\r\n");

bool IsAddress(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{16}$"));
    return hex.match(text).hasMatch();
}

QString Number(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    // A value that rounds to nothing is written as 0, never as "-0.0".
    if (text.startsWith(QLatin1Char('-')) && text.toDouble() == 0.0)
        text.remove(0, 1);
    return text;
}

bool SetValue(Sensor &s, const QString &keyValue, QString *error)
{
    const qsizetype eq = keyValue.indexOf(QLatin1Char('='));
    const QString key = keyValue.left(eq).toLower();
    const QString value = keyValue.mid(eq + 1);
    bool ok = false;
    if (key == QLatin1String("temp") || key == QLatin1String("wander")) {
        const double v = value.toDouble(&ok);
        if (ok && key == QLatin1String("temp")) {
            s.temp = v;
            const qsizetype dot = value.indexOf(QLatin1Char('.'));
            s.decimals = dot < 0 ? 1 : int(std::clamp<qsizetype>(value.size() - dot - 1, 1, 4));
        } else if (ok) {
            s.wander = v;
        }
    } else {
        const int v = value.toInt(&ok);
        int *field = key == QLatin1String("humidity") ? &s.humidity
                   : key == QLatin1String("voltage")  ? &s.voltage
                   : key == QLatin1String("light")    ? &s.light
                   : key == QLatin1String("current")  ? &s.current
                   : key == QLatin1String("fault")    ? &s.fault
                   : key == QLatin1String("wet")      ? &s.wet
                                                      : nullptr;
        if (!field) {
            *error = QStringLiteral("unknown value \"%1\"").arg(key);
            return false;
        }
        if (ok)
            *field = v;
    }
    if (eq < 0 || !ok) {
        *error = QStringLiteral("\"%1\" is not key=number").arg(keyValue);
        return false;
    }
    return true;
}

bool ParseInt(const QString &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= 0;
}

std::optional<Fault> ParseFault(QStringList args, QString *error)
{
    Fault f;
    if (!args.isEmpty() && args.last().startsWith(QLatin1String("times="))) {
        if (!ParseInt(args.takeLast().mid(6), &f.times) || f.times == 0) {
            *error = QStringLiteral("times= needs a count of 1 or more");
            return std::nullopt;
        }
    }
    if (args.isEmpty()) {
        *error = QStringLiteral("fault needs a kind");
        return std::nullopt;
    }
    const QString kind = args.takeFirst().toLower();
    bool ok = true;
    if (kind == QLatin1String("none")) {
        f.kind = Fault::None;
        ok = args.isEmpty();
    } else if (kind == QLatin1String("silence")) {
        f.kind = Fault::Silence;
        ok = args.isEmpty();
    } else if (kind == QLatin1String("no-sensors")) {
        f.kind = Fault::NoSensors;
        ok = args.isEmpty();
    } else if (kind == QLatin1String("error")) {
        f.kind = Fault::Error;
        ok = args.isEmpty();
    } else if (kind == QLatin1String("slow")) {
        f.kind = Fault::Slow;
        ok = args.size() == 2 && ParseInt(args[0], &f.chunk) && f.chunk > 0
             && ParseInt(args[1], &f.gapMs);
    } else if (kind == QLatin1String("cut")) {
        f.kind = Fault::Cut;
        ok = args.isEmpty() || (args.size() == 1 && ParseInt(args[0], &f.cutAt));
    } else if (kind == QLatin1String("noise")) {
        f.kind = Fault::Noise;
        ok = args.size() == 1 && ParseInt(args[0], &f.noise);
    } else if (kind == QLatin1String("unplug")) {
        f.kind = Fault::Unplug;
        double seconds = 0;
        ok = args.size() == 2 && ParseInt(args[0], &f.cutAt);
        if (ok) {
            seconds = args[1].toDouble(&ok);
            ok = ok && seconds >= 0;
        }
        f.awayMs = int(seconds * 1000);
    } else if (kind == QLatin1String("endless")) {
        f.kind = Fault::Endless;
        ok = args.isEmpty() || (args.size() == 1 && ParseInt(args[0], &f.gapMs) && f.gapMs >= 0);
    } else if (kind == QLatin1String("loader-silent")) {
        f.kind = Fault::LoaderSilent;
        ok = args.isEmpty();
    } else if (kind == QLatin1String("loader-stop")) {
        f.kind = Fault::LoaderStop;
        ok = args.size() == 1 && ParseInt(args[0], &f.records);
    } else {
        *error = QStringLiteral("unknown fault \"%1\"").arg(kind);
        return std::nullopt;
    }
    if (!ok) {
        *error = QStringLiteral("wrong arguments for fault %1").arg(kind);
        return std::nullopt;
    }
    return f;
}

std::optional<Directive> ParseDirective(QStringList t, QString *error)
{
    Directive d;
    const QString word = t.takeFirst().toLower();
    if (word == QLatin1String("version") || word == QLatin1String("upgrade-version")
        || word == QLatin1String("loader-prompt")) {
        d.kind = word == QLatin1String("version")           ? Directive::Version
                 : word == QLatin1String("upgrade-version") ? Directive::UpgradeVersion
                                                            : Directive::LoaderPrompt;
        d.text = t.join(QLatin1Char(' '));
        if (d.text.isEmpty()) {
            *error = QStringLiteral("%1 needs a text").arg(word);
            return std::nullopt;
        }
        return d;
    }
    if (word == QLatin1String("fault")) {
        d.kind = Directive::SetFault;
        const auto f = ParseFault(t, error);
        if (!f)
            return std::nullopt;
        d.fault = *f;
        return d;
    }
    if (word != QLatin1String("sensor") && word != QLatin1String("set")
        && word != QLatin1String("remove")) {
        *error = QStringLiteral("unknown directive \"%1\"").arg(word);
        return std::nullopt;
    }
    if (t.isEmpty() || !IsAddress(t.first())) {
        *error = QStringLiteral("%1 needs a sensor address of 16 hexadecimal characters").arg(word);
        return std::nullopt;
    }
    d.address = t.takeFirst();
    if (word == QLatin1String("remove")) {
        d.kind = Directive::Remove;
        if (!t.isEmpty()) {
            *error = QStringLiteral("remove takes only an address");
            return std::nullopt;
        }
        return d;
    }
    Sensor &s = d.sensor;
    s.address = d.address;
    if (word == QLatin1String("sensor")) {
        d.kind = Directive::AddSensor;
        const bool hasSuffix = s.family() == QLatin1String("26") || s.family() == QLatin1String("30");
        if (!t.isEmpty() && !t.first().contains(QLatin1Char('='))) {
            if (!hasSuffix || t.first().size() != 2) {
                *error = QStringLiteral("only family 26 and 30 sensors take a two-character type");
                return std::nullopt;
            }
            s.suffix = t.takeFirst();
        } else if (hasSuffix) {
            s.suffix = QStringLiteral("00");
        }
    } else {
        d.kind = Directive::Set;
        if (t.isEmpty()) {
            *error = QStringLiteral("set needs at least one key=value");
            return std::nullopt;
        }
    }
    for (const QString &kv : std::as_const(t)) {
        if (!SetValue(s, kv, error))
            return std::nullopt;
    }
    d.values = t;
    return d;
}

} // namespace

QByteArray Sensor::readingLine(double seconds) const
{
    const double c =
        temp + wander * std::sin(2 * std::numbers::pi * (seconds / kWanderPeriodSeconds + phase));
    QString line = address;
    if (family() == QLatin1String("26"))
        line += QLatin1Char(' ') + suffix;
    else if (family() == QLatin1String("30"))
        line += QLatin1Char(',') + suffix;
    line += QLatin1Char(',') + Number(c, decimals) + QLatin1Char(',')
            + Number(c * 9.0 / 5.0 + 32.0, decimals);
    if (family() == QLatin1String("26")) {
        const QString type = suffix.toUpper();
        const QString f = QString::number(fault), w = QString::number(wet);
        if (type == QLatin1String("19"))
            line += QStringLiteral(",%1").arg(humidity);
        else if (type == QLatin1String("1A"))
            line += QStringLiteral(",%1").arg(voltage);
        else if (type == QLatin1String("1B"))
            line += QStringLiteral(",%1").arg(light);
        else if (type == QLatin1String("1C"))
            line += QStringLiteral(",%1").arg(current);
        else if (type == QLatin1String("1D"))
            line += QStringLiteral(",%1,%2").arg(f, w);
        else if (type == QLatin1String("1E"))
            line += QStringLiteral(",%1,%2,%3").arg(QString::number(humidity), f, w);
    }
    return line.toLatin1() + "\r\n";
}

QByteArray Sensor::inventoryLine() const
{
    return (address + QLatin1Char(' ') + suffix).toLatin1() + "\r\n";
}

std::optional<Scenario> ParseScenario(const QString &text, QString *error)
{
    Scenario scenario;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        line.truncate(line.indexOf(QLatin1Char('#')) < 0 ? line.size() : line.indexOf(QLatin1Char('#')));
        QStringList t = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (t.isEmpty())
            continue;
        QString why;
        Event event;
        const QString word = t.first().toLower();
        if (word == QLatin1String("at") || word == QLatin1String("after")) {
            bool ok = false;
            const double when = t.size() > 2 ? t[1].toDouble(&ok) : 0;
            if (!ok || when < 0) {
                *error = QStringLiteral("line %1: %2 needs a number and a directive").arg(i + 1).arg(word);
                return std::nullopt;
            }
            if (word == QLatin1String("at"))
                event.atSeconds = when;
            else
                event.afterReadings = int(when);
            t = t.mid(2);
        }
        const auto d = ParseDirective(t, &why);
        if (!d) {
            *error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return std::nullopt;
        }
        event.directive = *d;
        if (event.atSeconds < 0 && event.afterReadings < 0)
            scenario.immediate.append(*d);
        else
            scenario.events.append(event);
    }
    return scenario;
}

Scenario DemoScenario()
{
    // Inside the monitor's default limits for new sensors: temperature 32 to 50, second
    // channel 20 to 80. A voltage sensor ("1A") reads at most 10 V and would start in alarm,
    // so it is left to scenarios.
    static const char *demo = R"(
sensor 28FF4A1C62160344 temp=36.5 wander=0.8
sensor 28FF0B7D63160321 temp=38.0 wander=0.6
sensor 2861C3A5050000B7 temp=37.2 wander=1.0
sensor 26A3F8010000009C 00 temp=36.0 wander=0.5
sensor 26B14F0200000041 19 temp=37.5 wander=0.5 humidity=50
sensor 26C7720200000088 1B temp=36.8 wander=0.5 light=45
sensor 26D0130300000012 1C temp=38.2 wander=0.5 current=350
sensor 26E55A0300000065 1D temp=37.0 wander=0.5 fault=0 wet=0
sensor 26F2E80300000033 1E temp=36.2 wander=0.5 humidity=55 fault=0 wet=0
)";
    QString error;
    return *ParseScenario(QString::fromLatin1(demo), &error);
}

Adapter::Adapter(Scenario scenario)
    : m_pending(scenario.events)
{
    for (const Directive &d : std::as_const(scenario.immediate))
        apply(d);
}

void Adapter::overrideVersion(const QString &version)
{
    m_version = version;
}

Sensor *Adapter::find(const QString &address)
{
    for (Sensor &s : m_sensors) {
        if (s.address.compare(address, Qt::CaseInsensitive) == 0)
            return &s;
    }
    return nullptr;
}

void Adapter::apply(const Directive &d)
{
    QString ignored;
    switch (d.kind) {
    case Directive::AddSensor:
        if (Sensor *s = find(d.address)) {
            *s = d.sensor;
        } else {
            m_sensors.append(d.sensor);
            m_sensors.last().phase = std::fmod(0.37 * (m_sensors.size() - 1), 1.0);
        }
        break;
    case Directive::Set:
        if (Sensor *s = find(d.address)) {
            for (const QString &kv : d.values)
                SetValue(*s, kv, &ignored);
        }
        break;
    case Directive::Remove:
        m_sensors.removeIf([&](const Sensor &s) {
            return s.address.compare(d.address, Qt::CaseInsensitive) == 0;
        });
        break;
    case Directive::SetFault:
        if (d.fault.kind == Fault::LoaderSilent || d.fault.kind == Fault::LoaderStop) {
            m_loaderFault = d.fault;
        } else {
            m_fault = d.fault;
            if (d.fault.kind == Fault::None)
                m_loaderFault = {};
        }
        break;
    case Directive::Version:
        m_version = d.text;
        break;
    case Directive::UpgradeVersion:
        m_upgradeVersion = d.text;
        break;
    case Directive::LoaderPrompt:
        m_loaderPrompt = d.text.toLatin1();
        break;
    }
}

void Adapter::advance(double seconds)
{
    for (qsizetype i = 0; i < m_pending.size();) {
        if (m_pending[i].atSeconds >= 0 && m_pending[i].atSeconds <= seconds) {
            Log(seconds, QStringLiteral("scenario event at %1 s").arg(m_pending[i].atSeconds));
            apply(m_pending.takeAt(i).directive);
        } else {
            ++i;
        }
    }
}

void Adapter::runReadingEvents()
{
    for (qsizetype i = 0; i < m_pending.size();) {
        if (m_pending[i].afterReadings >= 0 && m_pending[i].afterReadings <= m_readings)
            apply(m_pending.takeAt(i).directive);
        else
            ++i;
    }
}

double Adapter::nextEventIn(double seconds) const
{
    double next = -1;
    for (const Event &e : m_pending) {
        if (e.atSeconds >= 0 && (next < 0 || e.atSeconds - seconds < next))
            next = std::max(0.0, e.atSeconds - seconds);
    }
    return next;
}

QList<Chunk> Adapter::receive(const QByteArray &data, double seconds)
{
    advance(seconds);
    m_now = seconds;
    QList<Chunk> out;
    for (const char c : data) {
        if (m_inLoader) {
            if (c == '\r') {
                out += loaderLine(m_loaderLine);
                m_loaderLine.clear();
            } else if (c == 'E' && m_loaderLine.isEmpty()) {
                m_inLoader = false;
                if (m_imageComplete)
                    m_version = m_upgradeVersion;
                Log(seconds, QStringLiteral("E: left the loader after %1 records; firmware %2")
                                 .arg(m_recordsAcked).arg(m_version));
            } else if (c != '\n' && m_loaderLine.size() < kLongestLoaderLine) {
                m_loaderLine += c;
            }
        } else if (!m_typeWrite.isEmpty()) {
            m_typeWrite += c;
            if (m_typeWrite.size() == 21) {
                writeType(m_typeWrite);
                m_typeWrite.clear();
            }
        } else {
            out += command(c, seconds);
        }
    }
    return out;
}

QList<Chunk> Adapter::command(char c, double seconds)
{
    switch (c) {
    case 'D': {
        QByteArray text;
        for (const Sensor &s : std::as_const(m_sensors))
            text += s.readingLine(seconds);
        text = m_sensors.isEmpty() ? kNoSensors : text + kEod;
        ++m_readings;
        QList<Chunk> out = reply(text, true);
        Log(seconds, QStringLiteral("D: reading %1, %2 sensors%3")
                         .arg(m_readings).arg(m_sensors.size())
                         .arg(out.isEmpty() ? QStringLiteral(", no reply") : QString()));
        runReadingEvents();
        return out;
    }
    case 'b':
        m_afterB = true;
        Log(seconds, QStringLiteral("b"));
        return {};
    case ' ': {
        const QByteArray line = "Varnex " + m_version.toLatin1() + "\r\n";
        Log(seconds, QStringLiteral("%1identification: Varnex %2")
                         .arg(m_afterB ? QStringLiteral("b, blank: ") : QStringLiteral("blank: "), m_version));
        m_afterB = false;
        return reply(line, false);
    }
    case 'I': {
        QByteArray text;
        for (const Sensor &s : std::as_const(m_sensors)) {
            if (s.family() == QLatin1String("26"))
                text += s.inventoryLine();
        }
        Log(seconds, QStringLiteral("I: inventory of %1 multi-sensors").arg(text.count('\n')));
        return reply(m_sensors.isEmpty() ? kNoSensors : text + kEod, true);
    }
    case 'K':
        m_typeWrite = "K";
        return {};
    case 'Z':
        if (m_loaderFault.kind == Fault::LoaderSilent) {
            Log(seconds, QStringLiteral("Z: the loader does not start"));
            return {};
        }
        m_inLoader = true;
        m_loaderLine.clear();
        m_recordsAcked = 0;
        m_imageComplete = false;
        Log(seconds, QStringLiteral("Z: loader entered"));
        return {};
    default:
        // Commands carry no line ending; one that arrives is logged like any stray character.
        Log(seconds, QStringLiteral("ignored character %1").arg(int(uchar(c))));
        return {};
    }
}

void Adapter::writeType(const QByteArray &command)
{
    const QString text = QString::fromLatin1(command);
    if (!text.startsWith(QLatin1String("K07"))) {
        Log(m_now, QStringLiteral("ignored command %1").arg(text));
        return;
    }
    Sensor *s = find(text.mid(3, 16));
    if (!s || s->family() != QLatin1String("26")) {
        Log(m_now, QStringLiteral("K07: no multi-sensor %1 on the bus").arg(text.mid(3, 16)));
        return;
    }
    s->suffix = text.mid(19, 2);
    Log(m_now, QStringLiteral("K07: %1 is now type %2").arg(s->address, s->suffix));
}

QList<Chunk> Adapter::loaderLine(const QByteArray &line)
{
    if (m_loaderFault.kind == Fault::LoaderSilent)
        return {};
    if (!line.startsWith(':'))
        return {{m_loaderPrompt + "\r\n", 0}};
    if (m_loaderFault.kind == Fault::LoaderStop && m_recordsAcked >= m_loaderFault.records) {
        Log(m_now, QStringLiteral("loader: record %1 unanswered").arg(QString::fromLatin1(line)));
        return {};
    }
    // An Intel HEX record: ":", then byte pairs whose sum, the checksum included, is 0.
    static const QRegularExpression hexPairs(QStringLiteral("^:([0-9A-Fa-f]{2}){5,}$"));
    const QByteArray bytes = QByteArray::fromHex(line.mid(1));
    bool valid = hexPairs.match(QString::fromLatin1(line)).hasMatch()
                 && bytes.size() == uchar(bytes[0]) + 5;
    unsigned sum = 0;
    for (const char b : bytes)
        sum += uchar(b);
    valid = valid && (sum & 0xFF) == 0;
    if (!valid) {
        Log(m_now, QStringLiteral("loader: bad record %1").arg(QString::fromLatin1(line)));
        return {{QByteArrayLiteral("?"), 0}};
    }
    ++m_recordsAcked;
    Log(m_now, QStringLiteral("loader: record %1").arg(QString::fromLatin1(line)));
    if (bytes[3] == 1)
        m_imageComplete = true;
    return {{QByteArrayLiteral("."), 0}};
}

QList<Chunk> Adapter::reply(QByteArray text, bool reading)
{
    Fault &f = m_fault;
    const bool applies = f.kind == Fault::Silence || f.kind == Fault::Slow
                         || (reading && (f.kind == Fault::NoSensors || f.kind == Fault::Error
                                         || f.kind == Fault::Cut || f.kind == Fault::Noise
                                         || f.kind == Fault::Unplug || f.kind == Fault::Endless));
    if (!applies)
        return {{text, 0}};
    QList<Chunk> out;
    switch (f.kind) {
    case Fault::NoSensors:
        out = {{kNoSensors, 0}};
        break;
    case Fault::Error:
        if (text.endsWith(kEod))
            text.chop(kEod.size());
        out = {{text + "?\r\n", 0}};
        break;
    case Fault::Cut:
        if (f.cutAt >= 0)
            text.truncate(f.cutAt);
        else if (text.endsWith(kEod))
            text.chop(kEod.size());
        out = {{text, 0}};
        break;
    case Fault::Noise: {
        // Characters a disturbed line delivers that mean nothing in a reply: NUL, bytes above
        // 127, control characters and lower-case letters, never a digit, "A" to "F", a
        // separator, a carriage return or a "?".
        static const char kBytes[] = "\0\xff\x80\x07\tqxyz\0\xfe\x1b\xa0ghjk\0";
        static const QByteArray kNoise(kBytes, sizeof kBytes - 1);
        QByteArray noisy;
        for (const QByteArray &line : text.split('\n')) {
            if (line.isEmpty())
                continue;
            for (int i = 0; i < f.noise; ++i)
                noisy += kNoise[i % kNoise.size()];
            noisy += line + '\n';
        }
        out = {{noisy, 0}};
        break;
    }
    case Fault::Endless:
        // The lines over and over, never "EOD".
        if (text.endsWith(kEod))
            text.chop(kEod.size());
        out = {{text, 0, f.gapMs}};
        break;
    case Fault::Unplug:
        text.truncate(f.cutAt);
        out = {{text, 0}};
        m_unplugMs = std::max(1, f.awayMs);
        break;
    case Fault::Slow:
        for (qsizetype i = 0; i < text.size(); i += f.chunk)
            out.append({text.mid(i, f.chunk), int(i / f.chunk) * f.gapMs});
        break;
    default: // Silence
        break;
    }
    if (f.times > 0 && --f.times == 0)
        f = {};
    return out;
}

int Adapter::takeUnplug()
{
    return std::exchange(m_unplugMs, 0);
}

void Log(double seconds, const QString &text)
{
    std::fprintf(stderr, "[%8.1f] %s\n", seconds, qPrintable(text));
    std::fflush(stderr);
}

} // namespace varnexsim
