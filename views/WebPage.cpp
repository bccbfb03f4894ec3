#include "views/WebPage.h"

#include "core/Database.h"
#include "core/DateFormat.h"
#include "core/DiagnosticLog.h"
#include "core/Errors.h"
#include "core/Helpers.h"
#include "core/PortLoan.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "link/TypeCodes.h"
#include "monitor/Metrics.h"
#include "views/GraphPlan.h"
#include "views/LogExport.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringEncoder>
#include <QUrl>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <thread>

namespace clarow {

namespace {

const QString kStoreGroup = QStringLiteral("ClarowMon/");

QString describe(const std::exception &e)
{
    if (const auto *c = dynamic_cast<const ClarowError *>(&e))
        return c->description();
    return QString::fromLocal8Bit(e.what());
}

void addHeader(HttpResponse &r, const char *name, const QByteArray &value)
{
    r.headers.append(qMakePair(QByteArray(name), value));
}

// What every answer of the page carries: nothing may come from elsewhere, nothing inline runs.
void secure(HttpResponse &r)
{
    addHeader(r, "Content-Security-Policy",
                      "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                      "connect-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'");
    addHeader(r, "X-Content-Type-Options", "nosniff");
    addHeader(r, "Referrer-Policy", "no-referrer");
    addHeader(r, "Cache-Control", "no-store");
}

HttpResponse answer(int status, const QByteArray &type, QByteArray body)
{
    HttpResponse r;
    r.status = status;
    r.contentType = type;
    r.body = std::move(body);
    secure(r);
    return r;
}

const QByteArray kHtml = "text/html; charset=utf-8";

QString sensorLink(const QString &id)
{
    return QStringLiteral("/sensor/") + QString::fromLatin1(QUrl::toPercentEncoding(id));
}

// The start of every page: the style sheet and the script are files of the server.
QString pageHead(const QString &title)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                          "<title>%1</title><link rel=\"stylesheet\" href=\"/app.css\">"
                          "<script src=\"/app.js\" defer></script></head>\n<body>")
        .arg(HtmlEscaped(title));
}

QString when(const QDateTime &t, const Settings &s)
{
    if (!t.isValid())
        return QStringLiteral("none yet");
    return FormatDate(t, s.DateFormat) + QLatin1Char(' ') + FormatDate(t, s.TimeFormat);
}

// The columns the grid shows: the first three always, the others when a listed sensor needs them.
QList<int> gridColumns(const QList<StatusRow> &rows)
{
    unsigned widened = 0;
    for (const StatusRow &r : rows)
        widened |= ColumnsWidenedBy(r.sensorType);
    QList<int> columns{ColSensor, ColLocation, ColTemperature};
    for (int c = ColHumidity; c < kGridColumnCount; ++c) {
        if (widened & (1u << c))
            columns << c;
    }
    return columns;
}

QString headerText(int column, const Settings &s)
{
    return GridHeaderText(column, s.CorF).replace(QLatin1Char('\r'), QLatin1Char(' '));
}

// The alarm state in words, so that it never rests on the colour alone.
QString stateText(const StatusRow &r)
{
    if (!r.inAlarm)
        return QStringLiteral("Normal");
    return r.cells[ColTemperature] == QLatin1String("disconnected") ? QStringLiteral("Alarm: disconnected")
                                                                    : QStringLiteral("Alarm");
}

QString alarmTypeText(int type)
{
    switch (type) {
    case 0:
        return QStringLiteral("none");
    case 1:
        return QStringLiteral("low temperature");
    case 2:
        return QStringLiteral("high temperature");
    case 3:
        return QStringLiteral("low second channel");
    case 4:
        return QStringLiteral("high second channel");
    case 5:
        return QStringLiteral("wet");
    case 6:
        return QStringLiteral("dry");
    case 7:
        return QStringLiteral("water tape fault");
    case 9:
        return QStringLiteral("disconnected");
    default:
        return QString::number(type);
    }
}

QString statusLine(const WebState &state)
{
    QString t = QStringLiteral("<p id=\"status\" aria-live=\"polite\">Last complete reading: <span id=\"last\">%1</span>. "
                               "Seconds to next scan: <span id=\"next\">%2</span>.</p>")
                    .arg(HtmlEscaped(when(state.lastCompleteReading, state.settings)),
                         state.secondsToNextScan < 0 ? QStringLiteral("not scanning")
                                                     : QString::number(state.secondsToNextScan));
    t += QStringLiteral("<p id=\"problem\" role=\"alert\">%1</p>").arg(HtmlEscaped(state.problem));
    return t;
}

// --- The history read on the server's thread -------------------------------------------------

// A read-only connection of the server's thread to the program's database file, opened at
// its first use and kept while the file stays the same.
class ReaderConnection
{
public:
    ~ReaderConnection() { close(); }

    QSqlDatabase open(const QString &path)
    {
        if (m_name.isEmpty()) {
            m_name = QStringLiteral("clarow-web-%1").arg(
                QString::number(std::hash<std::thread::id>{}(std::this_thread::get_id())));
        }
        if (m_path != path)
            close();
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isValid() && db.isOpen())
            return db;
        db = QSqlDatabase::contains(m_name) ? QSqlDatabase::database(m_name, false)
                                            : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        // A scan's write holds the file only briefly; a page rather fails than waits long.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
        if (!db.open())
            throw ClarowError(kErrDatabase, db.lastError().text());
        m_path = path;
        return db;
    }

