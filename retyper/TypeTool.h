#pragma once

#include "link/SerialPort.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace clarow::retyper {

// The tool's exchanges with the adapter: finding it on a port, the inventory of the
// multi-sensors on its bus, and the rewrite of one sensor's type code. It keeps the list
// of sensors found and reports every status text and list change to the window as it
// happens, so that the window repaints during the waits.
//
// The waits let pending window events run; a Scan or Apply that arrives during a wait is
// refused rather than started on top of the running exchange.
class TypeTool
{
public:
    using StatusSink = std::function<void(const QString &status)>;
    using ListSink = std::function<void(const QStringList &entries, int selected)>;

    explicit TypeTool(SerialPort &port);
    ~TypeTool();
    TypeTool(const TypeTool &) = delete;
    TypeTool &operator=(const TypeTool &) = delete;

    void onStatus(StatusSink sink) { m_status = std::move(sink); }
    void onList(ListSink sink) { m_list = std::move(sink); }

    // Another port was chosen: the adapter must be found again and the list no longer holds.
    void choosePort(int number);
    [[nodiscard]] int portNumber() const { return m_portNumber; }

    // Opens the chosen port, looks for the adapter and, when it answers, takes the inventory.
    // False when refused because an exchange is already running.
    bool scan();
    // Writes the type of the type entry into the sensor of the sensor entry and takes the
    // inventory that shows whether it took. False when refused.
    bool apply(const QString &sensorEntry, const QString &typeEntry);

    // Asks a running exchange to end at its next wait (the window is closing).
    void stop() { m_stopping = true; }
    // Closes the port if it is open.
    void closePort();

    [[nodiscard]] bool busy() const { return m_busy; }
    [[nodiscard]] bool adapterFound() const { return m_adapterFound; }
    [[nodiscard]] const QStringList &entries() const { return m_entries; }
    [[nodiscard]] const QString &status() const { return m_statusText; }

private:
    bool inventory(const QString &preferred);
    void openIfClosed();
    void send(const QString &command);
    // Collects the reply for up to `seconds`, letting events run between reads, until
    // `done` says it is complete. Returns what arrived.
    QString collect(double seconds, const std::function<bool(const QString &)> &done);
    // Waits, letting events run, unless the exchange is asked to stop.
    void wait(double seconds);
    void setStatus(const QString &text);
    void setList(QStringList entries, int selected);

    SerialPort &m_port;
    int m_portNumber = kFirstPort;
    bool m_adapterFound = false;
    bool m_busy = false;
    bool m_stopping = false;
    QStringList m_entries;
    QString m_statusText;
    StatusSink m_status;
    ListSink m_list;
};

} // namespace clarow::retyper
