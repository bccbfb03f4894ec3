#include "monitor/Notify.h"

#include "core/Database.h"
#include "core/DiagnosticLog.h"
#include "core/Errors.h"
#include "core/Helpers.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/TypeCodes.h"
#include "monitor/AlarmMail.h"
#include "monitor/MqttPublisher.h"
#include "monitor/StatusGrid.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QSqlError>
#include <QUrl>

#include <exception>

namespace clarow {

namespace {

const QString kChannel = QStringLiteral("webhook");

QSettings Store() { return QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark")); }

QJsonValue Number(const std::optional<float> &v)
{
    if (!v)
        return QJsonValue::Null;
    // The shortest text that reads back as the stored single: 22.05, not 22.049999.
    return SingleText(*v).toDouble();
}

QJsonValue WaterText(const std::optional<int> &status)
{
    const QString text = status ? WaterStatusText(*status) : QString();
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonObject Limits(const std::optional<float> &low, const std::optional<float> &high)
{
    return {{QStringLiteral("low"), Number(low)}, {QStringLiteral("high"), Number(high)}};
}

// A header value: control characters go, and a text beyond ASCII goes as one encoded word,
// which ntfy reads back as UTF-8.
QByteArray HeaderValue(const QString &text)
{
    QString plain;
    for (const QChar c : text)
        plain += c.unicode() < 0x20 || c.unicode() == 0x7f ? QLatin1Char(' ') : c;
    plain = plain.simplified();
    for (const QChar c : plain) {
        if (c.unicode() > 0x7e)
            return "=?UTF-8?B?" + plain.toUtf8().toBase64() + "?=";
    }
    return plain.toLatin1();
}

QString Title(const QJsonObject &e)
{
    const QString event = e.value(QStringLiteral("event")).toString();
    if (event == QLatin1String("test"))
        return QStringLiteral("Test notification from Clarow");
    const bool alarm = event == QLatin1String("alarm");
    QString title = (alarm ? QStringLiteral("Alarm: ") : QStringLiteral("Back to normal: "))
                    + e.value(QStringLiteral("location")).toString();
    const QString site = e.value(QStringLiteral("site")).toString();
    if (!site.isEmpty())
        title += QStringLiteral(" (") + site + QLatin1Char(')');
    return title;
}

struct StateRow
{
    MailRow row;
    QString channel2Name;
    bool sent = false; // an alarm notification went out and no return yet
    int conc = 0;
};

QList<StateRow> LoadStateRows()
{
    QSqlQuery q = Exec(QStringLiteral(
        "SELECT SensorID, Location, InAlarm, Connected, AlType, cTmp, aTempHi, aTempLo, cCh2, aCh2Hi, aCh2Lo, "
        "wStatus, Channel2Name, COALESCE(NotifySent, 0), COALESCE(NotifyConc, 0), NotifiedAlType "
        "FROM Sensors ORDER BY rowid"));
    QList<StateRow> rows;
    while (q.next()) {
        StateRow s;
        MailRow &r = s.row;
        r.sensorId = q.value(0).toString();
        r.location = q.value(1).toString();
        r.inAlarm = Optional<bool>(q.value(2));
        r.connected = Optional<bool>(q.value(3));
        r.alType = Optional<int>(q.value(4));
        r.cTmp = Optional<float>(q.value(5));
        r.aTempHi = Optional<float>(q.value(6));
        r.aTempLo = Optional<float>(q.value(7));
        r.cCh2 = Optional<float>(q.value(8));
        r.aCh2Hi = Optional<float>(q.value(9));
        r.aCh2Lo = Optional<float>(q.value(10));
        r.wStatus = Optional<int>(q.value(11));
        s.channel2Name = q.value(12).toString();
        s.sent = q.value(13).toInt() != 0;
        s.conc = q.value(14).toInt();
        r.mailSent = s.sent;
        r.mailedAlType = Optional<int>(q.value(15));
        rows << s;
    }
    return rows;
}

// A failure that lasts is logged when it starts, then at most once an hour while it stays
// the same, and its end is logged too. The receiver's address is named by its host only: the
// rest of it may be a secret (a chat hook's key, a private topic).
struct FailureNote
{
    QString text;
    QDateTime logged;
    QDateTime since;
};
FailureNote &failureNote()
{
    static FailureNote note;
    return note;
}
constexpr qint64 kRepeatFailureSecs = 3600;

QString HostOf(const QString &url) { return QUrl(url).host(); }

void NoteFailure(const QString &host, const QString &error)
{
    FailureNote &n = failureNote();
    const QDateTime now = Now();
    const QString text = QStringLiteral("Push notification to %1 failed: %2").arg(host, error);
    if (n.text.isEmpty())
        n.since = now;
    if (text != n.text || !n.logged.isValid() || n.logged.secsTo(now) >= kRepeatFailureSecs) {
        WriteLog(text + QStringLiteral(" It is tried again at each scan."));
        n.logged = now;
    }
    n.text = text;
}

void NoteWorks(const QString &host)
{
    FailureNote &n = failureNote();
    if (n.text.isEmpty())
        return;
    WriteLog(QStringLiteral("Push notifications to %1 work again. They had failed since %2.")
                 .arg(host, n.since.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
    n = FailureNote();
}

} // namespace

NotifySettings LoadNotifySettings()
{
    QSettings store = Store();
    NotifySettings s;
    s.webhookUrl = store.value(QStringLiteral("Notify/WebhookUrl")).toString().trimmed();
    s.webhookFormat = store.value(QStringLiteral("Notify/WebhookFormat"), QStringLiteral("json")).toString().trimmed().toLower();
    if (s.webhookFormat.isEmpty())
        s.webhookFormat = QStringLiteral("json");
    s.webhookToken = store.value(QStringLiteral("Notify/WebhookToken")).toString().trimmed();
    return s;
}

void SaveNotifySettings(const NotifySettings &s)
{
    QSettings store = Store();
    store.setValue(QStringLiteral("Notify/WebhookUrl"), s.webhookUrl.trimmed());
    store.setValue(QStringLiteral("Notify/WebhookFormat"), s.webhookFormat);
    store.setValue(QStringLiteral("Notify/WebhookToken"), s.webhookToken.trimmed());
    store.sync();
    if (store.status() != QSettings::NoError)
        throw ClarowError(75, QStringLiteral("The settings file could not be written: ") + store.fileName());
    // The token is a secret: the file stays readable by its owner only.
    QFile::setPermissions(store.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString NotifySettingsProblem(const NotifySettings &s)
{
    const QStringList formats{QStringLiteral("json"), QStringLiteral("ntfy"), QStringLiteral("slack")};
    if (!formats.contains(s.webhookFormat))
        return QStringLiteral("The webhook format must be json, ntfy or slack.");
    if (s.webhookUrl.trimmed().isEmpty())
        return {};
    const QUrl url(s.webhookUrl.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty())
        return QStringLiteral("The webhook address must be an http:// or https:// address, such as "
                              "https://ntfy.sh/my-topic.");
    for (const QChar c : s.webhookToken) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return QStringLiteral("The webhook token may hold only visible ASCII characters, without blanks.");
    }
    return {};
}

QJsonObject EventJson(NotifyEvent event, const MailRow &row, const QString &channel2Name, const Settings &settings,
                      const QDateTime &at)
{
    const bool alarm = event == NotifyEvent::Alarm;
    QString text = alarm ? AlarmBlock(row) : ReturnBlock(row);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const SensorKind &kind = KindOf(row.sensorId);

    QJsonObject limits{{QStringLiteral("temperature"), Limits(row.aTempLo, row.aTempHi)}};
    QJsonValue channel2 = QJsonValue::Null;
    if (kind.hasCh2) {
        const QString name = channel2Name.isEmpty() ? QLatin1String(kind.caption) : channel2Name;
        channel2 = QJsonObject{{QStringLiteral("name"), name},
                               {QStringLiteral("value"), Number(row.cCh2)},
                               {QStringLiteral("unit"), QLatin1String(kind.unit)}};
        limits.insert(QStringLiteral("channel2"), Limits(row.aCh2Lo, row.aCh2Hi));
    }
    const QDateTime local = at.toOffsetFromUtc(at.offsetFromUtc());
    return {
        {QStringLiteral("event"), alarm ? QStringLiteral("alarm") : QStringLiteral("return")},
        {QStringLiteral("site"), settings.LocationName},
        {QStringLiteral("sensor"), row.sensorId},
        {QStringLiteral("location"), row.location},
        {QStringLiteral("type"), SensorTypeText(row.sensorId)},
        {QStringLiteral("alarm"), text.trimmed()},
        {QStringLiteral("temperature"), row.connected.value_or(false) ? Number(row.cTmp) : QJsonValue::Null},
        {QStringLiteral("unit"), settings.CorF == QLatin1String("F") ? QStringLiteral("°F") : QStringLiteral("°C")},
        {QStringLiteral("channel2"), channel2},
        {QStringLiteral("water"), kind.hasWater ? WaterText(row.wStatus) : QJsonValue::Null},
        {QStringLiteral("limits"), limits},
        {QStringLiteral("time"), local.toString(Qt::ISODate)},
    };
}

WebhookRequest BuildWebhookRequest(const NotifySettings &s, const QJsonObject &e)
{
    WebhookRequest r;
    r.url = s.webhookUrl.trimmed().toUtf8();
    if (!s.webhookToken.isEmpty())
        r.headers << "Authorization: Bearer " + s.webhookToken.toLatin1();
    const bool alarm = e.value(QStringLiteral("event")).toString() == QLatin1String("alarm");
    const QString text = e.value(QStringLiteral("alarm")).toString();
    if (s.webhookFormat == QLatin1String("ntfy")) {
        r.headers << "Content-Type: text/plain; charset=utf-8";
        r.headers << "Title: " + HeaderValue(Title(e));
        r.headers << QByteArray(alarm ? "Priority: high" : "Priority: default");
        r.headers << QByteArray(alarm ? "Tags: warning" : "Tags: white_check_mark");
        r.body = text.toUtf8();
    } else if (s.webhookFormat == QLatin1String("slack")) {
        r.headers << "Content-Type: application/json";
        r.body = QJsonDocument(QJsonObject{{QStringLiteral("text"), Title(e) + QLatin1Char('\n') + text}})
                     .toJson(QJsonDocument::Compact);
    } else {
        r.headers << "Content-Type: application/json";
        r.body = QJsonDocument(e).toJson(QJsonDocument::Compact);
    }
    return r;
}

int RecordNotifications()
{
    if (LoadNotifySettings().webhookUrl.isEmpty() || !DatabaseIsOpen())
        return 0;
    const Settings &settings = program().settings;
    const int needed = qMax<int>(1, settings.MinsConsecutive);
    QList<StateRow> rows = LoadStateRows();

    // The mail's rule: a change that lasts the needed count of scans makes a notification due.
    // This state is the notifications' own and outlives the close-down (which resets the
    // mail's), so an alarm that lasts across a restart is not sent a second time, and one that
    // ended meanwhile gets its return to normal at the first scan.
    bool due = false;
    for (StateRow &s : rows) {
        const bool inAlarm = s.row.inAlarm.value_or(false);
        s.conc = (inAlarm != s.sent) ? s.conc + 1 : 0;
        if (s.conc >= needed) {
            due = true;
            s.conc = 0;
        }
    }

    QSqlDatabase db = Db();
    db.transaction();
    int events = 0;
    try {
        const QDateTime now = NowWholeSeconds();
        for (const StateRow &s : rows) {
            const bool inAlarm = s.row.inAlarm.value_or(false);
            const bool connected = s.row.connected.value_or(false);
            std::optional<NotifyEvent> event;
            if (due && inAlarm && !s.sent)
                event = NotifyEvent::Alarm;
            else if (due && !inAlarm && connected && s.sent)
                event = NotifyEvent::Return;
            if (!event) {
                Exec(db, QStringLiteral("UPDATE Sensors SET NotifyConc = ? WHERE SensorID = ?"), {s.conc, s.row.sensorId});
                continue;
            }
            const QJsonObject json = EventJson(*event, s.row, s.channel2Name, settings, now);
            Exec(db,
                 QStringLiteral("INSERT INTO Outbox (Channel, Event, SensorID, Created, Payload) VALUES (?, ?, ?, ?, ?)"),
                 {kChannel, json.value(QStringLiteral("event")).toString(), s.row.sensorId, ToSerial(now),
                  QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact))});
            if (*event == NotifyEvent::Alarm)
                Exec(db, QStringLiteral("UPDATE Sensors SET NotifySent = 1, NotifyConc = 0, NotifiedAlType = AlType "
                                        "WHERE SensorID = ?"),
                     {s.row.sensorId});
            else
                Exec(db, QStringLiteral("UPDATE Sensors SET NotifySent = 0, NotifyConc = 0, NotifiedAlType = NULL "
                                        "WHERE SensorID = ?"),
                     {s.row.sensorId});
            ++events;
        }
    } catch (...) {
        db.rollback();
        throw;
    }
    if (!db.commit())
        throw ClarowError(kErrDatabase, db.lastError().text());
    return events;
}

int DeliverOutbox()
{
    // The sends let events run; a second delivery meanwhile would send the same rows twice.
    static bool running = false;
    if (running || !DatabaseIsOpen())
        return 0;
    running = true;
    struct Done
    {
        ~Done() { running = false; }
    } done;

    const NotifySettings s = LoadNotifySettings();
    if (s.webhookUrl.isEmpty() || !NotifySettingsProblem(s).isEmpty())
        return 0; // kept until a receiver is set
    struct Pending
    {
        qint64 id;
        QJsonObject event;
    };
    QList<Pending> pending;
    {
        QSqlQuery q = Exec(QStringLiteral("SELECT Id, Payload FROM Outbox WHERE Channel = ? ORDER BY Id"), {kChannel});
        while (q.next())
            pending.append({q.value(0).toLongLong(), QJsonDocument::fromJson(q.value(1).toString().toUtf8()).object()});
    }
    int delivered = 0;
    for (const Pending &p : pending) {
        if (program().closing)
            break;
        const WebhookResult r = PostWebhook(BuildWebhookRequest(s, p.event));
        if (!r.ok) {
            Exec(QStringLiteral("UPDATE Outbox SET Attempts = Attempts + 1, LastError = ? WHERE Id = ?"), {r.error, p.id});
            NoteFailure(HostOf(s.webhookUrl), r.error);
            // In order: the rest waits for the next scan rather than overtaking this one.
            break;
        }
        Exec(QStringLiteral("DELETE FROM Outbox WHERE Id = ?"), {p.id});
        NoteWorks(HostOf(s.webhookUrl));
        ++delivered;
    }
    return delivered;
}

void NotifyAfterScan()
{
    try {
        RecordNotifications();
    } catch (const std::exception &e) {
        WriteLog(QStringLiteral("Error recording push notifications: ") + QString::fromLocal8Bit(e.what()));
    }
    try {
        DeliverOutbox();
    } catch (const std::exception &e) {
        WriteLog(QStringLiteral("Error sending push notifications: ") + QString::fromLocal8Bit(e.what()));
    }
    if (MqttPublisher *mqtt = MqttPublisher::active())
        mqtt->publishSensors();
}

WebhookResult SendTestNotification(const NotifySettings &s)
{
    if (const QString problem = NotifySettingsProblem(s); !problem.isEmpty())
        return {false, 0, problem};
    if (s.webhookUrl.isEmpty())
        return {false, 0, QStringLiteral("No webhook address is set.")};
    MailRow row;
    row.sensorId = QStringLiteral("28FF000000000000");
    row.location = QStringLiteral("Test");
    row.connected = true;
    QJsonObject e = EventJson(NotifyEvent::Alarm, row, {}, program().settings, Now());
    e.insert(QStringLiteral("event"), QStringLiteral("test"));
    e.insert(QStringLiteral("alarm"), QStringLiteral("Test notification from Clarow."));
    const WebhookResult r = PostWebhook(BuildWebhookRequest(s, e));
    if (!r.ok)
        WriteLog(QStringLiteral("Test push notification to %1 failed: %2").arg(HostOf(s.webhookUrl), r.error));
    return r;
}

} // namespace clarow
