#pragma once

#include "core/Settings.h"
#include "monitor/HttpServer.h"
#include "monitor/StatusGrid.h"
#include "views/LogData.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>

namespace clarow {

class MetricsExporter;

// Text as HTML character data or attribute value: & < > " ' are written as references, so a
// location typed by the user can never become markup.
[[nodiscard]] QString HtmlEscaped(const QString &text);
// "#rrggbb" of a colour setting in the 0xBBGGRR form.
[[nodiscard]] QString CssColour(qint32 bgr);

// The web page's password, stored as "pbkdf2-sha256$ITERATIONS$SALT$HASH" (salt and hash in
// base64): PBKDF2-HMAC-SHA256 with a random 16-byte salt and a 32-byte hash.
inline constexpr int kWebHashIterations = 100000;
[[nodiscard]] QString HashWebPassword(const QString &password, int iterations = kWebHashIterations);
// True when password gives the stored hash; compared in constant time. False for a stored
// text that is not such a hash (an empty one included).
[[nodiscard]] bool WebPasswordMatches(const QString &password, const QString &stored);
// True when the Authorization header's value is "Basic" with user:password that match.
[[nodiscard]] bool BasicAuthAccepts(const QByteArray &authorization, const QString &user, const QString &stored);

// Where the web page is served: "--web ADDRESS" or "--web=ADDRESS", else the setting
// WebAddress, else "" (not served). The address is written as for the metrics.
[[nodiscard]] QString WebAddressFor(const QStringList &arguments);

// Stores the hash of password as WebPasswordHash (and WebUser "clarow" when no user is set);
// the user name the page asks for, or nothing with the reason in error.
[[nodiscard]] std::optional<QString> StoreWebPassword(const QString &password, QString *error);

// What the pages show, taken on the program's thread.
struct WebState
{
    Settings settings;
    QString databasePath;
    QDateTime now;
    QDateTime lastCompleteReading; // invalid before the first
    int secondsToNextScan = -1;    // -1: no scan is scheduled (no adapter yet)
    QString problem;               // why the grid could not be read; empty when it was
    QList<StatusRow> rows;
};

// The pages and the script's data, built from a state.
[[nodiscard]] QByteArray GridPageHtml(const WebState &state);
[[nodiscard]] QByteArray SensorsJson(const WebState &state);
[[nodiscard]] QByteArray WebStyleSheet(const WebState &state);
[[nodiscard]] QByteArray WebScript();

// The chart of one channel: readings, the low and high limit lines, drawn as SVG. At most
// maxPoints points are drawn (the lowest and highest of each stretch of time).
struct ChartLine
{
    QString label;
    qint32 colour = 0;
};
[[nodiscard]] QByteArray ChartSvg(const LogData &data, bool secondChannel, const QString &title,
                                  const std::array<ChartLine, 3> &lines, int maxPoints = 720);

// The ranges the sensor page's chart offers: "24h", "7d", "30d"; their length in days (0 when
// the key is none of them).
[[nodiscard]] int ChartRangeDays(const QByteArray &key);

// Serves the read-only web page: / (the status grid), /app.css, /app.js, /api/sensors and
// /sensor/<id> with its chart and /sensor/<id>/export.csv. The grid is built on the program's
// thread after each scan and every few seconds besides; requests are answered from the last
// one built. The sensor pages read the history on the server's thread over a read-only
// connection of their own, so a request never waits for a scan and never holds a write lock.
class WebPage : public QObject
{
    Q_OBJECT
public:
    explicit WebPage(const HttpLimits &limits = {}, QObject *parent = nullptr);
    ~WebPage() override;

    bool listen(const QString &address);
    [[nodiscard]] bool listening() const;
    [[nodiscard]] quint16 port() const;
    [[nodiscard]] QString errorText() const { return m_error; }
    // True when a password is asked for.
    [[nodiscard]] bool protectedByPassword() const;

    // Takes the program's state now.
    void refresh();
    // Adds the page's routes to a server another part owns; before that server listens.
    void serveOn(HttpServer &http);

    struct Shared;

private:
    void refreshWhenDue();

    HttpLimits m_limits;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<HttpServer> m_http;
    QTimer m_timer;
    QElapsedTimer m_built;
    quint64 m_seenScans = 0;
    QString m_error;
};

// The metrics exporter and the web page as the settings and the command line ask: one server
// when both have the same address. The servers stop before the pages go.
struct HttpServices
{
    std::unique_ptr<MetricsExporter> metrics;
    std::unique_ptr<WebPage> web;
    std::unique_ptr<HttpServer> shared;
    ~HttpServices();
};
// Starts what is asked for and tells on standard error where it serves, and on standard error
// and in the diagnostic log why it cannot or that it serves beyond the loopback interface.
// The program runs on either way.
[[nodiscard]] std::unique_ptr<HttpServices> StartHttpServices(const QStringList &arguments);

} // namespace clarow
