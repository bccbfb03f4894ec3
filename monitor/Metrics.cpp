#include "monitor/Metrics.h"

#include "core/Database.h"
#include "core/DiagnosticLog.h"
#include "core/Helpers.h"
#include "core/PortLoan.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "link/TypeCodes.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlQuery>

#include <cstdio>
#include <exception>

namespace clarow {

MetricCounters &metricCounters()
{
    static MetricCounters counters;
    return counters;
}

void ResetMetricCounters() { metricCounters() = MetricCounters(); }

void CountScan(const QDateTime &readAt)
{
    MetricCounters &c = metricCounters();
    ++c.scans;
    if (IsZeroDate(readAt) || !readAt.isValid())
        ++c.scansFailed;
    else
        c.lastCompleteReading = readAt;
}

void CountMail(bool sent)
{
    ++(sent ? metricCounters().mailsSent : metricCounters().mailsFailed);
}

namespace {

std::optional<double> number(const QVariant &v)
{
    if (v.isNull())
        return std::nullopt;
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok ? std::optional<double>(d) : std::nullopt;
}

// A label value with backslash, double quote and line feed escaped, so that a location
// typed by the user can never break the exposition. These are the only escapes the text
// format has; every other character, a carriage return included, stands as it is.
QString escapeLabel(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar ch : value) {
        if (ch == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (ch == QLatin1Char('"'))
            out += QLatin1String("\\\"");
        else if (ch == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else
            out += ch;
    }
    return out;
}

// Values as the shortest text that reads back as the stored single.
QString valueText(double v) { return SingleText(static_cast<float>(v)); }

class Exposition
{
public:
    void family(const char *name, const char *type, const char *help)
    {
        m_name = QLatin1String(name);
        m_text += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n").arg(m_name, QLatin1String(help), QLatin1String(type));
    }
    void sample(const QString &labels, const QString &value)
    {
        m_text += m_name;
        if (!labels.isEmpty())
            m_text += QLatin1Char('{') + labels + QLatin1Char('}');
        m_text += QLatin1Char(' ') + value + QLatin1Char('\n');
    }
    [[nodiscard]] QByteArray bytes() const { return m_text.toUtf8(); }

private:
    QString m_name;
    QString m_text;
};

QString sensorLabels(const SensorSample &s)
{
    return QStringLiteral("sensor=\"%1\",location=\"%2\"").arg(escapeLabel(s.sensor), escapeLabel(s.location));
}

// Every sensor with a value for the family, one sample each.
template<typename Pick>
void sensorFamily(Exposition &out, const QList<SensorSample> &sensors, const char *name, const char *type,
                  const char *help, Pick pick)
{
    out.family(name, type, help);
    for (const SensorSample &s : sensors) {
        QString extra;
        if (const std::optional<QString> value = pick(s, extra))
            out.sample(sensorLabels(s) + extra, *value);
    }
}

QString flag(bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); }

} // namespace

QList<SensorSample> LoadSensorSamples(const QString &corF)
{
    QList<SensorSample> rows;
    if (!DatabaseIsOpen())
        return rows;
    const bool fahrenheit = corF == QLatin1String("F");
    try {
        QSqlQuery q = Exec(QStringLiteral("SELECT SensorID, Location, cTmp, cCh2, wStatus, Connected, InAlarm, AlType "
                                          "FROM Sensors ORDER BY SensorID"));
        while (q.next()) {
            SensorSample s;
            s.sensor = q.value(0).toString();
            s.location = q.value(1).toString();
            s.celsius = number(q.value(2));
            // From the decimal the sensor reported (70.7 °F, not the single's 70.69999695),
            // so that 70.7 °F shows as the 21.5 °C it was.
            if (s.celsius && fahrenheit)
                *s.celsius = (SingleText(static_cast<float>(*s.celsius)).toDouble() - 32.0) * 5.0 / 9.0;
            const SensorKind &kind = KindOf(s.sensor);
            if (kind.hasCh2) {
                s.channel2 = number(q.value(3));
                s.channel2Kind = QLatin1String(kind.metricKind);
            }
            if (kind.hasWater && !q.value(4).isNull())
                s.water = q.value(4).toInt();
            s.connected = q.value(5).toInt() != 0;
            s.inAlarm = q.value(6).toInt() != 0;
            s.alarmType = q.value(7).toInt();
            rows << s;
        }
    } catch (const std::exception &) {
        // A database being rebuilt or compacted shows no sensors for this one request.
        rows.clear();
    }
    return rows;
}

QByteArray MetricsText(const QList<SensorSample> &sensors, const MetricCounters &c, const QString &version)
{
    Exposition out;
    using Extra = QString &;
    sensorFamily(out, sensors, "clarow_sensor_temperature_celsius", "gauge",
                 "Current temperature of the sensor in degrees Celsius.",
                 [](const SensorSample &s, Extra) -> std::optional<QString> {
                     return s.celsius ? std::optional(valueText(*s.celsius)) : std::nullopt;
                 });
    sensorFamily(out, sensors, "clarow_sensor_second_channel_value", "gauge",
                 "Current value of a multi-sensor's second channel; kind says what it measures.",
                 [](const SensorSample &s, Extra extra) -> std::optional<QString> {
                     if (!s.channel2)
                         return std::nullopt;
                     extra = QStringLiteral(",kind=\"%1\"").arg(escapeLabel(s.channel2Kind));
                     return valueText(*s.channel2);
                 });
    sensorFamily(out, sensors, "clarow_sensor_water_status", "gauge",
                 "Water status of a sensor with a water-leak tape as the sensor reports it.",
                 [](const SensorSample &s, Extra) -> std::optional<QString> {
                     return s.water ? std::optional(QString::number(*s.water)) : std::nullopt;
                 });
    sensorFamily(out, sensors, "clarow_sensor_connected", "gauge",
                 "1 when the sensor answered the last reading, else 0.",
                 [](const SensorSample &s, Extra) -> std::optional<QString> { return flag(s.connected); });
    sensorFamily(out, sensors, "clarow_sensor_in_alarm", "gauge", "1 while the sensor is in alarm, else 0.",
                 [](const SensorSample &s, Extra) -> std::optional<QString> { return flag(s.inAlarm); });
    sensorFamily(out, sensors, "clarow_sensor_alarm_type", "gauge",
                 "The sensor's alarm type (0 none, 9 disconnected).",
                 [](const SensorSample &s, Extra) -> std::optional<QString> {
                     return QString::number(s.alarmType);
                 });

    out.family("clarow_last_complete_reading_timestamp_seconds", "gauge",
               "Time of the last complete reading of the adapter, in seconds since the Unix epoch; 0 before the first.");
    out.sample({}, QString::number(c.lastCompleteReading.isValid() ? c.lastCompleteReading.toSecsSinceEpoch() : 0));
    out.family("clarow_scans_total", "counter", "Reading exchanges with the adapter since the program started.");
    out.sample({}, QString::number(c.scans));
    out.family("clarow_scans_failed_total", "counter", "Reading exchanges that gave no complete reading.");
    out.sample({}, QString::number(c.scansFailed));
    out.family("clarow_mails_sent_total", "counter", "Alarm mails the mail server accepted.");
    out.sample({}, QString::number(c.mailsSent));
    out.family("clarow_mails_failed_total", "counter", "Alarm mails that were due and could not be sent.");
    out.sample({}, QString::number(c.mailsFailed));
    out.family("clarow_build_info", "gauge", "The program's version; always 1.");
    out.sample(QStringLiteral("version=\"%1\"").arg(escapeLabel(version)), QStringLiteral("1"));
    return out.bytes();
}

QByteArray CurrentMetrics()
{
    return MetricsText(LoadSensorSamples(program().settings.CorF), metricCounters(),
                       QStringLiteral(CLAROW_VERSION));
}

std::optional<ListenAddress> ParseListenAddress(const QString &text, QString *error)
{
    const auto fail = [&](const QString &why) -> std::optional<ListenAddress> {
        if (error)
            *error = QStringLiteral("\"%1\" is not an address to listen on (HOST:PORT): %2").arg(text, why);
        return std::nullopt;
    };
    const QString t = text.trimmed();
    QString host;
    QString port;
    bool bracketed = false;
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(QStringLiteral("the closing bracket of the IPv6 address is missing."));
        if (close + 1 >= t.size() || t[close + 1] != QLatin1Char(':'))
            return fail(QStringLiteral("the port is missing; write it after the bracket, as [::1]:9464."));
        host = t.mid(1, close - 1);
        port = t.mid(close + 2);
        bracketed = true;
    } else {
        const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return fail(QStringLiteral("the port is missing."));
        host = t.left(colon);
        port = t.mid(colon + 1);
        if (host.contains(QLatin1Char(':')))
            return fail(QStringLiteral("write an IPv6 address in brackets, as [::1]:9464."));
    }
    if (host.isEmpty())
        return fail(QStringLiteral("the host is missing."));
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (!digits.match(port).hasMatch() || port.toUInt() > 65535)
        return fail(QStringLiteral("the port is not a number from 0 to 65535."));

