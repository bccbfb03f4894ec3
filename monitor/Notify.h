#pragma once

#include "monitor/Webhook.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace clarow {

struct Settings;
struct MailRow;

// The push notification settings, section [Notify] of the settings file. An empty URL
// sends nothing.
struct NotifySettings
{
    QString webhookUrl;
    QString webhookFormat = QStringLiteral("json"); // "json", "ntfy" or "slack"
    QString webhookToken;                           // sent as "Authorization: Bearer"

    friend bool operator==(const NotifySettings &, const NotifySettings &) = default;
};
[[nodiscard]] NotifySettings LoadNotifySettings();
// Writes the section; throws ClarowError when the store cannot be written.
void SaveNotifySettings(const NotifySettings &s);
// What is wrong with a webhook address or format, in words for the user; empty when it will do
// (an empty address, which turns the notifications off, will do).
[[nodiscard]] QString NotifySettingsProblem(const NotifySettings &s);

// What a notification is about: a sensor that went into alarm, or one back to normal.
enum class NotifyEvent { Alarm, Return };

// The event as the "json" format sends it: event, site, sensor, location, type, the alarm
// text the mail uses for the sensor, temperature and its unit, channel2 (name, value, unit)
// or null, water ("Dry", "Wet", "Fault") or null, limits and the time with its offset.
[[nodiscard]] QJsonObject EventJson(NotifyEvent event, const MailRow &row, const QString &channel2Name,
                                    const Settings &settings, const QDateTime &at);
// The request for one event in the configured format.
[[nodiscard]] WebhookRequest BuildWebhookRequest(const NotifySettings &s, const QJsonObject &event);

// After each scan: records the alarm and return-to-normal notifications that fell due in the
// Outbox table, by the rule the alarm mail follows (an alarm, or a return to normal, that lasts
// MinsConsecutive scans makes every sensor that qualifies then due), and sends what the Outbox
// holds. A delivery that fails stays in the Outbox and is tried again at the next scan. Never
// throws.
void NotifyAfterScan();
// The two steps of NotifyAfterScan. RecordNotifications returns the count of new events;
// DeliverOutbox the count of deliveries the receiver took.
int RecordNotifications();
int DeliverOutbox();

// Sends a test notification with these settings. The result says whether the receiver took it.
[[nodiscard]] WebhookResult SendTestNotification(const NotifySettings &s);

} // namespace clarow
