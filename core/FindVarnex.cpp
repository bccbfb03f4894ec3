#include "core/FindVarnex.h"

#include "core/Helpers.h"
#include "core/Logging.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/SerialPort.h"

namespace clarow {

namespace {
constexpr double kSettleSeconds = 0.1;   // after opening, before the first probe
constexpr qint64 kProbeForMs = 1000;     // how long one port is probed
constexpr double kBetweenKeysSeconds = 0.01;
constexpr double kReplySeconds = 0.1;
constexpr int kShortestReply = 13;       // fewer waiting characters are not looked at
constexpr int kRevisionH = 72;           // "H": the first revision that needs no upgrade

// Probes the open port for up to a second; the verdict, or NoVarnex when nothing answered.
int probe(SerialPort &port)
{
    Pause(kSettleSeconds);
    const qint64 started = clock().elapsedMs();
    while (clock().elapsedMs() - started < kProbeForMs) {
        port.discard();
        port.write(QStringLiteral("b"));
        Pause(kBetweenKeysSeconds);
        port.write(QStringLiteral(" "));
        Pause(kReplySeconds);
        if (port.bytesWaiting() < kShortestReply)
            continue;
        const QString text = port.readAll();
        const qsizetype cr = text.indexOf(QLatin1Char('\r'));
        // Only a complete line counts; a reply cut off before its carriage return does not.
        if (cr < 0)
            continue;
        const QString reply = text.left(cr + 1).toUpper();
        if (reply.contains(QLatin1String("VARNEX")))
            return FirmwareVerdict(reply);
    }
    return NoVarnex;
}
} // namespace

int FirmwareVerdict(const QString &reply)
{
    QString line = reply.toUpper();
    while (line.endsWith(QLatin1Char('\r')) || line.endsWith(QLatin1Char('\n')))
        line.chop(1);
    if (line.isEmpty())
        return VarnexTooOld;
    const int letter = line.back().unicode();
    const double version = LeadingNumber(line.mid(std::max<qsizetype>(0, line.size() - 4), 3));
    return letter >= kRevisionH && version >= 1.0 ? VarnexReady : VarnexTooOld;
}

int FindVarnex(SerialPort &port, bool singlePort, const std::function<void(int port)> &trying)
{
    Settings &settings = program().settings;
    const int tries = singlePort || settings.SuppressScan ? 1 : kLastPort;
    int number = settings.PortNumber;
    // A port number outside the range names no port; the scan then starts at the first.
    if (!singlePort && (number < kFirstPort || number > kLastPort))
        number = kFirstPort;
    int result = NoVarnex;
    for (int i = 0; i < tries && result == NoVarnex; ++i) {
        if (trying)
            trying(number);
        if (TestPort(port, number)) {
            if (port.isOpen())
                port.close();
            port.setPortNumber(number);
            if (port.isOpen() || port.open()) {
                port.discard();
                result = probe(port);
                if (result != NoVarnex && number != settings.PortNumber) {
                    try {
                        SavePortNumber(number);
                    } catch (const std::exception &e) {
                        // The adapter is found all the same; the store is written next time.
                        qCWarning(lcLink).noquote() << QStringLiteral("Port number %1 not stored: %2")
                                                    .arg(number)
                                                    .arg(QString::fromUtf8(e.what()));
                        settings.PortNumber = static_cast<qint16>(number);
                    }
                }
            }
        }
        if (port.isOpen())
            port.close();
        number = number >= kLastPort ? kFirstPort : number + 1;
    }
    return result;
}

QString PortAccessProblems()
{
    const Settings &settings = program().settings;
    int number = settings.PortNumber;
    if (number < kFirstPort || number > kLastPort)
        number = kFirstPort;
    const int tries = settings.SuppressScan ? 1 : kLastPort;
    for (int i = 0; i < tries; ++i) {
        const QString problem = PortAccessProblem(number);
        if (!problem.isEmpty())
            return problem;
        number = number >= kLastPort ? kFirstPort : number + 1;
    }
    return {};
}

QString VarnexNotFoundText()
{
    const QString problem = PortAccessProblems();
    if (!problem.isEmpty())
        return QStringLiteral("The Varnex was not found. ") + problem;
    return QStringLiteral("The Varnex was not found. Please\rselect and test the port number manually.");
}

} // namespace clarow