    void close()
    {
        if (m_name.isEmpty() || !QSqlDatabase::contains(m_name))
            return;
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
        m_path.clear();
    }

private:
    QString m_name;
    QString m_path;
};

thread_local ReaderConnection t_reader;

struct SensorRecord
{
    QString id;
    QString location;
    QVariant temp, ch2, water, lastRead;
    bool connected = false;
    bool inAlarm = false;
    int alarmType = 0;
    QVariant tempLo, tempHi, ch2Lo, ch2Hi;
};

std::optional<SensorRecord> readSensor(const QSqlDatabase &db, const QString &id)
{
    QSqlQuery q = Exec(db,
                       QStringLiteral("SELECT SensorID, Location, cTmp, cCh2, wStatus, Connected, InAlarm, AlType, "
                                      "aTempLo, aTempHi, aCh2Lo, aCh2Hi, LastR FROM Sensors WHERE SensorID = ?"),
                       {id});
    if (!q.next())
        return std::nullopt;
    SensorRecord r;
    r.id = q.value(0).toString();
    r.location = q.value(1).toString();
    r.temp = q.value(2);
    r.ch2 = q.value(3);
    r.water = q.value(4);
    r.connected = q.value(5).toInt() != 0;
    r.inAlarm = q.value(6).toInt() != 0;
    r.alarmType = q.value(7).toInt();
    r.tempLo = q.value(8);
    r.tempHi = q.value(9);
    r.ch2Lo = q.value(10);
    r.ch2Hi = q.value(11);
    r.lastRead = q.value(12);
    return r;
}

QString valueOf(const QVariant &v)
{
    return v.isNull() ? QStringLiteral("none") : SingleText(static_cast<float>(v.toDouble()));
}

HttpResponse problemPage(int status, const QString &title, const QString &text)
{
    QString html = pageHead(title);
    html += QStringLiteral("<main><h1>%1</h1><p role=\"alert\">%2</p><p><a href=\"/\">All sensors</a></p></main></body></html>\n")
                .arg(HtmlEscaped(title), HtmlEscaped(text));
    return answer(status, kHtml, html.toUtf8());
}

struct RangeChoice
{
    const char *key;
    const char *label;
};
constexpr RangeChoice kRanges[] = {{"24h", "24 hours"}, {"7d", "7 days"}, {"30d", "30 days"}};

