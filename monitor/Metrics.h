#pragma once

#include "monitor/HttpServer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

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

// "HOST:PORT" with an explicit port (0 picks a free one). HOST is an IPv4 address written
// with all four parts ("127.0.0.1", "0.0.0.0"), an IPv6 address in brackets ("[::1]") or
// "localhost", which always means 127.0.0.1 and is never looked up. Shorthands that address
// parsers read in surprising ways ("0", "127.1", "0x7f.1", "010.0.0.1") and other host names
// are refused: the address the user wrote is exactly the one that listens. Nothing, with the
// reason in error, when the text is not such an address.
struct ListenAddress
{
    QHostAddress host;
    quint16 port = 0;
    // False when machines other than this one may connect.
    [[nodiscard]] bool loopback() const { return host.isLoopback(); }
};
[[nodiscard]] std::optional<ListenAddress> ParseListenAddress(const QString &text, QString *error = nullptr);

// An HTTP server within limits on address (as ParseListenAddress takes it), with the routes
// that serve adds; nothing, with the reason in error, when the address is refused or cannot be
// bound.
[[nodiscard]] std::unique_ptr<HttpServer> ServeAt(const QString &address, const HttpLimits &limits,
                                                  const std::function<void(HttpServer &)> &serve,
                                                  QString &error);

// Where the exporter serves: the value of "--metrics ADDRESS" or "--metrics=ADDRESS" among the
// program's arguments, else the setting MetricsAddress, else "" (nothing is served).
[[nodiscard]] QString MetricsAddressFor(const QStringList &arguments);
// The same rule for any served address: the value of "--OPTION ADDRESS" or "--OPTION=ADDRESS"
// among the arguments, else the setting key of the ClarowMon group, else "".
[[nodiscard]] QString ListenAddressFor(const QStringList &arguments, const QString &option, const QString &key);

// Serves GET /metrics over HTTP on one address, within the server's limits. The page is
// built on the program's thread, which owns the database, whenever no scan is running: right
// after each scan and every few seconds besides (an edited location, another temperature
// unit). Requests are answered from the last page built, on the server's own thread, so a
// scrape never waits for a scan and a scan never waits for a scrape.
class MetricsExporter : public QObject
{
    Q_OBJECT
public:
    explicit MetricsExporter(const HttpLimits &limits = {}, QObject *parent = nullptr);
    ~MetricsExporter() override;

    // Starts listening on the address; false with errorText() when it cannot.
    bool listen(const QString &address);
    [[nodiscard]] bool listening() const;
    [[nodiscard]] quint16 port() const;
    [[nodiscard]] QString errorText() const { return m_error; }

    // Builds the page from the program's state now.
    void refresh();
    // Serves /metrics on a server another part of the program owns and listens with (one
    // address for the metrics and the web page); called before that server listens.
    void serveOn(HttpServer &http);

    struct Page;

private:
    void refreshWhenDue();

    HttpLimits m_limits;
    std::shared_ptr<Page> m_page;
    std::unique_ptr<HttpServer> m_http;
    QTimer m_timer;
    QElapsedTimer m_built;
    quint64 m_countedChanges = 0;
    QString m_error;
};

// Starts the exporter where MetricsAddressFor(arguments) says, and tells on standard error
// where it serves, and on standard error and in the diagnostic log why it cannot or that it
// serves beyond the loopback interface. Null when nothing is served;
// the program runs on either way.
[[nodiscard]] std::unique_ptr<MetricsExporter> StartMetrics(const QStringList &arguments);

} // namespace clarow
