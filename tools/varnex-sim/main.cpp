// varnex-sim: a stand-in for the Varnex adapter on a pseudo-terminal.
//
//   varnex-sim [--scenario FILE] [--link PATH] [--version TEXT]
//
// Prints the pseudo-terminal's device path as the first line of standard output, answers
// the adapter's commands as the scenario says (the demo bus without one), writes a line per
// command to standard error and runs until SIGTERM or SIGINT.
#include "Adapter.h"

#include <QFile>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace varnexsim;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

int Fail(const QString &text)
{
    std::fprintf(stderr, "varnex-sim: %s\n", qPrintable(text));
    return 2;
}

struct Pending
{
    QByteArray data;
    std::chrono::steady_clock::time_point due;
    int unplugMs = 0; // after the data: the adapter is pulled out for this long
    int repeatMs = -1; // sent again this long after it went out, until the next command
    QByteArray original; // what a repeated piece sends each time
};

} // namespace

int main(int argc, char **argv)
{
    QString scenarioFile, linkPath, version;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (i + 1 < argc && arg == QLatin1String("--scenario"))
            scenarioFile = QString::fromLocal8Bit(argv[++i]);
        else if (i + 1 < argc && arg == QLatin1String("--link"))
            linkPath = QString::fromLocal8Bit(argv[++i]);
        else if (i + 1 < argc && arg == QLatin1String("--version"))
            version = QString::fromLocal8Bit(argv[++i]);
        else
            return Fail(QStringLiteral("usage: varnex-sim [--scenario FILE] [--link PATH] [--version TEXT]"));
    }

    Scenario scenario = DemoScenario();
    if (!scenarioFile.isEmpty()) {
        QFile file(scenarioFile);
        if (!file.open(QIODevice::ReadOnly))
            return Fail(QStringLiteral("cannot read %1: %2").arg(scenarioFile, file.errorString()));
        QString error;
        const auto parsed = ParseScenario(QString::fromUtf8(file.readAll()), &error);
        if (!parsed)
            return Fail(QStringLiteral("%1: %2").arg(scenarioFile, error));
        scenario = *parsed;
    }
    Adapter adapter(scenario);
    if (!version.isEmpty())
        adapter.overrideVersion(version);

    const QByteArray link = linkPath.toLocal8Bit();
    if (!link.isEmpty()) {
        struct stat st {};
        if (lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
            return Fail(QStringLiteral("%1 exists and is not a symbolic link; not replaced").arg(linkPath));
    }
    int master = -1;
    int slave = -1;
    QByteArray slavePath;
    // Opens a new pseudo-terminal (and points the link at it): the adapter plugged in.
    const auto plugIn = [&]() -> QString {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return QStringLiteral("cannot open a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        slavePath = ptsname(master);
        // Our own hold on the terminal: the program opens and closes the port for every
        // exchange, and without a second opener each close would hang the line up.
        slave = open(slavePath.constData(), O_RDWR | O_NOCTTY);
        if (slave < 0)
            return QStringLiteral("cannot open %1").arg(QString::fromLatin1(slavePath));
        termios tio {};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio); // no echo, no carriage return / line feed translation
        cfsetspeed(&tio, B9600);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(slave, TCSANOW, &tio);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        if (!link.isEmpty()) {
            unlink(link.constData());
            if (symlink(slavePath.constData(), link.constData()) != 0)
                return QStringLiteral("cannot link %1: %2").arg(linkPath, QString::fromLocal8Bit(strerror(errno)));
        }
        return {};
    };
    // Closes the terminal and takes the link away: the adapter pulled out.
    const auto unplug = [&] {
        if (!link.isEmpty()) {
            char target[4096];
            const ssize_t n = readlink(link.constData(), target, sizeof target - 1);
            if (n > 0 && QByteArray(target, n) == slavePath)
                unlink(link.constData());
        }
        close(slave);
        close(master);
    };
    if (const QString error = plugIn(); !error.isEmpty())
        return Fail(error);

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", slavePath.constData());
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto secondsNow = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    Log(0, QStringLiteral("adapter \"Varnex %1\" with %2 sensors on %3")
               .arg(adapter.version()).arg(adapter.sensors().size()).arg(QString::fromLatin1(slavePath)));

    std::deque<Pending> out;
    Clock::time_point lastDue = start;
    while (!g_stop) {
        adapter.advance(secondsNow());

        // Send what is due; a full terminal buffer keeps the rest for later.
        while (!out.empty() && out.front().due <= Clock::now()) {
            Pending &p = out.front();
            // A reply that never ends gives way to the next command at once.
            if (p.repeatMs >= 0) {
                pollfd in {master, POLLIN, 0};
                if (poll(&in, 1, 0) > 0 && (in.revents & POLLIN))
                    break;
            }
            const ssize_t n = write(master, p.data.constData(), size_t(p.data.size()));
            if (n < 0)
                break;
            p.data.remove(0, n);
            if (!p.data.isEmpty())
                break;
            const int awayMs = p.unplugMs;
            Pending sent = std::move(p);
            out.pop_front();
            if (sent.repeatMs >= 0) {
                sent.data = sent.original;
                sent.due = Clock::now() + std::chrono::milliseconds(sent.repeatMs);
                out.push_back(std::move(sent));
                continue;
            }
            if (awayMs > 0) {
                // Whatever was still to be sent goes with the line.
                out.clear();
                unplug();
                Log(secondsNow(), QStringLiteral("unplugged for %1 ms").arg(awayMs));
                std::this_thread::sleep_for(std::chrono::milliseconds(awayMs));
                if (const QString error = plugIn(); !error.isEmpty())
                    return Fail(error);
                Log(secondsNow(), QStringLiteral("plugged in again on %1").arg(QString::fromLatin1(slavePath)));
                break;
            }
        }

        int timeoutMs = 250;
        if (!out.empty()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(out.front().due - Clock::now());
            timeoutMs = std::clamp(int(wait.count()), 5, timeoutMs);
        }
        const double nextEvent = adapter.nextEventIn(secondsNow());
        if (nextEvent >= 0)
            timeoutMs = std::min(timeoutMs, int(nextEvent * 1000) + 1);

        pollfd pfd {master, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) <= 0)
            continue; // time-out, or a signal that ends the loop
        if (pfd.revents & POLLIN) {
            char buffer[512];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) {
                // A reply that never ends stops with the next command, the line it was in
                // the middle of included.
                std::erase_if(out, [](const Pending &p) { return p.repeatMs >= 0; });
                const QList<Chunk> chunks = adapter.receive(QByteArray(buffer, n), secondsNow());
                // Replies follow each other in order, as from one serial line.
                const Clock::time_point base = std::max(Clock::now(), lastDue);
                for (const Chunk &c : chunks) {
                    const Clock::time_point due = base + std::chrono::milliseconds(c.delayMs);
                    out.push_back({c.data, due, 0, c.repeatMs, c.data});
                    lastDue = std::max(lastDue, due);
                }
                if (const int awayMs = adapter.takeUnplug(); awayMs > 0) {
                    if (out.empty())
                        out.push_back({QByteArray(), base});
                    out.back().unplugMs = awayMs;
                }
                continue;
            }
        }
        if (pfd.revents & (POLLHUP | POLLERR)) {
            // Nobody holds the terminal for a moment (EIO); wait for the next opener.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    Log(secondsNow(), QStringLiteral("stopping"));
    unplug();
    return 0;
}
