#include "monitor/ReadAdapter.h"

#include "core/DiagnosticLog.h"
#include "core/Logging.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/SerialPort.h"

#include <algorithm>
#include <exception>
#include <utility>

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

// Every status line is followed by a pause so that the window repaints it.
void show(const StatusSink &status, const QString &text)
{
    if (status)
        status(text);
    Pause(0);
}
} // namespace

ReadResult ReadAdapterOnce(SerialPort &port, int portNumber, bool logComms, const StatusSink &status)
{
    ReadResult result;
    if (!TestPort(port, portNumber))
        return result;
    if (port.isOpen())
        port.close();
    port.setPortNumber(portNumber);
    if (!port.isOpen() && !port.open())
        return result;
    port.discard();
    Pause(kSettleSeconds);
    // What arrived before the command (the tail of an earlier reply that did not end)
    // belongs to no reply of this one.
    port.discard();
    port.write(QStringLiteral("D"));

    // Elapsed time, not the time of day, so that an exchange across midnight or a clock
    // change lasts as long as any other.
    const qint64 sent = clock().elapsedMs();
    const qint64 cutOff = sent + kLongestExchangeMs;
    qint64 deadline = sent + kFirstReplyMs;
    QString &reply = result.reply;
    QString overLimit;
    result.status = ReadStatus::TimedOut;
    // A program closing down does not wait for the rest of a reply.
    while (result.status == ReadStatus::TimedOut && !program().closing
           && clock().elapsedMs() <= deadline) {
        Pause(kPollSeconds);
        if (port.bytesWaiting() <= 0)
            continue;
        reply += port.readAll();
        if (reply.size() <= kShortReply && reply.contains(kNoSensors)) {
            reply.clear();
            result.status = ReadStatus::NoSensors;
            show(status, QStringLiteral("No sensors connected"));
            continue;
        }
        if (reply.contains(QLatin1Char('?'))) {
            result.status = ReadStatus::ErrorReply;
            return result;
        }
        if (reply.size() > kLongestReply) {
            reply.truncate(kLongestReply);
            overLimit = QStringLiteral("Scan stopped: the Varnex reply grew past %1 "
                                       "characters without \"EOD\".")
                            .arg(kLongestReply);
            break;
        }
        deadline = std::min(clock().elapsedMs() + kNextArrivalMs, cutOff);
        if (reply.size() <= kShortReply)
            continue;
        // Only an "EOD" that follows at least one sensor line ends the reading.
        if (reply.indexOf(kEnd, kShortReply) >= 0) {
            show(status, QStringLiteral("Reading successful"));
            if (logComms)
                WriteLog(reply + QStringLiteral("\r\n"));
            result.readAt = NowWholeSeconds();
            result.status = ReadStatus::Complete;
        }
    }
    if (result.status != ReadStatus::TimedOut)
        return result;
    if (overLimit.isEmpty() && deadline == cutOff && clock().elapsedMs() > cutOff
        && !program().closing) {
        overLimit = QStringLiteral("Scan stopped: the Varnex reply did not end "
                                   "within %1 seconds (%2 characters received).")
                        .arg(kLongestExchangeMs / 1000)
                        .arg(reply.size());
    }
    if (!overLimit.isEmpty() && program().settings.LogErrors)
        WriteLog(overLimit);
    show(status, QStringLiteral("Scan timed out."));
    return result;
}

ReadResult ReadAdapter(SerialPort &port, int portNumber, bool logComms, const StatusSink &status)
{
    ReadResult result;
    try {
        for (int attempt = 0;; ++attempt) {
            ReadResult tried = ReadAdapterOnce(port, portNumber, logComms, status);
            qCDebug(lcScan, "attempt %d on port %d: status %d, %lld characters", attempt + 1, portNumber,
                    int(tried.status), qint64(tried.reply.size()));
            // An attempt whose port did not open read nothing: the reply of an earlier attempt
            // is kept.
            if (tried.status == ReadStatus::PortFailed)
                tried.reply = result.reply;
            result = std::move(tried);
            if (result.status != ReadStatus::PortFailed && result.status != ReadStatus::ErrorReply)
                break;
            if (program().closing)
                break;
            if (attempt >= kLastAttempt) {
                show(status, QStringLiteral("Scan failed."));
                Pause(kGiveUpSeconds);
                break;
            }
            show(status, QStringLiteral("Scan failed, retrying."));
            Pause(kRetrySeconds);
        }
    } catch (const std::exception &e) {
        // The scan cycle goes on whatever happened here: the exchange counts as a failed port.
        const QString fault = QStringLiteral("Scan stopped by a fault: %1").arg(QString::fromUtf8(e.what()));
        qCWarning(lcScan).noquote() << fault;
        if (program().settings.LogErrors)
            WriteLog(fault);
        result.status = ReadStatus::PortFailed;
        result.readAt = ZeroDate();
    }
    if (port.isOpen())
        port.close();
    return result;
}

} // namespace clarow
