#include "monitor/MqttPublisher.h"

#include "core/DiagnosticLog.h"
#include "core/Helpers.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "link/TypeCodes.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QSet>
#include <QSettings>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

#include <mosquitto.h>

#include <cstdio>

namespace clarow {

namespace {

MqttPublisher *g_active = nullptr;

constexpr int kKeepAliveSecs = 30;
constexpr unsigned kReconnectMinSecs = 1;
constexpr unsigned kReconnectMaxSecs = 60;

const char *AlarmTypeName(int type)
{
    switch (type) {
    case 0:
        return "none";
    case 1:
        return "low_temperature";
    case 2:
        return "high_temperature";
    case 3:
        return "low_channel2";
    case 4:
        return "high_channel2";
    case 5:
        return "wet";
    case 6:
        return "dry";
    case 7:
        return "tape_fault";
    case 9:
        return "disconnected";
    default:
        return "unknown";
    }
}

QJsonValue Value(const std::optional<double> &v)
{
    if (!v)
        return QJsonValue::Null;
    return SingleText(static_cast<float>(*v)).toDouble();
}

QString WaterName(int status)
{
    switch (status) {
    case 0:
        return QStringLiteral("Dry");
    case 2:
        return QStringLiteral("Wet");
    default:
        return QStringLiteral("Fault");
    }
}

QString ModelOf(const QString &sensorId)
{
    if (const TypeCode *code = FindTypeCode(TypeOf(sensorId)); code && FamilyOf(sensorId) == QLatin1String(kMultiSensorFamily))
        return QLatin1String(code->description) + QStringLiteral(" (") + SensorTypeText(sensorId) + QLatin1Char(')');
    return QStringLiteral("Temperature sensor (family %1)").arg(FamilyOf(sensorId));
}

QString AdapterIdentifier(const MqttSettings &s) { return QStringLiteral("clarow_varnex_") + TopicSafeId(s.clientId); }

QString Prefix(const QString &text, const char *fallback)
{
    QString p = text.trimmed();
    while (p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.isEmpty() ? QLatin1String(fallback) : p;
}

} // namespace

MqttSettings LoadMqttSettings()
{
    QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    store.beginGroup(QStringLiteral("Mqtt"));
    MqttSettings s;
    s.broker = store.value(QStringLiteral("Broker")).toString().trimmed();
    s.user = store.value(QStringLiteral("User")).toString();
    s.password = store.value(QStringLiteral("Password")).toString();
    const QString tls = store.value(QStringLiteral("TLS")).toString().trimmed().toLower();
    s.tls = tls == QLatin1String("true") || tls == QLatin1String("1") || tls == QLatin1String("yes");
    s.topicPrefix = Prefix(store.value(QStringLiteral("TopicPrefix")).toString(), "clarow");
    s.discoveryPrefix = Prefix(store.value(QStringLiteral("DiscoveryPrefix")).toString(), "homeassistant");
    s.clientId = store.value(QStringLiteral("ClientId")).toString().trimmed();
    if (s.clientId.isEmpty())
        s.clientId = QStringLiteral("clarow-") + QSysInfo::machineHostName();
    return s;
}

QString TopicSafeId(const QString &sensorId)
{
    QString out;
    out.reserve(sensorId.size());
    for (const QChar c : sensorId.trimmed()) {
        const bool plain = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                           || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('-')
                           || c == QLatin1Char('_');
        out += plain ? c : QLatin1Char('_');
    }
    return out;
}

QByteArray SensorStatePayload(const SensorSample &s, const QDateTime &at)
{
    QJsonObject o{
        {QStringLiteral("temperature"), Value(s.celsius)},
        {QStringLiteral("connected"), s.connected},
        {QStringLiteral("alarm"), s.inAlarm},
        {QStringLiteral("alarm_type"), QLatin1String(AlarmTypeName(s.alarmType))},
        {QStringLiteral("time"), at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate)},
    };
    if (!s.channel2Kind.isEmpty())
        o.insert(s.channel2Kind, Value(s.channel2));
    if (KindOf(s.sensor).hasWater)
        o.insert(QStringLiteral("water"), s.water ? QJsonValue(WaterName(*s.water)) : QJsonValue::Null);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QList<MqttMessage> DiscoveryConfigs(const SensorSample &s, const MqttSettings &settings)
{
    const QString id = TopicSafeId(s.sensor);
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{QStringLiteral("clarow_") + id}},
        {QStringLiteral("name"), s.location.isEmpty() ? s.sensor : s.location},
        {QStringLiteral("model"), ModelOf(s.sensor)},
        {QStringLiteral("manufacturer"), QStringLiteral("Clarow")},
        {QStringLiteral("serial_number"), s.sensor},
        {QStringLiteral("via_device"), AdapterIdentifier(settings)},
    };
    QList<MqttMessage> out;
    auto entity = [&](const char *component, const QString &channel, const QString &name, const char *deviceClass,
                      const QString &unit, const QString &valueTemplate) {
        const QString objectId = QStringLiteral("clarow_") + id + QLatin1Char('_') + channel;
        QJsonObject c{
            {QStringLiteral("name"), name},
            {QStringLiteral("unique_id"), objectId},
            {QStringLiteral("object_id"), objectId},
            {QStringLiteral("state_topic"), settings.topicPrefix + QLatin1Char('/') + id + QStringLiteral("/state")},
            {QStringLiteral("value_template"), valueTemplate},
            {QStringLiteral("availability_topic"), settings.topicPrefix + QStringLiteral("/status")},
            {QStringLiteral("device"), device},
        };
        if (deviceClass)
            c.insert(QStringLiteral("device_class"), QLatin1String(deviceClass));
        if (!unit.isEmpty()) {
            c.insert(QStringLiteral("unit_of_measurement"), unit);
            c.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
        }
        out.append({settings.discoveryPrefix + QLatin1Char('/') + QLatin1String(component) + QLatin1Char('/') + objectId
                        + QStringLiteral("/config"),
                    QJsonDocument(c).toJson(QJsonDocument::Compact)});
    };
    auto flag = [](const char *key) {
        return QStringLiteral("{{ 'ON' if value_json.%1 else 'OFF' }}").arg(QLatin1String(key));
    };
    entity("sensor", QStringLiteral("temperature"), QStringLiteral("Temperature"), "temperature", QStringLiteral("°C"),
           QStringLiteral("{{ value_json.temperature }}"));
    // The second channel as Home Assistant knows it, under the key the state payload gives it.
    const SensorKind &kind = KindOf(s.sensor);
    if (kind.hasCh2 && s.channel2Kind == QLatin1String(kind.metricKind))
        entity("sensor", s.channel2Kind, QLatin1String(kind.channel2), kind.deviceClass, QLatin1String(kind.unit),
               QStringLiteral("{{ value_json.%1 }}").arg(s.channel2Kind));
    if (kind.hasWater)
        entity("binary_sensor", QStringLiteral("water"), QStringLiteral("Water"), "moisture", {},
               QStringLiteral("{{ 'ON' if value_json.water == 'Wet' else 'OFF' }}"));
    entity("binary_sensor", QStringLiteral("alarm"), QStringLiteral("Alarm"), "problem", {}, flag("alarm"));
    entity("binary_sensor", QStringLiteral("connected"), QStringLiteral("Connected"), "connectivity", {},
           flag("connected"));
    return out;
}

