#include "monitor/Metrics.h"

#include "link/Clock.h"
#include "shell/Database.h"
#include "shell/DiagnosticLog.h"
#include "shell/Helpers.h"
#include "shell/Program.h"
#include "views/SensorKind.h"

#include <QCoreApplication>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QSettings>
#include <QSqlQuery>
#include <QTcpServer>

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

// The second channel's kind as a label value, from what the sensor's type measures.
QString kindLabel(const QString &caption)
{
    const QString c = caption.toLower();
    if (c.contains(QLatin1String("current")))
        return QStringLiteral("current");
    return c.simplified().replace(QLatin1Char(' '), QLatin1Char('_'));
}

std::optional<double> number(const QVariant &v)
{
    if (v.isNull())
        return std::nullopt;
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok ? std::optional<double>(d) : std::nullopt;
}

// A label value with backslash, double quote and line feed escaped, so that a location
// typed by the user can never break the exposition.
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
        else if (ch == QLatin1Char('\r'))
            out += QLatin1String("\\r");
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
            const SensorKind kind = KindOf(s.sensor);
            if (kind.hasCh2) {
                s.channel2 = number(q.value(3));
                s.channel2Kind = kindLabel(kind.ch2Caption);
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
    const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return fail(QStringLiteral("the host or the port is missing."));
    QString host = t.left(colon);
    bool ok = false;
    const uint port = t.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535)
        return fail(QStringLiteral("the port is not a number from 0 to 65535."));
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return fail(QStringLiteral("write an IPv6 address in brackets, as [::1]:9464."));
    ListenAddress a;
    a.port = static_cast<quint16>(port);
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        a.host = QHostAddress(QHostAddress::LocalHost);
    else if (!a.host.setAddress(host))
        return fail(QStringLiteral("the host is not an IP address."));
    return a;
}

QString MetricsAddressFor(const QStringList &arguments)
{
    const QString option = QStringLiteral("--metrics");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == option)
            return arguments.value(i + 1).trimmed();
        if (arguments[i].startsWith(option + QLatin1Char('=')))
            return arguments[i].mid(option.size() + 1).trimmed();
    }
    QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    return store.value(QStringLiteral("ClarowMon/MetricsAddress")).toString().trimmed();
}

MetricsExporter::MetricsExporter(QObject *parent) : QObject(parent) {}

MetricsExporter::~MetricsExporter() = default;

bool MetricsExporter::listen(const QString &address)
{
    m_error.clear();
    const std::optional<ListenAddress> a = ParseListenAddress(address, &m_error);
    if (!a)
        return false;
    auto http = std::make_unique<QHttpServer>();
    auto *tcp = new QTcpServer(http.get());
    if (!tcp->listen(a->host, a->port)) {
        m_error = QStringLiteral("Cannot listen on %1: %2").arg(address, tcp->errorString());
        return false;
    }
    http->route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get, [] {
        return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"), CurrentMetrics());
    });
    http->bind(tcp);
    m_http = std::move(http);
    m_tcp = tcp;
    return true;
}

bool MetricsExporter::listening() const { return m_tcp && m_tcp->isListening(); }

quint16 MetricsExporter::port() const { return m_tcp ? m_tcp->serverPort() : 0; }

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
    const QHostAddress bound = ParseListenAddress(address)->host;
    QString host = bound.toString();
    if (bound.protocol() == QAbstractSocket::IPv6Protocol)
        host = QLatin1Char('[') + host + QLatin1Char(']');
    std::fprintf(stderr, "clarow: metrics at http://%s:%u/metrics\n", qPrintable(host), exporter->port());
    std::fflush(stderr);
    return exporter;
}

} // namespace clarow
