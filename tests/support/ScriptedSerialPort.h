#pragma once

#include "link/SerialPort.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

namespace clarow::test {

// Text that the far end sends, afterMs milliseconds (on the installed clock) after the
// command that caused it was written.
struct Arrival
{
    qint64 afterMs = 0;
    QString text;
};
using Reply = QList<Arrival>;

// An in-memory serial port for exchanges in virtual time. Opening can be made to fail;
// whatever is written is recorded and may start a scripted reply, whose pieces become
// waiting characters once the clock has reached their time.
class ScriptedSerialPort final : public SerialPort
{
public:
    // Decides the reply to written text on a port; an empty reply sends nothing.
    using Responder = std::function<Reply(int port, const QString &written)>;

    // The next n opens fail; later ones succeed (unless the port is absent).
    void failOpens(int n) { m_failOpens = n; }
    // Only these ports exist; every port when the list is empty.
    void setPresentPorts(QList<int> ports) { m_present = std::move(ports); }
    // The same reply to every command "D" (and to nothing else).
    void setReply(Reply reply);
    // Replies to commands "D" in turn; when used up, the reply of setReply follows.
    void queueReply(Reply reply) { m_queued.push_back(std::move(reply)); }
    // Full control over what answers what.
    void setResponder(Responder responder) { m_responder = std::move(responder); }

    [[nodiscard]] const QStringList &written() const { return m_written; }
    [[nodiscard]] int openAttempts() const { return m_openAttempts; }
    [[nodiscard]] int opens() const { return m_opens; }
    [[nodiscard]] int closes() const { return m_closes; }
    // The port number of every open attempt, in order.
    [[nodiscard]] const QList<int> &portsOpened() const { return m_portsOpened; }
    // The clock's elapsed time at every open attempt.
    [[nodiscard]] const QList<qint64> &openTimes() const { return m_openTimes; }

    void setPortNumber(int number) override { m_number = number; }
    [[nodiscard]] int portNumber() const override { return m_number; }
    bool open() override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return m_open; }
    void discard() override;
    [[nodiscard]] int bytesWaiting() override;
    QString readAll() override;
    bool write(const QString &text) override;

private:
    struct Pending
    {
        qint64 dueMs;
        QString text;
    };
    void deliver();

    int m_number = kFirstPort;
    bool m_open = false;
    int m_failOpens = 0;
    QList<int> m_present;
    Reply m_reply;
    std::deque<Reply> m_queued;
    Responder m_responder;
    std::deque<Pending> m_pending;
    QString m_waiting;
    QStringList m_written;
    int m_openAttempts = 0;
    int m_opens = 0;
    int m_closes = 0;
    QList<int> m_portsOpened;
    QList<qint64> m_openTimes;
};

} // namespace clarow::test