HttpResponse sensorPage(const WebState &state, const QString &id, const QByteArray &rangeKey)
{
    const Settings &s = state.settings;
    const int days = ChartRangeDays(rangeKey.isEmpty() ? QByteArray("24h") : rangeKey);
    if (days == 0)
        return problemPage(400, QStringLiteral("Unknown range"),
                           QStringLiteral("The range is one of 24h, 7d and 30d."));
    std::optional<SensorRecord> sensor;
    LogData data;
    LoadResult loaded;
    bool truncated = false;
    try {
        const QSqlDatabase db = t_reader.open(state.databasePath);
        sensor = readSensor(db, id);
        if (sensor)
            loaded = LoadLogDataOn(db, data, id, state.now.addDays(-days), state.now, &truncated);
    } catch (const std::exception &e) {
        t_reader.close();
        return problemPage(503, QStringLiteral("Database not readable"),
                           QStringLiteral("The sensor could not be read from the database: ") + describe(e));
    }
    if (!sensor)
        return problemPage(404, QStringLiteral("No such sensor"), QStringLiteral("No sensor has the identifier ") + id + QLatin1Char('.'));

    const SensorKind kind = KindOf(id);
    const QString type = SensorTypeText(id);
    const QString degrees = QStringLiteral("\u00B0") + s.CorF;
    QString html = pageHead(sensor->location + QStringLiteral(" \u2013 ") + id);
    html += QStringLiteral("<header><p><a href=\"/\">All sensors</a></p><h1>%1</h1></header><main>")
                .arg(HtmlEscaped(sensor->location));

    // The fields as a table of name and value.
    QList<QPair<QString, QString>> fields = {
        {QStringLiteral("Sensor"), id},
        {QStringLiteral("Type"), type},
        {QStringLiteral("Location"), sensor->location},
        {QStringLiteral("State"), sensor->inAlarm ? QStringLiteral("Alarm: ") + alarmTypeText(sensor->alarmType)
                                                  : QStringLiteral("Normal")},
        {QStringLiteral("Connected"), sensor->connected ? QStringLiteral("yes") : QStringLiteral("no")},
        {QStringLiteral("Last read"), sensor->lastRead.isNull() ? QStringLiteral("never")
                                                                 : when(FromSerial(sensor->lastRead.toDouble()), s)},
        {QStringLiteral("Temperature (") + degrees + QLatin1Char(')'), valueOf(sensor->temp)},
        {QStringLiteral("Low limit (") + degrees + QLatin1Char(')'), valueOf(sensor->tempLo)},
        {QStringLiteral("High limit (") + degrees + QLatin1Char(')'), valueOf(sensor->tempHi)},
    };
    const Ch2Channel channel = GraphChannelOf(id);
    if (kind.hasCh2) {
        fields.append({channel.name, valueOf(sensor->ch2)});
        fields.append({channel.name + QStringLiteral(" low limit"), valueOf(sensor->ch2Lo)});
        fields.append({channel.name + QStringLiteral(" high limit"), valueOf(sensor->ch2Hi)});
    }
    if (kind.hasWater && !sensor->water.isNull())
        fields.append({QStringLiteral("Water sensor"), WaterStatusText(sensor->water.toInt())});
    html += QStringLiteral("<table class=\"fields\"><caption>Sensor</caption><tbody>");
    for (const auto &[name, value] : fields)
        html += QStringLiteral("<tr><th scope=\"row\">%1</th><td>%2</td></tr>").arg(HtmlEscaped(name), HtmlEscaped(value));
    html += QStringLiteral("</tbody></table>");

    // The chart and its ranges.
    html += QStringLiteral("<section aria-labelledby=\"history\"><h2 id=\"history\">History</h2><nav aria-label=\"Range\"><ul class=\"ranges\">");
    for (const RangeChoice &r : kRanges) {
        const bool current = ChartRangeDays(r.key) == days;
        html += QStringLiteral("<li><a href=\"%1?range=%2\"%3>%4</a></li>")
                    .arg(HtmlEscaped(sensorLink(id)), QLatin1String(r.key),
                         current ? QStringLiteral(" aria-current=\"page\"") : QString(), QLatin1String(r.label));
    }
    html += QStringLiteral("</ul></nav>");
    if (loaded.outcome == LoadOutcome::Failed) {
        html += QStringLiteral("<p role=\"alert\">The history could not be read from the database.</p>");
    } else if (data.RecCount == 0) {
        html += QStringLiteral("<p>No readings in this range.</p>");
    } else {
        if (truncated)
            html += QStringLiteral("<p role=\"alert\">The range holds more than 65,000 readings; the chart shows the first 65,000.</p>");
        html += QString::fromUtf8(ChartSvg(data, false, QStringLiteral("Temperature (") + degrees + QLatin1Char(')'),
                                           {ChartLine{QStringLiteral("Temperature"), s.ColGrTp},
                                            ChartLine{QStringLiteral("Low limit"), s.ColGrTl},
                                            ChartLine{QStringLiteral("High limit"), s.ColGrTh}}));
        if (kind.hasCh2) {
            html += QString::fromUtf8(ChartSvg(data, true, channel.name + QLatin1Char(' ') + channel.unit,
                                               {ChartLine{channel.name, s.ColGrCp},
                                                ChartLine{channel.name + QStringLiteral(" low limit"), s.ColGrCl},
                                                ChartLine{channel.name + QStringLiteral(" high limit"), s.ColGrCh}}));
        }
    }
    html += QStringLiteral("</section>");

    // The export of a chosen range, as the desktop writes it.
    const QDate today = state.now.date();
    html += QStringLiteral("<section aria-labelledby=\"export\"><h2 id=\"export\">Export</h2>"
                           "<form method=\"get\" action=\"%1/export.csv\">"
                           "<label for=\"from\">From</label><input type=\"date\" id=\"from\" name=\"from\" value=\"%2\" required>"
                           "<label for=\"to\">To</label><input type=\"date\" id=\"to\" name=\"to\" value=\"%3\" required>"
                           "<button type=\"submit\">Download CSV</button></form></section>")
                .arg(HtmlEscaped(sensorLink(id)), today.addDays(-6).toString(Qt::ISODate), today.toString(Qt::ISODate));
    html += QStringLiteral("</main></body></html>\n");
    return answer(200, kHtml, html.toUtf8());
}

HttpResponse exportFile(const WebState &state, const QString &id, const HttpRequestHead &request)
{
    const QDate from = QDate::fromString(QString::fromLatin1(request.argument("from")), Qt::ISODate);
    const QDate to = QDate::fromString(QString::fromLatin1(request.argument("to")), Qt::ISODate);
    if (!from.isValid() || !to.isValid() || from > to)
        return problemPage(400, QStringLiteral("Dates needed"),
                           QStringLiteral("Give the first and the last day of the export as YYYY-MM-DD, the first not after the last."));
    LogData data;
    LoadResult loaded;
    bool truncated = false;
    bool known = false;
    try {
        const QSqlDatabase db = t_reader.open(state.databasePath);
        known = readSensor(db, id).has_value();
        if (known)
            loaded = LoadLogDataOn(db, data, id, QDateTime(from, QTime(0, 0)), QDateTime(to, QTime(23, 59, 59)), &truncated);
    } catch (const std::exception &e) {
        t_reader.close();
        return problemPage(503, QStringLiteral("Database not readable"),
                           QStringLiteral("The sensor could not be read from the database: ") + describe(e));
    }
    if (!known)
        return problemPage(404, QStringLiteral("No such sensor"), QStringLiteral("No sensor has the identifier ") + id + QLatin1Char('.'));
    if (loaded.outcome == LoadOutcome::Failed)
        return problemPage(503, QStringLiteral("Database not readable"), QStringLiteral("The history could not be read from the database."));

    const Settings &s = state.settings;
    ExportHeader h;
    h.locationName = s.LocationName;
    h.sensorId = id;
    h.scale = s.CorF;
    h.dateFormat = s.DateFormat;
    h.timeFormat = s.TimeFormat;
    h.today = state.now.date();
    h.kind = loaded.kind;
    // The bytes the desktop's export writes to its file.
    QStringEncoder encode(QStringConverter::System);
    QByteArray body = encode(ExportText(data, h, QLatin1Char(',')));
    HttpResponse r = answer(200, "text/csv", std::move(body));
    QString name = ProposedExportName(id, h.today, s.DateFormat);
    name.remove(QLatin1Char('"')).remove(QLatin1Char('\\'));
    addHeader(r, "Content-Disposition", "attachment; filename=\"" + name.toLatin1() + ".csv\"");
    if (truncated)
        addHeader(r, "X-Clarow-Rows-Limited", QByteArray::number(kMaxLogRows));
    return r;
}

