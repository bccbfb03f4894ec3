#include "monitor/Webhook.h"

#include "core/Helpers.h"
#include "core/Logging.h"
#include "core/Program.h"
#include "link/Clock.h"

#include <QUrl>

#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <thread>

namespace clarow {

namespace {

constexpr long kTimeoutSecs = 10;

struct Transfer
{
    WebhookRequest request;
    QByteArray answer;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    WebhookResult result;
    std::atomic<bool> abort{false};
};

size_t KeepAnswer(char *data, size_t size, size_t count, void *userData)
{
    auto *t = static_cast<Transfer *>(userData);
    // Only the start of an answer is of use in a log line.
    if (t->answer.size() < 512)
        t->answer.append(data, static_cast<qsizetype>(qMin<size_t>(size * count, 512)));
    return size * count;
}

int CheckAbort(void *userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer *>(userData)->abort.load() ? 1 : 0;
}

void RunTransfer(Transfer &t)
{
    CURL *curl = curl_easy_init();
    if (!curl) {
        t.result.error = QStringLiteral("The transfer library could not start.");
        return;
    }
    curl_slist *headers = nullptr;
    for (const QByteArray &h : t.request.headers)
        headers = curl_slist_append(headers, h.constData());
    // A receiver that asks to continue would cost a second per request.
    headers = curl_slist_append(headers, "Expect:");

    curl_easy_setopt(curl, CURLOPT_URL, t.request.url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTimeoutSecs);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, t.request.body.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.request.body.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "clarow/" CLAROW_VERSION);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &KeepAnswer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, t.errorBuffer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CheckAbort);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);

    t.result.status = static_cast<int>(status);
    if (code != CURLE_OK) {
        QString text = QString::fromUtf8(t.errorBuffer).trimmed();
        if (text.isEmpty())
            text = QString::fromUtf8(curl_easy_strerror(code));
        t.result.error = text;
        return;
    }
    if (status < 200 || status > 299) {
        t.result.error = QStringLiteral("The receiver answered HTTP %1").arg(status);
        const QString answer = QString::fromUtf8(t.answer).simplified().left(200);
        if (!answer.isEmpty())
            t.result.error += QStringLiteral(": ") + answer;
        return;
    }
    t.result.ok = true;
}

} // namespace

WebhookResult PostWebhook(const WebhookRequest &request)
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Q_UNUSED(initialised);

    auto t = std::make_shared<Transfer>();
    t->request = request;
    // The address may carry a secret (a topic or a key in its path): only its host is traced.
    const QString host = QUrl(QString::fromUtf8(request.url)).host();
    qCDebug(lcNotify, "posting %lld bytes to %s", qint64(request.body.size()), qUtf8Printable(host));
    RunWhileWaiting([t] { RunTransfer(*t); }, t->abort, 0.02);
    qCDebug(lcNotify, "answer from %s: status %d %s", qUtf8Printable(host), t->result.status,
            qUtf8Printable(t->result.error));
    return t->result;
}

} // namespace clarow