    ListenAddress a;
    a.port = static_cast<quint16>(port.toUInt());
    if (bracketed) {
        // A zone ("%eth0") would need the interface looked up; a plain address says it all.
        if (host.contains(QLatin1Char('%')) || !a.host.setAddress(host)
            || a.host.protocol() != QAbstractSocket::IPv6Protocol)
            return fail(QStringLiteral("the host in brackets is not an IPv6 address."));
        return a;
    }
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        a.host = QHostAddress(QHostAddress::LocalHost);
        return a;
    }
    // Four decimal parts of 0 to 255, without leading zeros (which some tools read as octal).
    static const QRegularExpression quad(
        QStringLiteral("^(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})$"));
    const QRegularExpressionMatch m = quad.match(host);
    bool inRange = m.hasMatch();
    for (int i = 1; inRange && i <= 4; ++i)
        inRange = m.captured(i).toUInt() <= 255;
    if (!inRange) {
        static const QRegularExpression numeric(QStringLiteral("^[0-9a-fA-FxX.]+$"));
        if (numeric.match(host).hasMatch())
            return fail(QStringLiteral("write the IPv4 address with all four parts from 0 to 255, as 127.0.0.1."));
        return fail(QStringLiteral("the host is not an IP address (only the name localhost is accepted; "
                                   "names are not looked up)."));
    }
    a.host = QHostAddress(host);
    return a;
}