QByteArray pbkdf2(const QByteArray &password, const QByteArray &salt, int iterations)
{
    QByteArray out(32, '\0');
    if (PKCS5_PBKDF2_HMAC(password.constData(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char *>(salt.constData()), static_cast<int>(salt.size()),
                          iterations, EVP_sha256(), static_cast<int>(out.size()),
                          reinterpret_cast<unsigned char *>(out.data()))
        != 1)
        return {};
    return out;
}

void report(const QString &text)
{
    std::fprintf(stderr, "clarow: %s\n", qPrintable(text));
    WriteLog(text);
}

// Says where a page is served and warns when it reaches beyond this machine.
void announce(const char *what, const char *path, const ListenAddress &at, quint16 port, const QString &beyond)
{
    QString host = at.host.toString();
    if (at.host.protocol() == QAbstractSocket::IPv6Protocol)
        host = QLatin1Char('[') + host + QLatin1Char(']');
    std::fprintf(stderr, "clarow: %s at http://%s:%u%s\n", what, qPrintable(host), port, path);
    if (!at.loopback())
        report(beyond);
    std::fflush(stderr);
}

QString metricsBeyond(const QString &address)
{
    return QStringLiteral("Metrics are served beyond the loopback interface on %1: every "
                          "machine that can reach this address can read them.")
        .arg(address.trimmed());
}

QString webBeyond(const QString &address, bool password)
{
    QString t = QStringLiteral("The web page is served beyond the loopback interface on %1: every machine that "
                               "can reach this address can read it")
                    .arg(address.trimmed());
    return t + (password ? QStringLiteral(" with the password.")
                         : QStringLiteral("; no password is set (clarow --set-web-password sets one)."));
}

} // namespace

QString HtmlEscaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        case u'\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += ch;
        }
    }
    return out;
}

QString CssColour(qint32 bgr)
{
    return QStringLiteral("#%1").arg(StoredColourToRgb(bgr) & 0xFFFFFFu, 6, 16, QLatin1Char('0'));
}

QString HashWebPassword(const QString &password, int iterations)
{
    QByteArray salt(16, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()), salt.size() / 4);
    return QStringLiteral("pbkdf2-sha256$%1$%2$%3")
        .arg(QString::number(iterations), QString::fromLatin1(salt.toBase64()),
             QString::fromLatin1(pbkdf2(password.toUtf8(), salt, iterations).toBase64()));
}

bool WebPasswordMatches(const QString &password, const QString &stored)
{
    const QStringList parts = stored.trimmed().split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != QLatin1String("pbkdf2-sha256"))
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    // Far beyond what is ever written; a larger count would let a bad file stall every request.
    if (!ok || iterations < 1 || iterations > 10'000'000)
        return false;
    const auto salt = QByteArray::fromBase64Encoding(parts[2].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    const auto hash = QByteArray::fromBase64Encoding(parts[3].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!salt || !hash || salt.decoded.isEmpty() || hash.decoded.size() != 32)
        return false;
    const QByteArray got = pbkdf2(password.toUtf8(), salt.decoded, iterations);
    return got.size() == 32 && CRYPTO_memcmp(got.constData(), hash.decoded.constData(), 32) == 0;
}

