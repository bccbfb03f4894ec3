#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace clarow {

// One HTTP POST to a push receiver (a webhook, an ntfy topic, a chat's incoming hook).
struct WebhookRequest
{
    QByteArray url;
    QByteArray body;
    QList<QByteArray> headers; // "Name: value" lines, Content-Type among them
};

// The outcome: ok for a 2xx answer; status is the HTTP status (0 when none came) and error
// says what went wrong in words fit for the diagnostic log (never a header's value).
struct WebhookResult
{
    bool ok = false;
    int status = 0;
    QString error;
};

// Sends the request through libcurl on a worker thread (at most 10 seconds) while the
// calling thread waits with Pause, so the windows keep repainting.
[[nodiscard]] WebhookResult PostWebhook(const WebhookRequest &request);

} // namespace clarow
