#pragma once

#include "core/Prompter.h"
#include "monitor/ScanCycle.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace clarow {

class SerialPort;

// clarow without windows, run as a service: the same start-up (settings, database, adapter
// search) and the same scan cycle with history, alarms and mail. What a window would show
// (status texts, message boxes) and every diagnostic log entry go to the diagnostic log and
// to standard error. An adapter search that finds nothing is repeated every minute; an
// adapter with old firmware is reported and searched for again, never upgraded unattended.
class Headless : public QObject, public ScanView, public Prompter
{
    Q_OBJECT
public:
    static constexpr int kRetryMs = 60'000;

    explicit Headless(QObject *parent = nullptr);
    ~Headless() override;

    // Settings and database, then the first adapter search. False when the start-up failed
    // ("Error loading Clarow" has been reported); the program then ends.
    bool startUp();
    // Closes down as "E&xit" does: once no scan holds the port and the database, the sensor
    // states are reset and the database closed; then closedDown is emitted.
    void requestShutdown();

    void setRetryInterval(int ms) { m_retry.setInterval(ms); }
    [[nodiscard]] ScanCycle &cycle() { return m_cycle; }
    // True while the scan cycle runs (an adapter was found).
    [[nodiscard]] bool monitoring() const { return m_monitoring; }

    // ScanView
    void showStatus(const QString &text) override;
    void closeWindow() override;
    // Prompter: a box is reported and answered as if dismissed.
    Answer ask(const QString &text, const QString &title, Buttons buttons, Icon icon) override;

Q_SIGNALS:
    void closedDown();

private:
    void searchAdapter();
    void report(const QString &text);
    void finishShutdown();

    std::unique_ptr<SerialPort> m_port;
    ScanCycle m_cycle;
    QTimer m_retry;
    QString m_lastStatus;
    QString m_lastSearch; // what the last adapter search reported
    bool m_searching = false;
    bool m_monitoring = false;
    bool m_closing = false;
    bool m_closedDown = false;
};

} // namespace clarow