bool BasicAuthAccepts(const QByteArray &authorization, const QString &user, const QString &stored)
{
    const QByteArray a = authorization.trimmed();
    if (a.size() < 6 || a.left(6).toLower() != "basic ")
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(a.mid(6).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    const qsizetype colon = decoded.decoded.indexOf(':');
    if (colon < 0)
        return false;
    const QByteArray givenUser = decoded.decoded.left(colon);
    const QByteArray wantedUser = user.toUtf8();
    // Both checks always run, so the answer's time does not tell which part was wrong.
    const bool userOk = givenUser.size() == wantedUser.size()
        && CRYPTO_memcmp(givenUser.constData(), wantedUser.constData(), static_cast<size_t>(givenUser.size())) == 0;
    const bool passwordOk = WebPasswordMatches(QString::fromUtf8(decoded.decoded.mid(colon + 1)), stored);
    return userOk && passwordOk;
}

QString WebAddressFor(const QStringList &arguments)
{
    return ListenAddressFor(arguments, QStringLiteral("--web"), QStringLiteral("WebAddress"));
}

std::optional<QString> StoreWebPassword(const QString &password, QString *error)
{
    if (password.isEmpty()) {
        if (error)
            *error = QStringLiteral("The password is empty; none was stored.");
        return std::nullopt;
    }
    QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    QString user = store.value(kStoreGroup + QStringLiteral("WebUser")).toString().trimmed();
    if (user.isEmpty()) {
        user = QStringLiteral("clarow");
        store.setValue(kStoreGroup + QStringLiteral("WebUser"), user);
    }
    store.setValue(kStoreGroup + QStringLiteral("WebPasswordHash"), HashWebPassword(password));
    store.sync();
    if (store.status() != QSettings::NoError) {
        if (error)
            *error = QStringLiteral("The settings file could not be written; the password was not stored.");
        return std::nullopt;
    }
    return user;
}

int ChartRangeDays(const QByteArray &key)
{
    if (key == "24h")
        return 1;
    if (key == "7d")
        return 7;
    if (key == "30d")
        return 30;
    return 0;
}

QByteArray GridPageHtml(const WebState &state)
{
    const Settings &s = state.settings;
    const QList<int> columns = gridColumns(state.rows);
    QString html = pageHead(s.LocationName + QStringLiteral(" \u2013 Clarow"));
    html.reserve(2048 + state.rows.size() * 320);
    html += QStringLiteral("<header><h1 id=\"site\">%1</h1>").arg(HtmlEscaped(s.LocationName));
    html += statusLine(state) + QStringLiteral("</header><main>");
    html += QStringLiteral("<table id=\"grid\"><caption>Sensors</caption><thead><tr>");
    for (int c : columns)
        html += QStringLiteral("<th scope=\"col\">%1</th>").arg(HtmlEscaped(headerText(c, s)));
    html += QStringLiteral("<th scope=\"col\">State</th></tr></thead><tbody>");
    for (const StatusRow &r : state.rows) {
        html += QStringLiteral("<tr class=\"%1\">").arg(r.inAlarm ? QStringLiteral("alarm") : QStringLiteral("ok"));
        for (int c : columns) {
            const QString label = HtmlEscaped(headerText(c, s));
            if (c == ColSensor)
                html += QStringLiteral("<th scope=\"row\" data-label=\"%1\"><a href=\"%2\">%3</a></th>")
                            .arg(label, HtmlEscaped(sensorLink(r.sensorId)), HtmlEscaped(r.cells[c]));
            else
                html += QStringLiteral("<td data-label=\"%1\">%2</td>").arg(label, HtmlEscaped(r.cells[static_cast<size_t>(c)]));
        }
        html += QStringLiteral("<td data-label=\"State\">%1</td></tr>").arg(HtmlEscaped(stateText(r)));
    }
    html += QStringLiteral("</tbody></table></main></body></html>\n");
    return html.toUtf8();
}

QByteArray SensorsJson(const WebState &state)
{
    const Settings &s = state.settings;
    const QList<int> columns = gridColumns(state.rows);
    QJsonArray titles;
    for (int c : columns)
        titles.append(headerText(c, s));
    QJsonArray sensors;
    for (const StatusRow &r : state.rows) {
        QJsonArray cells;
        for (int c : columns)
            cells.append(r.cells[static_cast<size_t>(c)]);
        sensors.append(QJsonObject{
            {QStringLiteral("id"), r.sensorId},
            {QStringLiteral("type"), r.sensorType},
            {QStringLiteral("location"), r.cells[ColLocation]},
            {QStringLiteral("inAlarm"), r.inAlarm},
            {QStringLiteral("state"), stateText(r)},
            {QStringLiteral("cells"), cells},
        });
    }
    QJsonObject o{
        {QStringLiteral("site"), s.LocationName},
        {QStringLiteral("scale"), s.CorF},
        {QStringLiteral("lastCompleteReading"),
         state.lastCompleteReading.isValid() ? QJsonValue(state.lastCompleteReading.toString(Qt::ISODate)) : QJsonValue()},
        {QStringLiteral("lastCompleteReadingText"), when(state.lastCompleteReading, s)},
        {QStringLiteral("secondsToNextScan"), state.secondsToNextScan < 0 ? QJsonValue() : QJsonValue(state.secondsToNextScan)},
        {QStringLiteral("problem"), state.problem},
        {QStringLiteral("columns"), titles},
        {QStringLiteral("sensors"), sensors},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray WebStyleSheet(const WebState &state)
{
    const Settings &s = state.settings;
    QString css = QStringLiteral(
        "body{font-family:system-ui,sans-serif;margin:1rem;color:#000;background:#fff}\n"
        "table{border-collapse:collapse;margin:1rem 0}caption{text-align:left;font-weight:bold}\n"
        "th,td{border:1px solid #888;padding:.3rem .6rem;text-align:left}\n"
        "#problem:empty{display:none}#problem{color:#900;font-weight:bold}\n"
        ".ranges{list-style:none;padding:0;display:flex;gap:1rem}[aria-current]{font-weight:bold}\n"
        ".chart{max-width:100%;height:auto;display:block}\n"
        "form label{margin-right:.3rem}form input{margin-right:1rem}\n"
        "@media (max-width:600px){#grid thead{position:absolute;left:-9999px}"
        "#grid,#grid tbody,#grid tr,#grid th,#grid td{display:block;width:auto}"
        "#grid tr{margin-bottom:.8rem;border:1px solid #888}"
        "#grid td::before,#grid th::before{content:attr(data-label) \": \";font-weight:bold}"
        "form label,form input,form button{display:block;margin:.3rem 0}}\n");
    css += QStringLiteral("tr.alarm>*{background:%1}\ntr.ok>*{background:%2}\n")
               .arg(CssColour(s.ColAlarm), CssColour(s.ColOK));
    return css.toUtf8();
}

QByteArray WebScript()
{
    // Brings the grid up to date every 10 seconds from /api/sensors; every text is set as text.
    return QByteArrayLiteral(R"JS('use strict';
(function () {
  var grid = document.getElementById('grid');
  if (!grid) return;
  var next = null;
  function text(id, t) { var e = document.getElementById(id); if (e) e.textContent = t; }
  function cell(tag, value, label) {
    var c = document.createElement(tag);
    c.textContent = value;
    if (label !== null) c.setAttribute('data-label', label);
    return c;
  }
  function render(d) {
    var head = document.createElement('tr');
    d.columns.concat(['State']).forEach(function (t) { var th = cell('th', t, null); th.setAttribute('scope', 'col'); head.appendChild(th); });
    var body = document.createElement('tbody');
    d.sensors.forEach(function (s) {
      var tr = document.createElement('tr');
      tr.className = s.inAlarm ? 'alarm' : 'ok';
      s.cells.forEach(function (v, i) {
        if (i === 0) {
          var th = cell('th', '', d.columns[0]);
          th.setAttribute('scope', 'row');
          var a = document.createElement('a');
          a.href = '/sensor/' + encodeURIComponent(s.id);
          a.textContent = v;
          th.appendChild(a);
          tr.appendChild(th);
        } else {
          tr.appendChild(cell('td', v, d.columns[i]));
        }
      });
      tr.appendChild(cell('td', s.state, 'State'));
      body.appendChild(tr);
    });
    grid.tHead.replaceChildren(head);
    grid.replaceChild(body, grid.tBodies[0]);
    text('site', d.site);
    text('last', d.lastCompleteReadingText);
    next = d.secondsToNextScan;
    text('next', next === null ? 'not scanning' : String(next));
    text('problem', d.problem);
  }
  function poll() {
    fetch('/api/sensors', { cache: 'no-store', credentials: 'same-origin' })
      .then(function (r) { if (!r.ok) throw new Error('status ' + r.status); return r.json(); })
      .then(render)
      .catch(function () { text('problem', 'The page could not be brought up to date; it tries again in 10 seconds.'); });
  }
  setInterval(function () {
    if (next !== null && next > 0) { next -= 1; text('next', String(next)); }
  }, 1000);
  setInterval(poll, 10000);
})();
)JS");
}

QByteArray ChartSvg(const LogData &data, bool secondChannel, const QString &title,
                    const std::array<ChartLine, 3> &lines, int maxPoints)
{
    constexpr double W = 720, H = 300, left = 56, right = 12, top = 16, bottom = 40;
    const auto n = std::min<size_t>(static_cast<size_t>(std::max(data.RecCount, 0)), data.Points.size());
    const double lo = secondChannel ? data.Ch2Lo : data.TempLo;
    const double hi = secondChannel ? data.Ch2Hi : data.TempHi;
    auto value = [&](size_t i) { return static_cast<double>(secondChannel ? data.Points[i].Ch2 : data.Points[i].Temp); };
    double vmin = std::min(lo, hi), vmax = std::max(lo, hi);
    for (size_t i = 0; i < n; ++i) {
        vmin = std::min(vmin, value(i));
        vmax = std::max(vmax, value(i));
    }
    const AxisRange range = WholeStepRange(vmin, vmax);
    const double ylo = range.lo, yhi = range.hi > range.lo ? range.hi : range.lo + 1;
    const double t0 = n ? data.Points.front().Time : 0;
    const double t1 = n && data.Points[n - 1].Time > t0 ? data.Points[n - 1].Time : t0 + 1.0 / 1440;
    auto x = [&](double t) { return left + (t - t0) / (t1 - t0) * (W - left - right); };
    auto y = [&](double v) { return top + (yhi - v) / (yhi - ylo) * (H - top - bottom); };
    auto num = [](double v) { return QString::number(v, 'f', 1); };

    // The lowest and the highest reading of each stretch, in time order.
    std::vector<size_t> picked;
    const size_t buckets = static_cast<size_t>(std::max(1, maxPoints / 2));
    if (n <= static_cast<size_t>(maxPoints)) {
        for (size_t i = 0; i < n; ++i)
            picked.push_back(i);
    } else {
        size_t i = 0;
        for (size_t b = 0; b < buckets && i < n; ++b) {
            const double end = t0 + (t1 - t0) * static_cast<double>(b + 1) / static_cast<double>(buckets);
            size_t lowest = i, highest = i;
            for (; i < n && (data.Points[i].Time <= end || b + 1 == buckets); ++i) {
                if (value(i) < value(lowest))
                    lowest = i;
                if (value(i) > value(highest))
                    highest = i;
            }
            picked.push_back(std::min(lowest, highest));
            if (highest != lowest)
                picked.push_back(std::max(lowest, highest));
        }
    }

    QString svg = QStringLiteral("<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" "
                                 "width=\"%1\" height=\"%2\" role=\"img\" aria-labelledby=\"%3\">"
                                 "<title id=\"%3\">%4: %5 readings from %6 to %7, low limit %8, high limit %9</title>")
                      .arg(num(W), num(H), secondChannel ? QStringLiteral("chart2") : QStringLiteral("chart1"),
                           HtmlEscaped(title), QString::number(n),
                           n ? FromSerial(t0).toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString(),
                           n ? FromSerial(t1).toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString(),
                           SingleText(static_cast<float>(lo)), SingleText(static_cast<float>(hi)));
    svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#fff\" stroke=\"#888\"/>")
               .arg(num(left), num(top), num(W - left - right), num(H - top - bottom));
    // Value axis: bottom, middle, top.
    for (double v : {ylo, (ylo + yhi) / 2, yhi}) {
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"12\" text-anchor=\"end\">%3</text>")
                   .arg(num(left - 6), num(y(v) + 4), HtmlEscaped(SingleText(static_cast<float>(v))));
    }
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"12\">%3</text>")
               .arg(num(left), num(H - 12), HtmlEscaped(n ? FromSerial(t0).toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString()));
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"12\" text-anchor=\"end\">%3</text>")
               .arg(num(W - right), num(H - 12), HtmlEscaped(n ? FromSerial(t1).toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString()));
    // The limit lines.
    const char *kinds[] = {"low", "high"};
    const double limits[] = {lo, hi};
    for (int k = 0; k < 2; ++k) {
        svg += QStringLiteral("<line class=\"limit %1\" data-value=\"%2\" x1=\"%3\" x2=\"%4\" y1=\"%5\" y2=\"%5\" "
                              "stroke=\"%6\" stroke-width=\"2\" stroke-dasharray=\"6 4\"><title>%7</title></line>")
                   .arg(QLatin1String(kinds[k]), SingleText(static_cast<float>(limits[k])), num(left), num(W - right),
                        num(y(limits[k])), CssColour(lines[static_cast<size_t>(k + 1)].colour),
                        HtmlEscaped(lines[static_cast<size_t>(k + 1)].label + QLatin1Char(' ') + SingleText(static_cast<float>(limits[k]))));
    }
    // The readings.
    svg += QStringLiteral("<polyline class=\"series\" data-count=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"1.5\" points=\"")
               .arg(QString::number(picked.size()), CssColour(lines[0].colour));
    for (size_t i : picked)
        svg += num(x(data.Points[i].Time)) + QLatin1Char(',') + num(y(value(i))) + QLatin1Char(' ');
    svg += QStringLiteral("\"><title>%1</title></polyline></svg>").arg(HtmlEscaped(lines[0].label));
    return svg.toUtf8();
}

