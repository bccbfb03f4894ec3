#include "retyper/TypeTool.h"

#include "link/Clock.h"
#include "retyper/Inventory.h"

#include <stdexcept>

namespace clarow::retyper {

namespace {
constexpr double kIdentifySeconds = 0.5;  // for the identification line
constexpr double kInventorySeconds = 2.0; // for one inventory reply
constexpr double kSettleSeconds = 0.5;    // after a type write, before the inventory
constexpr double kPollSeconds = 0.05;     // between reads; events run in between
constexpr int kInventoryAttempts = 3;

// A port that cannot be opened or written; the caller turns it into its status text.
struct PortFailure : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// Marks an exchange as running for its lifetime.
class BusyScope
{
public:
    explicit BusyScope(bool &busy) : m_busy(busy) { m_busy = true; }
    ~BusyScope() { m_busy = false; }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    bool &m_busy;
};
} // namespace

TypeTool::TypeTool(SerialPort &port) : m_port(port) {}

TypeTool::~TypeTool() { closePort(); }

void TypeTool::choosePort(int number)
{
    // An exchange still running belongs to the old port; its answer must not fill the list.
    // Its last status text no longer holds either.
    if (m_busy) {
        m_stopping = true;
        setStatus(QString());
    }
    m_portNumber = number;
    m_adapterFound = false;
    setList({}, -1);
}

void TypeTool::closePort()
{
    if (m_port.isOpen())
        m_port.close();
}

bool TypeTool::scan()
{
    if (m_busy)
        return false;
    BusyScope busy(m_busy);
    m_stopping = false;
    const int number = m_portNumber;
    try {
        closePort();
        m_port.setPortNumber(number);
        if (!m_port.open())
            throw PortFailure("open");
        m_port.discard();
        send(QStringLiteral(" "));
        // Once the adapter has answered on this port it is not waited for again.
        if (!m_adapterFound) {
            const QString reply = collect(kIdentifySeconds, [](const QString &r) {
                return r.left(6) == QLatin1String("Varnex");
            });
            // A reply that came in while another port was chosen is the old port's: it
            // says nothing about the new one.
            if (!m_stopping && number == m_portNumber)
                m_adapterFound = reply.left(6) == QLatin1String("Varnex");
        }
        if (m_stopping || number != m_portNumber)
            return true;
        if (!m_adapterFound) {
            setStatus(QStringLiteral("Varnex not found."));
            return true;
        }
        setStatus(QStringLiteral("Varnex found."));
        inventory(QString());
    } catch (const std::exception &) {
        if (m_stopping || number != m_portNumber)
            return true;
        const QString denied = PortAccessProblem(number);
        setStatus(denied.isEmpty() ? QStringLiteral("Could not open selected port.") : denied);
    }
    return true;
}

bool TypeTool::apply(const QString &sensorEntry, const QString &typeEntry)
{
    if (m_busy)
        return false;
    BusyScope busy(m_busy);
    m_stopping = false;
    setStatus(QString());
    const QString expected = ExpectedLine(sensorEntry, typeEntry);
    // Without a listed sensor there is nothing to write to.
    if (expected.size() != kSensorLineLength || sensorEntry.size() < kSensorLineLength)
        return true;
    try {
        openIfClosed();
        m_port.discard();
        send(TypeWriteCommand(sensorEntry, typeEntry));
        wait(kSettleSeconds);
        if (inventory(expected))
            setStatus(QStringLiteral("Sensor changed successfully"));
    } catch (const std::exception &) {
        setStatus(QStringLiteral("Error changing sensor"));
    }
    return true;
}

bool TypeTool::inventory(const QString &preferred)
{
    QString reply;
    ReplyState state = ReplyState::Incomplete;
    for (int attempt = 0; attempt < kInventoryAttempts && state == ReplyState::Incomplete; ++attempt) {
        if (m_stopping)
            return false;
        setStatus(attempt == 0 ? QStringLiteral("Scanning") : QStringLiteral("Retrying"));
        openIfClosed();
        m_port.discard();
        send(QStringLiteral("I"));
        reply = collect(kInventorySeconds, [](const QString &r) {
            return InventoryState(r) != ReplyState::Incomplete;
        });
        state = InventoryState(reply);
    }
    if (m_stopping)
        return false;
    // Without a complete list the sensors shown so far stay, so a lost reply loses nothing.
    if (state != ReplyState::Complete) {
        setStatus(QStringLiteral("No multi-sensors found"));
        return false;
    }
    const InventoryList list = ParseInventory(reply, preferred);
    setList(list.entries, list.selected);
    // A bus of other sensors only gives a complete but empty list: say so, rather than
    // announcing sensors that are not there.
    setStatus(list.entries.isEmpty() ? QStringLiteral("No multi-sensors found")
                                     : QStringLiteral("Multi-sensors found"));
    return list.preferredSeen;
}

void TypeTool::openIfClosed()
{
    if (m_port.isOpen())
        return;
    m_port.setPortNumber(m_portNumber);
    if (!m_port.open())
        throw PortFailure("open");
}

void TypeTool::send(const QString &command)
{
    if (!m_port.write(command))
        throw PortFailure("write");
}

QString TypeTool::collect(double seconds, const std::function<bool(const QString &)> &done)
{
    QString reply;
    const qint64 until = clock().elapsedMs() + qint64(seconds * 1000);
    while (clock().elapsedMs() < until && !m_stopping) {
        Pause(kPollSeconds);
        if (!m_port.isOpen())
            throw PortFailure("closed");
        reply += m_port.readAll();
        if (done(reply))
            break;
    }
    return reply;
}

void TypeTool::wait(double seconds)
{
    const qint64 until = clock().elapsedMs() + qint64(seconds * 1000);
    while (clock().elapsedMs() < until && !m_stopping)
        Pause(kPollSeconds);
}

void TypeTool::setStatus(const QString &text)
{
    m_statusText = text;
    if (m_status)
        m_status(text);
}

void TypeTool::setList(QStringList entries, int selected)
{
    m_entries = std::move(entries);
    if (m_list)
        m_list(m_entries, selected);
}

} // namespace clarow::retyper
