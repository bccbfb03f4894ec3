#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace clarow::test {

// A local HTTP receiver of push notifications (tests/support/webhook_sink.py) on 127.0.0.1.
class WebhookSink
{
public:
    WebhookSink();
    ~WebhookSink();
    WebhookSink(const WebhookSink &) = delete;
    WebhookSink &operator=(const WebhookSink &) = delete;

    [[nodiscard]] bool running() const { return m_port > 0 && m_process.state() == QProcess::Running; }
    [[nodiscard]] QString url(const QString &path = QStringLiteral("/hook")) const;
    // Answers every request with this status (and keeps nothing) until 0 is set.
    void failWith(int status);
    // Every request taken so far: method, path, headers (an object), body.
    [[nodiscard]] QList<QJsonObject> requests() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

// A real mosquitto broker on a free port of 127.0.0.1, anonymous, without persistence.
class MqttBroker
{
public:
    MqttBroker();
    ~MqttBroker();
    MqttBroker(const MqttBroker &) = delete;
    MqttBroker &operator=(const MqttBroker &) = delete;

    // Starts it (again, on the same port); true once it accepts connections.
    bool start();
    void stop();
    [[nodiscard]] int port() const { return m_port; }
    [[nodiscard]] QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // The retained messages on the broker now, by topic (what a new subscriber gets at once).
    [[nodiscard]] QMap<QString, QByteArray> retained(const QString &filter = QStringLiteral("#")) const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

} // namespace clarow::test
