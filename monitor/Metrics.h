#pragma once

#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QHttpServer;
class QTcpServer;

namespace clarow {

// What the program counts for the monitoring stacks that scrape it, since it started.
struct MetricCounters
{
    quint64 scans = 0;        // reading exchanges attempted
    quint64 scansFailed = 0;  // of those, the ones that gave no complete reading
    quint64 mailsSent = 0;    // alarm mails the server accepted
    quint64 mailsFailed = 0;  // alarm mails that were due and did not go out
    QDateTime lastCompleteReading; // invalid until the first complete reading
};
[[nodiscard]] MetricCounters &metricCounters();
void ResetMetricCounters();
// Called by the scan cycle after each exchange (readAt: the zero date when it failed) and
// by the alarm mail after each mail that was due.
void CountScan(const QDateTime &readAt);
void CountMail(bool sent);

// One row of table Sensors as the exporter shows it.
struct SensorSample
{
    QString sensor;
    QString location;
    std::optional<double> celsius;
    std::optional<double> channel2;
    QString channel2Kind; // "humidity", "voltage", "light", "current"; empty: none
    std::optional<int> water;
    bool connected = false;
    bool inAlarm = false;
    int alarmType = 0;
};

// The rows of table Sensors on the program's connection, temperatures in °C whatever the
// setting CorF shows. Empty when the connection is not open or the query fails.
[[nodiscard]] QList<SensorSample> LoadSensorSamples(const QString &corF);

// The Prometheus text exposition (format 0.0.4) of the sensors and the counters.
[[nodiscard]] QByteArray MetricsText(const QList<SensorSample> &sensors, const MetricCounters &counters,
                                     const QString &version);
// The exposition of the program's state now.
[[nodiscard]] QByteArray CurrentMetrics();

// "HOST:PORT" ("[::1]:9464", "localhost:9464"; port 0 picks a free port). Nothing, with the
// reason in error, when the text is not such an address.
struct ListenAddress
{
    QHostAddress host;
    quint16 port = 0;
};
[[nodiscard]] std::optional<ListenAddress> ParseListenAddress(const QString &text, QString *error = nullptr);

// Where the exporter serves: the value of "--metrics ADDRESS" or "--metrics=ADDRESS" among the
// program's arguments, else the setting MetricsAddress, else "" (nothing is served).
[[nodiscard]] QString MetricsAddressFor(const QStringList &arguments);

// Serves GET /metrics over HTTP on one address, from the program's event loop. Each request
// reads the Sensors table once and answers at once; it never waits on the adapter or the
// mail server, so it holds up neither the scans nor the windows.
class MetricsExporter : public QObject
{
    Q_OBJECT
public:
    explicit MetricsExporter(QObject *parent = nullptr);
    ~MetricsExporter() override;

    // Starts listening on the address; false with errorText() when it cannot.
    bool listen(const QString &address);
    [[nodiscard]] bool listening() const;
    [[nodiscard]] quint16 port() const;
    [[nodiscard]] QString errorText() const { return m_error; }

private:
    std::unique_ptr<QHttpServer> m_http;
    QTcpServer *m_tcp = nullptr; // owned by m_http once bound
    QString m_error;
};

// Starts the exporter where MetricsAddressFor(arguments) says, and tells on standard error
// and in the diagnostic log where it serves or why it cannot. Null when nothing is served;
// the program runs on either way.
[[nodiscard]] std::unique_ptr<MetricsExporter> StartMetrics(const QStringList &arguments);

} // namespace clarow