MqttPublisher::MqttPublisher(const MqttSettings &settings, QObject *parent) : QObject(parent), m_settings(settings)
{
    static const bool initialised = mosquitto_lib_init() == MOSQ_ERR_SUCCESS;
    Q_UNUSED(initialised);
}

MqttPublisher::~MqttPublisher()
{
    if (g_active == this)
        g_active = nullptr;
    if (!m_mosq)
        return;
    if (m_loopRunning) {
        if (m_connected.load()) {
            // Say goodbye before leaving, and give the broker a moment to take it.
            int mid = 0;
            if (mosquitto_publish(m_mosq, &mid, statusTopic().toUtf8().constData(), 7, "offline", 1, true)
                == MOSQ_ERR_SUCCESS) {
                QElapsedTimer waited;
                waited.start();
                while (m_lastPublished.load() != mid && m_connected.load() && waited.elapsed() < 2000)
                    QThread::msleep(10);
            }
        }
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
    }
    mosquitto_destroy(m_mosq);
}

MqttPublisher *MqttPublisher::active() { return g_active; }

QString MqttPublisher::statusTopic() const { return m_settings.topicPrefix + QStringLiteral("/status"); }

bool MqttPublisher::start()
{
    QString host = m_settings.broker;
    int port = m_settings.tls ? 8883 : 1883;
    const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && !host.endsWith(QLatin1Char(']'))) {
        bool ok = false;
        port = host.mid(colon + 1).toInt(&ok);
        if (!ok || port <= 0 || port > 65535) {
            m_error = QStringLiteral("The MQTT broker \"%1\" is not host:port.").arg(m_settings.broker);
            return false;
        }
        host = host.left(colon);
    }
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty()) {
        m_error = QStringLiteral("The MQTT broker \"%1\" names no host.").arg(m_settings.broker);
        return false;
    }

    m_mosq = mosquitto_new(m_settings.clientId.toUtf8().constData(), true, this);
    if (!m_mosq) {
        m_error = QStringLiteral("The MQTT library could not start.");
        return false;
    }
    mosquitto_connect_callback_set(m_mosq, &MqttPublisher::connectCallback);
    mosquitto_disconnect_callback_set(m_mosq, &MqttPublisher::disconnectCallback);
    mosquitto_publish_callback_set(m_mosq, &MqttPublisher::publishCallback);
    const QByteArray status = statusTopic().toUtf8();
    mosquitto_will_set(m_mosq, status.constData(), 7, "offline", 1, true);
    if (!m_settings.user.isEmpty())
        mosquitto_username_pw_set(m_mosq, m_settings.user.toUtf8().constData(),
                                  m_settings.password.isEmpty() ? nullptr : m_settings.password.toUtf8().constData());
    if (m_settings.tls) {
        if (const int rc = mosquitto_tls_set(m_mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
            rc != MOSQ_ERR_SUCCESS) {
            m_error = QStringLiteral("TLS for the MQTT broker could not be set up: ") + QString::fromUtf8(mosquitto_strerror(rc));
            return false;
        }
    }
    mosquitto_reconnect_delay_set(m_mosq, kReconnectMinSecs, kReconnectMaxSecs, true);
    // A broker that is not there yet is no failure: the library's thread keeps trying.
    mosquitto_connect_async(m_mosq, host.toUtf8().constData(), port, kKeepAliveSecs);
    if (const int rc = mosquitto_loop_start(m_mosq); rc != MOSQ_ERR_SUCCESS) {
        m_error = QStringLiteral("The MQTT thread could not start: ") + QString::fromUtf8(mosquitto_strerror(rc));
        return false;
    }
    m_loopRunning = true;
    g_active = this;
    // A broker that cannot be reached at all never says goodbye: say it once here.
    QTimer::singleShot(10000, this, [this] {
        if (m_connected.load() || m_lossLogged)
            return;
        m_lossLogged = true;
        WriteLog(QStringLiteral("MQTT: no connection to %1 yet; trying again.").arg(m_settings.broker));
    });
    return true;
}

