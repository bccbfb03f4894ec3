#include "firmware/Upgrade.h"

#include "core/Logging.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "firmware/HexImage.h"
#include "link/Clock.h"
#include "link/SerialPort.h"

#include <QFile>

namespace clarow {

namespace {
constexpr double kBeforeLoaderSeconds = 0.08;
constexpr double kLoaderKeySeconds = 0.02;
// The loader answers its prompt within a few milliseconds; a busy computer may see it a
// little later, so the answer is looked for again for this long before giving up.
constexpr qint64 kLoaderAnswerMs = 500;
constexpr double kPollSeconds = 0.01;
constexpr qint64 kAttemptMs = 1000;
constexpr int kAttempts = 5;
const QString kImageResource = QStringLiteral(":/firmware/varnex.hex");

bool handshake(SerialPort &port)
{
    Pause(kBeforeLoaderSeconds);
    port.write(QStringLiteral("Z"));
    Pause(kLoaderKeySeconds);
    port.discard();
    Pause(0);
    port.write(QStringLiteral("\r"));
    Pause(kLoaderKeySeconds);
    QString reply = port.readAll();
    const qint64 started = clock().elapsedMs();
    while (!LoaderReady(reply) && clock().elapsedMs() - started < kLoaderAnswerMs
        && !program().closing) {
        Pause(kPollSeconds);
        reply += port.readAll();
    }
    qCDebug(lcFirmware, "loader %s: %s", LoaderReady(reply) ? "ready" : "did not answer", qUtf8Printable(reply));
    return LoaderReady(reply);
}

// One record, up to five attempts: true once the loader's reply ends in ".".
bool sendRecord(SerialPort &port, const QString &record)
{
    for (int attempt = 0; attempt < kAttempts && !program().closing; ++attempt) {
        port.discard();
        port.write(record + QLatin1Char('\r'));
        QString reply;
        const qint64 started = clock().elapsedMs();
        while (clock().elapsedMs() - started < kAttemptMs && !program().closing) {
            Pause(kPollSeconds);
            if (port.bytesWaiting() > 0)
                reply += port.readAll();
            if (reply.endsWith(QLatin1Char('.')))
                return true;
        }
        qCDebug(lcFirmware, "record %s not taken (attempt %d): %s", qUtf8Printable(record.left(9)), attempt + 1,
                qUtf8Printable(reply));
        Pause(0);
    }
    return false;
}
} // namespace

QString UpgradeSucceededText()
{
    return QStringLiteral("Varnex firmware update successfully upgraded to ")
        + QLatin1String(kExpectedFirmware) + QLatin1Char('.');
}

QString UpgradeOfferText()
{
    return QStringLiteral("The connected Varnex has the incorrect firmware version.\r"
                          "The expected version is ")
        + QLatin1String(kExpectedFirmware)
        + QStringLiteral(",\rDo you want to upgrade the firmware now?");
}

void oPort(SerialPort &port)
{
    if (program().upgrading)
        return;
    if (port.isOpen())
        port.close();
    port.setPortNumber(program().settings.PortNumber);
    if (!port.open()) {
        QString reason = port.errorText();
        if (reason.isEmpty())
            reason = QStringLiteral("Port %1 cannot be opened.").arg(port.portNumber());
        MsgBox(reason, QStringLiteral("Error opening COM port"));
        return;
    }
    port.discard();
}

QStringList LoadCode()
{
    QFile image(kImageResource);
    if (!image.open(QIODevice::ReadOnly))
        return {};
    return SplitRecords(image.readAll());
}

bool LoaderReady(const QString &reply)
{
    return reply.size() >= 3 && reply.contains(QLatin1String("L10"), Qt::CaseInsensitive);
}

bool UpgradeVarnex(
    SerialPort &port, const QStringList &records, const std::function<void(int record)> &progress)
{
    program().upgrading = true;
    bool ok = port.isOpen() && handshake(port);
    if (ok) {
        bool sentAny = false;
        for (qsizetype i = 0; i < records.size() && ok; ++i) {
            if (progress)
                progress(static_cast<int>(i));
            if (RecordSkipped(records[i])) {
                Pause(0);
                continue;
            }
            sentAny = true;
            ok = sendRecord(port, records[i]);
        }
        ok = ok && sentAny;
    }
    qCDebug(lcFirmware, "upgrade %s", ok ? "done" : "failed");
    if (ok) {
        port.write(QStringLiteral("E"));
        MsgBox(UpgradeSucceededText(), QStringLiteral("Success"));
        program().adapterOK = true;
    } else {
        MsgBox(QLatin1String(kUpgradeFailedText), QStringLiteral("Error"));
    }
    if (port.isOpen())
        port.close();
    return ok;
}

} // namespace clarow
