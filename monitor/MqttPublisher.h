#pragma once

#include "monitor/Metrics.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

struct mosquitto;

namespace clarow {

// The MQTT settings, section [Mqtt] of the settings file. An empty broker publishes nothing.
struct MqttSettings
{
    QString broker;   // "host:port" (port 1883, or 8883 with TLS, when left out)
    QString user;
    QString password;
    bool tls = false; // the broker's certificate is checked against the system's CAs
    QString topicPrefix = QStringLiteral("clarow");
    QString discoveryPrefix = QStringLiteral("homeassistant");
    QString clientId; // "clarow-<host name>" when empty
};
[[nodiscard]] MqttSettings LoadMqttSettings();

// A sensor identifier as it goes into topics and entity ids: every character other than a
// letter, a digit, "-" or "_" becomes "_" ("26A1B2C3D4E5F60B 19" → "26A1B2C3D4E5F60B_19").
[[nodiscard]] QString TopicSafeId(const QString &sensorId);

using MqttMessage = QPair<QString, QByteArray>; // topic, payload

// The retained state of one sensor on <prefix>/<id>/state: temperature in °C, the second
// channel under its kind, water, connected, alarm, alarm_type and the time.
[[nodiscard]] QByteArray SensorStatePayload(const SensorSample &sensor, const QDateTime &at);
// The Home Assistant discovery configs of one sensor, one per entity.
[[nodiscard]] QList<MqttMessage> DiscoveryConfigs(const SensorSample &sensor, const MqttSettings &s);

// Publishes the sensors to an MQTT broker: availability on <prefix>/status (online; offline as
// the last will and at close-down), Home Assistant discovery configs and a retained state per
// sensor after each scan. The network runs on libmosquitto's own thread: a publish only
// queues, so a broker that is slow or gone never holds up a scan. A lost connection is
// re-made with growing pauses, and everything is published again once it is back.
class MqttPublisher : public QObject
{
    Q_OBJECT
public:
    explicit MqttPublisher(const MqttSettings &settings, QObject *parent = nullptr);
    ~MqttPublisher() override;

    // Starts connecting; false with errorText() when the settings cannot be used.
    bool start();
    [[nodiscard]] QString errorText() const { return m_error; }
    [[nodiscard]] bool connected() const { return m_connected.load(); }

    // Publishes the state of every sensor in table Sensors, and the discovery configs of the
    // sensors that are new or have changed; removes the configs of sensors that are gone.
    void publishSensors();

    // The publisher the scan cycle feeds (null when MQTT is off).
    [[nodiscard]] static MqttPublisher *active();

private:
    void onConnected();
    void onDisconnected(int reason);
    bool publish(const QString &topic, const QByteArray &payload, bool retain, int qos = 0);
    [[nodiscard]] QString statusTopic() const;

    static void connectCallback(mosquitto *, void *self, int rc);
    static void disconnectCallback(mosquitto *, void *self, int rc);
    static void publishCallback(mosquitto *, void *self, int mid);

    MqttSettings m_settings;
    mosquitto *m_mosq = nullptr;
    bool m_loopRunning = false;
    std::atomic<bool> m_connected{false};
    std::atomic<int> m_lastPublished{-1};
    QString m_error;
    bool m_lossLogged = false;
    // The configs on the broker by sensor: the entity topics and what they were made from.
    struct Published
    {
        QString location;
        QStringList topics;
    };
    QHash<QString, Published> m_configs;
};

// Starts the publisher when [Mqtt] Broker is set, and tells on standard error and in the
// diagnostic log where it publishes or why it cannot. Null when MQTT is off.
[[nodiscard]] std::unique_ptr<MqttPublisher> StartMqtt();

} // namespace clarow