void MqttPublisher::connectCallback(mosquitto *, void *self, int rc)
{
    auto *p = static_cast<MqttPublisher *>(self);
    if (rc != 0) {
        QMetaObject::invokeMethod(p, [p, rc] { p->onDisconnected(rc + 1000); }, Qt::QueuedConnection);
        return;
    }
    p->m_connected.store(true);
    QMetaObject::invokeMethod(p, [p] { p->onConnected(); }, Qt::QueuedConnection);
}

void MqttPublisher::disconnectCallback(mosquitto *, void *self, int rc)
{
    auto *p = static_cast<MqttPublisher *>(self);
    p->m_connected.store(false);
    QMetaObject::invokeMethod(p, [p, rc] { p->onDisconnected(rc); }, Qt::QueuedConnection);
}

void MqttPublisher::publishCallback(mosquitto *, void *self, int mid)
{
    static_cast<MqttPublisher *>(self)->m_lastPublished.store(mid);
}

bool MqttPublisher::publish(const QString &topic, const QByteArray &payload, bool retain, int qos)
{
    if (!m_mosq || !m_connected.load())
        return false;
    return mosquitto_publish(m_mosq, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
                             payload.constData(), qos, retain)
           == MOSQ_ERR_SUCCESS;
}

void MqttPublisher::onConnected()
{
    if (!m_connected.load())
        return;
    WriteLog(QStringLiteral("MQTT: connected to %1 as %2.").arg(m_settings.broker, m_settings.clientId));
    m_lossLogged = false;
    publish(statusTopic(), "online", true, 1);
    // The broker may have lost everything (a restart without persistence): publish it all again.
    for (Published &p : m_configs)
        p.location = QStringLiteral("\x01"); // makes every config go out again
    publishSensors();
}

