#include "ScriptedSerialPort.h"

#include "link/Clock.h"

#include <algorithm>
#include <utility>

namespace clarow::test {

void ScriptedSerialPort::setReply(Reply reply)
{
    m_reply = std::move(reply);
}

bool ScriptedSerialPort::open()
{
    ++m_openAttempts;
    m_portsOpened.append(m_number);
    m_openTimes.append(clock().elapsedMs());
    if (m_open)
        return true;
    if (m_failOpens > 0) {
        --m_failOpens;
        return false;
    }
    if (!m_present.isEmpty() && !m_present.contains(m_number))
        return false;
    m_open = true;
    ++m_opens;
    return true;
}

void ScriptedSerialPort::close()
{
    if (!m_open)
        return;
    m_open = false;
    ++m_closes;
    // What was on its way is lost with the line.
    m_pending.clear();
    m_waiting.clear();
}

void ScriptedSerialPort::discard()
{
    deliver();
    m_waiting.clear();
}

int ScriptedSerialPort::bytesWaiting()
{
    deliver();
    return static_cast<int>(m_waiting.size());
}

QString ScriptedSerialPort::readAll()
{
    deliver();
    return std::exchange(m_waiting, QString());
}

bool ScriptedSerialPort::write(const QString &text)
{
    if (!m_open)
        return false;
    m_written.append(text);
    Reply reply;
    if (m_responder) {
        reply = m_responder(m_number, text);
    } else if (text == QLatin1String("D")) {
        if (!m_queued.empty()) {
            reply = m_queued.front();
            m_queued.pop_front();
        } else {
            reply = m_reply;
        }
    }
    const qint64 now = clock().elapsedMs();
    for (const Arrival &a : reply)
        m_pending.push_back({now + a.afterMs, a.text});
    std::stable_sort(m_pending.begin(), m_pending.end(),
                     [](const Pending &a, const Pending &b) { return a.dueMs < b.dueMs; });
    return true;
}

void ScriptedSerialPort::deliver()
{
    if (!m_open)
        return;
    const qint64 now = clock().elapsedMs();
    while (!m_pending.empty() && m_pending.front().dueMs <= now) {
        m_waiting += m_pending.front().text;
        m_pending.pop_front();
    }
}

} // namespace clarow::test
