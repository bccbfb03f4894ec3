#pragma once

#include <QProcess>
#include <QString>

#include <optional>

namespace clarow::test {

// The adapter simulator (build/bin/varnex-sim) running on a pseudo-terminal of its own for
// the length of a test.
class SimProcess
{
public:
    // Starts the simulator with a scenario given as text (written to a temporary file), or
    // the built-in demo bus when scenario is empty; extraArgs are passed on. Waits until it
    // has printed its pseudo-terminal's path.
    explicit SimProcess(const QString &scenario = {}, const QStringList &extraArgs = {});
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    [[nodiscard]] bool started() const { return !m_path.isEmpty(); }
    // The pseudo-terminal's device path.
    [[nodiscard]] QString path() const { return m_path; }
    // Sets VARNEX_PORT_<port> to this simulator's path, or to the given device (its --link),
    // undone when it stops.
    void attachAsPort(int port, const QString &device = {});
    // Everything the simulator wrote to standard error so far.
    [[nodiscard]] QString log();

private:
    QProcess m_process;
    QString m_path;
    QString m_scenarioFile;
    QString m_logFile;
    QList<int> m_ports;
    QList<std::optional<QByteArray>> m_savedPorts; // the values m_ports had before
};

// Makes VARNEX_PORT_1 ... VARNEX_PORT_16 name missing devices, so that no test ever opens a
// real serial port of the machine. Undone when it goes.
class NoRealPorts
{
public:
    NoRealPorts();
    ~NoRealPorts();
    NoRealPorts(const NoRealPorts &) = delete;
    NoRealPorts &operator=(const NoRealPorts &) = delete;

private:
    QList<std::optional<QByteArray>> m_saved; // ports 1 to 16
};

} // namespace clarow::test