void MqttPublisher::onDisconnected(int reason)
{
    if (m_connected.load() || m_lossLogged || program().closing)
        return;
    m_lossLogged = true;
    const QString why = reason >= 1000 ? QStringLiteral("the broker refused the connection (code %1)").arg(reason - 1000)
                                       : QString::fromUtf8(mosquitto_strerror(reason));
    WriteLog(QStringLiteral("MQTT: no connection to %1 (%2); trying again.").arg(m_settings.broker, why));
}

void MqttPublisher::publishSensors()
{
    if (!m_connected.load())
        return; // everything is published when the connection is back
    const QList<SensorSample> sensors = LoadSensorSamples(program().settings.CorF);
    // An empty answer is a database being rebuilt far more often than a bus without sensors:
    // it removes nothing.
    if (sensors.isEmpty())
        return;
    const QDateTime at = metricCounters().lastCompleteReading.isValid() ? metricCounters().lastCompleteReading : Now();
    QSet<QString> present;
    for (const SensorSample &s : sensors) {
        present.insert(s.sensor);
        Published &was = m_configs[s.sensor];
        if (was.location != s.location || was.topics.isEmpty()) {
            QStringList topics;
            for (const MqttMessage &m : DiscoveryConfigs(s, m_settings)) {
                publish(m.first, m.second, true, 1);
                topics << m.first;
            }
            // An entity the sensor no longer has (its type changed) goes.
            for (const QString &old : was.topics) {
                if (!topics.contains(old))
                    publish(old, {}, true, 1);
            }
            was = {s.location, topics};
        }
        publish(m_settings.topicPrefix + QLatin1Char('/') + TopicSafeId(s.sensor) + QStringLiteral("/state"),
                SensorStatePayload(s, at), true);
    }
    // A sensor deleted from the table: its entities leave Home Assistant, its state the broker.
    for (auto it = m_configs.begin(); it != m_configs.end();) {
        if (present.contains(it.key())) {
            ++it;
            continue;
        }
        for (const QString &topic : it->topics)
            publish(topic, {}, true, 1);
        publish(m_settings.topicPrefix + QLatin1Char('/') + TopicSafeId(it.key()) + QStringLiteral("/state"), {}, true);
        it = m_configs.erase(it);
    }
}

std::unique_ptr<MqttPublisher> StartMqtt()
{
    const MqttSettings settings = LoadMqttSettings();
    if (settings.broker.isEmpty())
        return nullptr;
    auto publisher = std::make_unique<MqttPublisher>(settings);
    QString line;
    if (publisher->start()) {
        line = QStringLiteral("clarow: publishing to the MQTT broker %1 under %2/ (Home Assistant discovery under %3/)")
                   .arg(settings.broker, settings.topicPrefix, settings.discoveryPrefix);
    } else {
        line = QStringLiteral("clarow: MQTT is off: ") + publisher->errorText();
        publisher.reset();
    }
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    WriteLog(line);
    return publisher;
}

} // namespace clarow
