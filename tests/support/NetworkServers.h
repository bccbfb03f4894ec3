#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace clarow::test {

// A TCP port on 127.0.0.1 that nothing listens on at the moment of asking.
[[nodiscard]] quint16 FreeTcpPort();

// One HTTP/1.0 request to 127.0.0.1:port, waited for at most 5 seconds. The status code
// (0 when there was no answer) and the body.
struct HttpReply
{
    int status = 0;
    QByteArray body;
};
[[nodiscard]] HttpReply HttpRequest(quint16 port, const QByteArray &path, const QByteArray &method = "GET");

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

// ser2net bridging a device (the simulator's pseudo-terminal) to raw TCP on 127.0.0.1:port,
// as a user would set it up with the README's configuration.
class Ser2Net
{
public:
    Ser2Net(const QString &device, quint16 port);
    ~Ser2Net();
    Ser2Net(const Ser2Net &) = delete;
    Ser2Net &operator=(const Ser2Net &) = delete;

    // Starts it and waits until the port accepts connections.
    bool start();
    void stop();
    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] QString deviceName() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(m_port); }
    [[nodiscard]] QString log();

private:
    QTemporaryDir m_dir;
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

// Waits (polling every 200 ms, events running) until done() holds or ms have passed.
bool WaitUntil(const std::function<bool()> &done, int ms);

} // namespace clarow::test
