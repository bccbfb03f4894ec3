#include "monitor/ReadAdapter.h"

#include "link/Clock.h"
#include "link/SerialPort.h"
#include "shell/DiagnosticLog.h"
#include "shell/Program.h"

namespace clarow {

namespace {
constexpr double kSettleSeconds = 0.3;      // after opening, before the command
constexpr qint64 kFirstReplyMs = 3000;      // for the first characters of the reply
constexpr qint64 kNextArrivalMs = 1000;     // every arrival extends the exchange by this
constexpr double kPollSeconds = 0.05;
constexpr double kRetrySeconds = 0.15;
constexpr double kGiveUpSeconds = 1.0;      // after the last failed attempt
constexpr int kLastAttempt = 2;             // attempts are counted 0, 1, 2
constexpr qsizetype kShortReply = 20;       // "?01" is looked for only in a reply this short
const QString kNoSensors = QStringLiteral("?01");
const QString kEnd = QStringLiteral("EOD");
} // namespace

QDateTime ReadAdapter(SerialPort &port, int portNumber, bool logComms, QString &rxBuffer,
                      QDateTime &lastGoodRead, const StatusSink &status)
{
    // Every status line is followed by a pause so that the window repaints it.
    const auto show = [&status](const QString &text) {
        if (status)
            status(text);
        Pause(0);
    };

    rxBuffer.clear();
    QDateTime result = ZeroDate();
    bool portTested = false;
    try {
        for (int attempt = 0;; ++attempt) {
            bool failed = true;
            portTested = TestPort(port, portNumber);
            if (portTested) {
                if (port.isOpen())
                    port.close();
                port.setPortNumber(portNumber);
                if (port.isOpen() || port.open()) {
                    port.discard();
                    Pause(kSettleSeconds);
                    rxBuffer.clear();
                    port.write(QStringLiteral("D"));

                    // Elapsed time, not the time of day, so that an exchange across midnight
                    // or a clock change lasts as long as any other.
                    qint64 deadline = clock().elapsedMs() + kFirstReplyMs;
                    bool done = false;
                    failed = false;
                    while (clock().elapsedMs() <= deadline) {
                        // A program closing down does not wait for the rest of a reply.
                        if (done || program().closing)
                            break;
                        Pause(kPollSeconds);
                        if (port.bytesWaiting() <= 0)
                            continue;
                        rxBuffer += port.readAll();
                        if (rxBuffer.size() <= kShortReply && rxBuffer.contains(kNoSensors)) {
                            rxBuffer.clear();
                            done = true;
                            show(QStringLiteral("No sensors connected"));
                            continue;
                        }
                        if (rxBuffer.contains(QLatin1Char('?'))) {
                            failed = true;
                            break;
                        }
                        deadline = clock().elapsedMs() + kNextArrivalMs;
                        if (rxBuffer.size() <= kShortReply)
                            continue;
                        // Only an "EOD" that follows at least one sensor line ends the reading.
                        if (rxBuffer.indexOf(kEnd, kShortReply) >= 0) {
                            show(QStringLiteral("Reading successful"));
                            done = true;
                            if (logComms)
                                WriteLog(rxBuffer + QStringLiteral("\r\n"));
                            result = NowWholeSeconds();
                            lastGoodRead = result;
                        }
                    }
                    if (!failed) {
                        if (!done)
                            show(QStringLiteral("Scan timed out."));
                        break;
                    }
                }
            }
            if (program().closing)
                break;
            if (attempt >= kLastAttempt) {
                show(QStringLiteral("Scan failed."));
                Pause(kGiveUpSeconds);
                break;
            }
            show(QStringLiteral("Scan failed, retrying."));
            Pause(kRetrySeconds);
        }
    } catch (...) {
        // The scan cycle goes on whatever happened here; the result stays as it was.
    }
    if (portTested && port.isOpen())
        port.close();
    return result;
}

} // namespace clarow