QString ListenAddressFor(const QStringList &arguments, const QString &option, const QString &key)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == option)
            return arguments.value(i + 1).trimmed();
        if (arguments[i].startsWith(option + QLatin1Char('=')))
            return arguments[i].mid(option.size() + 1).trimmed();
    }
    QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    return store.value(QStringLiteral("ClarowMon/") + key).toString().trimmed();
}

QString MetricsAddressFor(const QStringList &arguments)
{
    return ListenAddressFor(arguments, QStringLiteral("--metrics"), QStringLiteral("MetricsAddress"));
}

// The page the server hands out, replaced whole on the program's thread.
struct MetricsExporter::Page
{
    QMutex mutex;
    QByteArray text;
};

namespace {
// How often the page is brought up to date when no scan ran: edits of locations, the
// temperature unit.
constexpr int kRefreshCheckMs = 250;
constexpr int kRefreshAnywayMs = 2000;

quint64 countedChanges()
{
    const MetricCounters &c = metricCounters();
    return c.scans + c.mailsSent + c.mailsFailed;
}
} // namespace

MetricsExporter::MetricsExporter(const HttpLimits &limits, QObject *parent)
    : QObject(parent), m_limits(limits), m_page(std::make_shared<Page>())
{
    m_timer.setInterval(kRefreshCheckMs);
    connect(&m_timer, &QTimer::timeout, this, &MetricsExporter::refreshWhenDue);
}

MetricsExporter::~MetricsExporter()
{
    // The server's thread ends before the page goes.
    m_http.reset();
}

void MetricsExporter::refresh()
{
    m_countedChanges = countedChanges();
    QByteArray text = CurrentMetrics();
    m_built.start();
    const QMutexLocker lock(&m_page->mutex);
    m_page->text = std::move(text);
}

void MetricsExporter::refreshWhenDue()
{
    // A scan's waits let this timer run; the tables are read once the scan is over.
    if (PortBusy())
        return;
    if (countedChanges() != m_countedChanges || !m_built.isValid() || m_built.elapsed() >= kRefreshAnywayMs)
        refresh();
}

std::unique_ptr<HttpServer> ServeAt(const QString &address, const HttpLimits &limits,
                                    const std::function<void(HttpServer &)> &serve, QString &error)
{
    error.clear();
    const std::optional<ListenAddress> a = ParseListenAddress(address, &error);
    if (!a)
        return nullptr;
    auto http = std::make_unique<HttpServer>(limits);
    serve(*http);
    if (!http->listen(a->host, a->port)) {
        error = QStringLiteral("Cannot listen on %1: %2").arg(address, http->errorText());
        return nullptr;
    }
    return http;
}

bool MetricsExporter::listen(const QString &address)
{
    m_http = ServeAt(address, m_limits, [this](HttpServer &http) { serveOn(http); }, m_error);
    if (!m_http)
        m_timer.stop();
    return m_http != nullptr;
}

void MetricsExporter::serveOn(HttpServer &http)
{
    refresh();
    http.route(QByteArrayLiteral("/metrics"), [page = m_page] {
        HttpResponse r;
        r.contentType = QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8");
        const QMutexLocker lock(&page->mutex);
        r.body = page->text;
        return r;
    });
    m_timer.start();
}

bool MetricsExporter::listening() const { return m_http && m_http->listening(); }

quint16 MetricsExporter::port() const { return m_http ? m_http->port() : 0; }

std::unique_ptr<MetricsExporter> StartMetrics(const QStringList &arguments)
{
    const QString address = MetricsAddressFor(arguments);
    if (address.isEmpty())
        return nullptr;
    auto exporter = std::make_unique<MetricsExporter>();
    if (!exporter->listen(address)) {
        const QString text = QStringLiteral("Metrics not served. ") + exporter->errorText();
        std::fprintf(stderr, "clarow: %s\n", qPrintable(text));
        WriteLog(text);
        return nullptr;
    }
    const ListenAddress bound = *ParseListenAddress(address);
    QString host = bound.host.toString();
    if (bound.host.protocol() == QAbstractSocket::IPv6Protocol)
        host = QLatin1Char('[') + host + QLatin1Char(']');
    std::fprintf(stderr, "clarow: metrics at http://%s:%u/metrics\n", qPrintable(host), exporter->port());
    if (!bound.loopback()) {
        const QString text = QStringLiteral("Metrics are served beyond the loopback interface on %1: every "
                                            "machine that can reach this address can read them.")
                                 .arg(address.trimmed());
        std::fprintf(stderr, "clarow: %s\n", qPrintable(text));
        WriteLog(text);
    }
    std::fflush(stderr);
    return exporter;
}

} // namespace clarow
