#pragma once

#include "RunUntil.h"

#include "app/ui/MainMDI.h"

#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace clarow {
class Collection;
}

namespace clarow::test {

// Writes values into the program's settings store (section ClarowMon), as a user's earlier
// run would have left them.
void StoreSettings(const QList<QPair<QString, QString>> &values);

// The settings that send alarm and return-to-normal mail for every change (one scan out of
// limits is enough) to the SMTP server on 127.0.0.1 at port, subjects "Sensor alarm" and
// "Sensors back to normal".
[[nodiscard]] QList<QPair<QString, QString>> AlarmMailSettings(int port);

// The whole program started as a user starts it (main window, adapter search, monitoring
// window), its scans brought forward one after the other instead of once a minute, and
// every text its status box showed.
class MonitorRun
{
public:
    MonitorRun();
    ~MonitorRun();
    MonitorRun(const MonitorRun &) = delete;
    MonitorRun &operator=(const MonitorRun &) = delete;

    // Starts the program; false when it found no adapter or opened no monitoring window.
    bool start();
    // Runs scans until `count` more have ended or the time is up. Each starts as soon as the
    // one before has ended, a whole logging slot late, so its reading goes to the history.
    bool runScans(int count, int ms);
    [[nodiscard]] int scans() const;
    [[nodiscard]] Collection *monitor() const { return m_monitor; }
    [[nodiscard]] const QStringList &statuses() const { return m_statuses; }
    // The statuses, joined for a failure message.
    [[nodiscard]] std::string statusText() const;

private:
    std::unique_ptr<MainMDI> m_main;
    Collection *m_monitor = nullptr;
    QStringList m_statuses;
};

} // namespace clarow::test
