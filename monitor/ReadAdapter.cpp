#include "monitor/ReadAdapter.h"

#include "link/Clock.h"
#include "link/SerialPort.h"
#include "core/DiagnosticLog.h"
#include "core/Program.h"
#include "core/Settings.h"

#include <algorithm>

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

// Absolute limits of one exchange. Every arrival extends the exchange, so an adapter (or a
// network bridge) that keeps sending without ever ending its reply would hold the scan for
// as long as it talks, with a buffer that grows without end.
//
// The longest honest reply: 200 sensors, the largest bus the program is built and measured
// for, each with the longest line there is, a humidity-and-water multi-sensor at -55 degrees
// with four decimals ("26" + 14 digits + " 1E,-55.0625,-67.1125,100,1,1" + CR LF, 47
// characters), then "EOD": 9,405 characters. At 9600 baud with 8 data bits, no parity and
// one stop bit the line carries 960 characters a second: 9.8 s, plus the 3 s the adapter may
// take before its first line, 12.8 s. Three times that, rounded up, is the limit: 40 s, in
// which even a bus of 600 sensors is read.
constexpr qint64 kLongestExchangeMs = 40000;
// In those 40 s a 9600-baud line carries at most 38,400 characters; a reply longer than
// this comes from a link faster than the adapter's own and is never an honest reading.
constexpr qsizetype kLongestReply = 65536;
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
                    // What arrived before the command (the tail of an earlier reply that
                    // did not end) belongs to no reply of this one.
                    port.discard();
                    port.write(QStringLiteral("D"));

                    // Elapsed time, not the time of day, so that an exchange across midnight
                    // or a clock change lasts as long as any other.
                    const qint64 sent = clock().elapsedMs();
                    const qint64 cutOff = sent + kLongestExchangeMs;
                    qint64 deadline = sent + kFirstReplyMs;
                    bool done = false;
                    QString overLimit;
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
                        if (rxBuffer.size() > kLongestReply) {
                            rxBuffer.truncate(kLongestReply);
                            overLimit = QStringLiteral("Scan stopped: the Varnex reply grew past %1 "
                                                       "characters without \"EOD\".")
                                            .arg(kLongestReply);
                            break;
                        }
                        deadline = std::min(clock().elapsedMs() + kNextArrivalMs, cutOff);
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
                        if (!done && overLimit.isEmpty() && deadline == cutOff
                            && clock().elapsedMs() > cutOff && !program().closing) {
                            overLimit = QStringLiteral("Scan stopped: the Varnex reply did not end "
                                                       "within %1 seconds (%2 characters received).")
                                            .arg(kLongestExchangeMs / 1000)
                                            .arg(rxBuffer.size());
                        }
                        if (!overLimit.isEmpty() && program().settings.LogErrors)
                            WriteLog(overLimit);
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
