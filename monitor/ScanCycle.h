#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

namespace clarow {

// What the scan cycle needs from the monitoring window. Every step is optional, so the cycle
// also runs without a window (tests).
struct ScanView
{
    virtual ~ScanView() = default;
    // Shows a progress or countdown text in the status box.
    virtual void showStatus(const QString &) {}
    // Rebuilds the status grid from table Sensors.
    virtual void buildGrid() {}
    // Closes the monitoring window; data collection stops until the user starts it again.
    virtual void closeWindow() {}
};

// The scan cycle of the monitoring window: a 200 ms timer whose ticks count down to the next
// scan or run one (reading exchange, decoding, sensor update, alarm evaluation, grid, mail),
// the history schedule, the two-hour watch, and the upkeep of the database connection with
// the weekly compaction.
class ScanCycle : public QObject
{
    Q_OBJECT
public:
    explicit ScanCycle(ScanView *view = nullptr, QObject *parent = nullptr);

    void setView(ScanView *view) { m_view = view; }

    // The window has loaded: the two-hour watch starts counting now, the timer runs.
    void start();
    // Stops the timer (the window closes).
    void stop();

    // One tick of the cycle.
    void Timer1_Timer();
    // Decodes RxBuffer, updates the sensors, appends history rows when toHistory is set, then
    // evaluates the alarms, rebuilds the grid and sends mail when due. False when the reply
    // could not be decoded or stored (the database upkeep has run instead).
    bool DecodeReadings(bool toHistory);
    // Rebuilds the database connection after a failed decoding and carries out a pending
    // weekly compaction.
    void MaintainDatabase();
    // Throws the connection away, opens a new one and counts its own failures, so that a
    // lasting outage is noted once and its end is logged.
    void ReconnectDatabase();

    [[nodiscard]] QTimer &timer() { return Timer1; }
    // True while a scan (exchange, decoding, upkeep) is under way.
    [[nodiscard]] bool scanning() const { return m_scanning; }
    // How many scans have run since the cycle was made (the exchange was attempted).
    [[nodiscard]] int scanCount() const { return m_scanCount; }

    QString RxBuffer;
    QDateTime LastGoodRead;
    bool CompactRequested = false;
    QDateTime LastCompacted;
    bool MailPending = false;
    qint16 ReconnectFailures = 0;
    bool OutageReported = false;
    QDateTime OutageTime;

private:
    void requestWeeklyCompaction(const QDateTime &now);
    void runScan();
    void showStatus(const QString &text);
    void logError(const QString &context, const QString &description);

    QTimer Timer1;
    ScanView *m_view = nullptr;
    bool m_scanning = false;
    int m_scanCount = 0;
    QDateTime m_lastScanStart; // the second in which the last scan started
    bool m_scanOwed = false;   // a scan fell due while the port was lent
};

} // namespace clarow