// What the server's thread reads; replaced whole on the program's thread.
struct WebPage::Shared
{
    QMutex mutex;
    std::shared_ptr<const WebState> state;
    QByteArray grid;
    QByteArray json;
    QByteArray css;
    QString user;
    QString passwordHash;
    QByteArray accepted; // digest of the last Authorization value that matched
};

namespace {
constexpr int kRefreshCheckMs = 250;
constexpr int kRefreshAnywayMs = 2000;

// Checks the password once per distinct Authorization value: the hash costs tens of
// milliseconds, and a page brings its style sheet, script and data with the same value.
bool admitted(WebPage::Shared &shared, const HttpRequestHead &request)
{
    QString user, hash;
    QByteArray accepted;
    {
        const QMutexLocker lock(&shared.mutex);
        if (shared.passwordHash.isEmpty())
            return true;
        user = shared.user;
        hash = shared.passwordHash;
        accepted = shared.accepted;
    }
    const QByteArray given = request.header("authorization");
    if (given.isEmpty())
        return false;
    const QByteArray digest = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
    if (accepted.size() == digest.size() && CRYPTO_memcmp(accepted.constData(), digest.constData(), 32) == 0)
        return true;
    if (!BasicAuthAccepts(given, user, hash))
        return false;
    const QMutexLocker lock(&shared.mutex);
    shared.accepted = digest;
    return true;
}

HttpResponse unauthorized()
{
    HttpResponse r = answer(401, "text/plain; charset=utf-8", "The web page asks for its user name and password.\n");
    addHeader(r, "WWW-Authenticate", "Basic realm=\"Clarow\", charset=\"UTF-8\"");
    return r;
}
} // namespace

