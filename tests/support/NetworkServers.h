#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include "SimProcess.h"

#include <functional>
#include <string>

namespace clarow::test {

// A TCP port on 127.0.0.1 that nothing listens on at the moment of asking.
[[nodiscard]] quint16 FreeTcpPort();

// One HTTP/1.0 request to 127.0.0.1:port, waited for at most 5 seconds. The status code
// (0 when there was no answer) and the body.
struct HttpReply
{
    int status = 0;
    QByteArray body;
    QByteArray head; // status line and header lines
    // The value of a header line of the reply (name in any case); empty when absent.
    [[nodiscard]] QByteArray header(const QByteArray &name) const;
};
// extraHead: further header lines, each ended by CR LF.
[[nodiscard]] HttpReply HttpRequest(quint16 port, const QByteArray &path, const QByteArray &method = "GET",
                                    const QByteArray &extraHead = {});

// HttpRequest from another thread while this one runs its events (on which a server's pages
// are rebuilt).
[[nodiscard]] HttpReply HttpRequestRunningEvents(quint16 port, const QByteArray &path, const QByteArray &method = "GET",
                                                 const QByteArray &extraHead = {});

// One TCP connection to 127.0.0.1:port on a plain socket, for tests that hold many
// connections at once or send what no well-behaved client sends. Every wait is bounded.
class TcpConnection
{
public:
    explicit TcpConnection(quint16 port);
    ~TcpConnection();
    TcpConnection(const TcpConnection &) = delete;
    TcpConnection &operator=(const TcpConnection &) = delete;

    [[nodiscard]] bool connected() const { return m_fd >= 0; }
    // Sends data until it is all gone, the peer closes or takes no more for ms; the bytes sent.
    qint64 send(const QByteArray &data, int ms = 5000);
    // Everything the peer sends until it closes the connection or ms pass.
    [[nodiscard]] QByteArray readAll(int ms = 5000);
    // True when the peer has closed or reset the connection, waiting at most ms for it; what
    // the peer sends meanwhile is read and kept for readAll().
    [[nodiscard]] bool closedByPeer(int ms = 0);

private:
    int m_fd = -1;
    bool m_closed = false;
    QByteArray m_received;
};

// The status code of an HTTP reply's text; 0 when there is none.
[[nodiscard]] int HttpStatus(const QByteArray &reply);

// The resident memory of this process in KiB (VmRSS of /proc/self/status).
[[nodiscard]] qint64 ResidentKiB();

// "name{labels}" -> value, for every sample line of a Prometheus text exposition.
[[nodiscard]] QMap<QString, QString> ExpositionSamples(const QByteArray &text);

// Runs a program to its end (at most 60 seconds) with input on its standard input; its exit
// code (-1 when it did not start or end) and everything it wrote.
struct ToolRun
{
    int exitCode = -1;
    QByteArray output;
};
[[nodiscard]] ToolRun RunTool(const QString &program, const QStringList &args, const QByteArray &input = {});

// True when the program is installed (on PATH or at the absolute path given).
[[nodiscard]] bool HaveProgram(const QString &program);

// The adapter simulator (with the scenario) behind ser2net, which bridges its pseudo-terminal
// to raw TCP on a free port of 127.0.0.1 with the configuration the README gives.
class Ser2Net
{
public:
    explicit Ser2Net(const QString &scenario);
    ~Ser2Net();
    Ser2Net(const Ser2Net &) = delete;
    Ser2Net &operator=(const Ser2Net &) = delete;

    // Starts the bridge (the simulator runs from the start) and waits until the port accepts
    // connections.
    bool start();
    void stop();
    [[nodiscard]] SimProcess &sim() { return m_sim; }
    [[nodiscard]] QString deviceName() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(m_port); }
    // ser2net's and the simulator's logs.
    [[nodiscard]] std::string log();

private:
    QTemporaryDir m_dir;
    SimProcess m_sim;
    QProcess m_process;
    quint16 m_port;
};

// A Prometheus server on 127.0.0.1 that scrapes 127.0.0.1:target/metrics every second.
class Prometheus
{
public:
    explicit Prometheus(quint16 target);
    ~Prometheus();
    Prometheus(const Prometheus &) = delete;
    Prometheus &operator=(const Prometheus &) = delete;

    [[nodiscard]] bool started() const { return m_started; }
    // The result vector of an instant query; empty when it failed.
    [[nodiscard]] QJsonArray query(const QString &promql);
    [[nodiscard]] QString log();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_started = false;
};

// Ends a process: asked first, killed when it does not end within 5 seconds.
void StopProcess(QProcess &process);

// Waits (polling every 200 ms, events running) until done() holds or ms have passed.
bool WaitUntil(const std::function<bool()> &done, int ms);

} // namespace clarow::test