WebPage::WebPage(const HttpLimits &limits, QObject *parent)
    : QObject(parent), m_limits(limits), m_shared(std::make_shared<Shared>())
{
    QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    m_shared->user = store.value(kStoreGroup + QStringLiteral("WebUser")).toString().trimmed();
    m_shared->passwordHash = store.value(kStoreGroup + QStringLiteral("WebPasswordHash")).toString().trimmed();
    m_timer.setInterval(kRefreshCheckMs);
    connect(&m_timer, &QTimer::timeout, this, &WebPage::refreshWhenDue);
}

WebPage::~WebPage()
{
    // The server's thread ends before the snapshot goes.
    m_http.reset();
}

bool WebPage::protectedByPassword() const
{
    const QMutexLocker lock(&m_shared->mutex);
    return !m_shared->passwordHash.isEmpty();
}

void WebPage::refresh()
{
    m_seenScans = metricCounters().scans;
    auto state = std::make_shared<WebState>();
    const Program &p = program();
    state->settings = p.settings;
    state->databasePath = DatabasePath();
    state->now = Now();
    state->lastCompleteReading = metricCounters().lastCompleteReading;
    if (p.scanSlot.isValid() && p.nextScan.isValid())
        state->secondsToNextScan = static_cast<int>(std::llabs(NowWholeSeconds().secsTo(p.nextScan)) % 60);
    if (!DatabaseIsOpen()) {
        state->problem = QStringLiteral("The database is not open: no sensors to show.");
    } else if (state->lastCompleteReading.isValid()) {
        try {
            state->rows = LoadStatusGrid(state->lastCompleteReading, false);
        } catch (const std::exception &e) {
            state->problem = QStringLiteral("The sensors could not be read from the database: ") + describe(e);
        }
    }
    QByteArray grid = GridPageHtml(*state);
    QByteArray json = SensorsJson(*state);
    QByteArray css = WebStyleSheet(*state);
    m_built.start();
    const QMutexLocker lock(&m_shared->mutex);
    m_shared->state = std::move(state);
    m_shared->grid = std::move(grid);
    m_shared->json = std::move(json);
    m_shared->css = std::move(css);
}

void WebPage::refreshWhenDue()
{
    if (PortBusy())
        return;
    if (metricCounters().scans != m_seenScans || !m_built.isValid() || m_built.elapsed() >= kRefreshAnywayMs)
        refresh();
}

void WebPage::serveOn(HttpServer &http)
{
    refresh();
    const std::shared_ptr<Shared> shared = m_shared;
    // A copy of one of the built texts, after the password check.
    auto built = [shared](QByteArray Shared::*member, QByteArray type) {
        return [shared, member, type](const HttpRequestHead &request) {
            if (!admitted(*shared, request))
                return unauthorized();
            QByteArray body;
            {
                const QMutexLocker lock(&shared->mutex);
                body = (*shared).*member;
            }
            return answer(200, type, std::move(body));
        };
    };
    http.route(QByteArrayLiteral("/"), built(&Shared::grid, kHtml));
    http.route(QByteArrayLiteral("/api/sensors"), built(&Shared::json, "application/json"));
    http.route(QByteArrayLiteral("/app.css"), built(&Shared::css, "text/css; charset=utf-8"));
    http.route(QByteArrayLiteral("/app.js"), [shared](const HttpRequestHead &request) {
        if (!admitted(*shared, request))
            return unauthorized();
        return answer(200, "text/javascript; charset=utf-8", WebScript());
    });
    http.routePrefix(QByteArrayLiteral("/sensor/"), [shared](const HttpRequestHead &request) {
        if (!admitted(*shared, request))
            return unauthorized();
        std::shared_ptr<const WebState> state;
        {
            const QMutexLocker lock(&shared->mutex);
            state = shared->state;
        }
        QString id = QString::fromUtf8(request.path.mid(8));
        const QString exportSuffix = QStringLiteral("/export.csv");
        if (id.endsWith(exportSuffix)) {
            id.chop(exportSuffix.size());
            return exportFile(*state, id, request);
        }
        if (id.isEmpty() || id.contains(QLatin1Char('/')))
            return problemPage(404, QStringLiteral("No such page"), QStringLiteral("There is no page at this address."));
        return sensorPage(*state, id, request.argument("range"));
    });
    m_timer.start();
}

bool WebPage::listen(const QString &address)
{
    m_http = ServeAt(address, m_limits, [this](HttpServer &http) { serveOn(http); }, m_error);
    if (!m_http)
        m_timer.stop();
    return m_http != nullptr;
}

bool WebPage::listening() const { return m_http && m_http->listening(); }

quint16 WebPage::port() const { return m_http ? m_http->port() : 0; }

HttpServices::~HttpServices()
{
    // The shared server's thread ends before the pages it serves go.
    shared.reset();
}

std::unique_ptr<HttpServices> StartHttpServices(const QStringList &arguments)
{
    auto services = std::make_unique<HttpServices>();
    const QString metricsAt = MetricsAddressFor(arguments);
    const QString webAt = WebAddressFor(arguments);
    const std::optional<ListenAddress> m = ParseListenAddress(metricsAt);
    const std::optional<ListenAddress> w = ParseListenAddress(webAt);
    if (m && w && m->host == w->host && m->port == w->port) {
        // One address for both: one server answers /metrics and the web page.
        auto metrics = std::make_unique<MetricsExporter>();
        auto web = std::make_unique<WebPage>();
        auto http = std::make_unique<HttpServer>();
        metrics->serveOn(*http);
        web->serveOn(*http);
        if (!http->listen(w->host, w->port)) {
            const QString why = QStringLiteral("Cannot listen on %1: %2").arg(webAt, http->errorText());
            report(QStringLiteral("Metrics not served. ") + why);
            report(QStringLiteral("Web page not served. ") + why);
            return services;
        }
        announce("metrics", "/metrics", *m, http->port(), metricsBeyond(metricsAt));
        announce("web page", "/", *w, http->port(), webBeyond(webAt, web->protectedByPassword()));
        services->metrics = std::move(metrics);
        services->web = std::move(web);
        services->shared = std::move(http);
        return services;
    }
    services->metrics = StartMetrics(arguments);
    if (webAt.isEmpty())
        return services;
    auto web = std::make_unique<WebPage>();
    if (!web->listen(webAt)) {
        report(QStringLiteral("Web page not served. ") + web->errorText());
        return services;
    }
    announce("web page", "/", *w, web->port(), webBeyond(webAt, web->protectedByPassword()));
    services->web = std::move(web);
    return services;
}

} // namespace clarow
