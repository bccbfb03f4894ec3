// clarow as Home Assistant sees it over MQTT: the real program without windows against the
// simulator and a real mosquitto broker. Discovery configs and states arrive retained, a
// broker that restarts (and forgets everything) gets them all again, and a clarow that is
// killed is marked offline by its last will.
#include "NetworkServers.h"
#include "PushReceivers.h"
#include "SimProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

using namespace clarow::test;

namespace {

const QString kTemp = QStringLiteral("28FF4A1C62160344");
const QString kHumid = QStringLiteral("26B14F0200000041");
const QString kWater = QStringLiteral("26E55A0300000065");

QJsonObject json(const QByteArray &payload) { return QJsonDocument::fromJson(payload).object(); }

} // namespace

TEST(Mqtt, HomeAssistantSeesTheBusAcrossABrokerRestartAndTheLastWillWhenKilled)
{
    if (!HaveProgram(QStringLiteral("mosquitto")) || !HaveProgram(QStringLiteral("mosquitto_sub")))
        GTEST_SKIP() << "mosquitto is not installed (tools/install-deps installs it)";
    MqttBroker broker;
    ASSERT_GT(broker.port(), 0);
    QTemporaryDir home, config;
    ASSERT_TRUE(QFile::copy(QStringLiteral(CLAROW_EMPTY_DB), QDir(home.path()).filePath(QStringLiteral("clarowdata.mdb"))));
    QFile::setPermissions(QDir(home.path()).filePath(QStringLiteral("clarowdata.mdb")), QFile::ReadOwner | QFile::WriteOwner);
    {
        QSettings s(QDir(config.path()).filePath(QStringLiteral("Quillmark/Quillmark.conf")), QSettings::IniFormat);
        s.setValue(QStringLiteral("Mqtt/Broker"), broker.address());
        s.setValue(QStringLiteral("Mqtt/ClientId"), QStringLiteral("clarow-test"));
    }
    SimProcess sim(QStringLiteral("sensor %1 temp=36.5\nsensor %2 19 temp=37 humidity=45\n"
                                  "sensor %3 1D temp=38 fault=0 wet=1\n")
                       .arg(kTemp, kHumid, kWater));
    ASSERT_TRUE(sim.started());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("CLAROW_HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    for (int n = 1; n <= 16; ++n)
        env.insert(QStringLiteral("VARNEX_PORT_%1").arg(n), n == 1 ? sim.path() : QStringLiteral("/nonexistent/port%1").arg(n));
    QProcess clarow;
    clarow.setProcessEnvironment(env);
    clarow.setProcessChannelMode(QProcess::MergedChannels);
    clarow.start(QStringLiteral(CLAROW_BIN_DIR "/clarow"), {QStringLiteral("--headless")});
    ASSERT_TRUE(clarow.waitForStarted());

    const QString humidState = QStringLiteral("clarow/%1_19/state").arg(kHumid);
    const QString waterState = QStringLiteral("clarow/%1_1D/state").arg(kWater);
    const QString tempState = QStringLiteral("clarow/%1/state").arg(kTemp);
    auto everythingThere = [&](QMap<QString, QByteArray> &seen) {
        seen = broker.retained();
        return seen.value(QStringLiteral("clarow/status")) == "online" && seen.contains(humidState)
               && seen.contains(waterState) && seen.contains(tempState)
               && seen.contains(QStringLiteral("homeassistant/binary_sensor/clarow_%1_1D_water/config").arg(kWater));
    };
    QMap<QString, QByteArray> seen;
    ASSERT_TRUE(WaitUntil([&] { return everythingThere(seen); }, 60000)) << clarow.readAll().constData();

    const QJsonObject humidity = json(seen.value(QStringLiteral("homeassistant/sensor/clarow_%1_19_humidity/config").arg(kHumid)));
    EXPECT_EQ(humidity.value(QStringLiteral("device_class")).toString(), QStringLiteral("humidity"));
    EXPECT_EQ(humidity.value(QStringLiteral("unit_of_measurement")).toString(), QStringLiteral("%"));
    EXPECT_EQ(humidity.value(QStringLiteral("unique_id")).toString(), QStringLiteral("clarow_%1_19_humidity").arg(kHumid));
    EXPECT_EQ(humidity.value(QStringLiteral("state_topic")).toString(), humidState);
    EXPECT_EQ(humidity.value(QStringLiteral("availability_topic")).toString(), QStringLiteral("clarow/status"));
    EXPECT_EQ(humidity.value(QStringLiteral("value_template")).toString(), QStringLiteral("{{ value_json.humidity }}"));
    const QJsonObject device = humidity.value(QStringLiteral("device")).toObject();
    EXPECT_EQ(device.value(QStringLiteral("identifiers")).toArray().first().toString(), QStringLiteral("clarow_%1_19").arg(kHumid));
    EXPECT_EQ(device.value(QStringLiteral("via_device")).toString(), QStringLiteral("clarow_varnex_clarow-test"));
    EXPECT_FALSE(device.value(QStringLiteral("name")).toString().isEmpty());
    EXPECT_TRUE(device.value(QStringLiteral("model")).toString().contains(QStringLiteral("26 19")));
    const QJsonObject temperature = json(seen.value(QStringLiteral("homeassistant/sensor/clarow_%1_temperature/config").arg(kTemp)));
    EXPECT_EQ(temperature.value(QStringLiteral("device_class")).toString(), QStringLiteral("temperature"));
    EXPECT_EQ(temperature.value(QStringLiteral("unit_of_measurement")).toString(), QStringLiteral("°C"));
    const QJsonObject water = json(seen.value(QStringLiteral("homeassistant/binary_sensor/clarow_%1_1D_water/config").arg(kWater)));
    EXPECT_EQ(water.value(QStringLiteral("device_class")).toString(), QStringLiteral("moisture"));
    EXPECT_EQ(json(seen.value(QStringLiteral("homeassistant/binary_sensor/clarow_%1_alarm/config").arg(kTemp)))
                  .value(QStringLiteral("device_class")).toString(), QStringLiteral("problem"));
    EXPECT_EQ(json(seen.value(QStringLiteral("homeassistant/binary_sensor/clarow_%1_connected/config").arg(kTemp)))
                  .value(QStringLiteral("device_class")).toString(), QStringLiteral("connectivity"));
    // A temperature sensor has no second channel and no water entity.
    EXPECT_FALSE(seen.contains(QStringLiteral("homeassistant/binary_sensor/clarow_%1_water/config").arg(kTemp)));

    const QJsonObject humid = json(seen.value(humidState));
    EXPECT_EQ(humid.value(QStringLiteral("temperature")).toDouble(), 37.0);
    EXPECT_EQ(humid.value(QStringLiteral("humidity")).toDouble(), 45.0);
    EXPECT_TRUE(humid.value(QStringLiteral("connected")).toBool());
    EXPECT_FALSE(humid.value(QStringLiteral("alarm")).toBool());
    EXPECT_FALSE(humid.value(QStringLiteral("time")).toString().isEmpty());
    const QJsonObject wet = json(seen.value(waterState));
    // A new sensor's first reading leaves its water status unknown until the next scan.
    EXPECT_TRUE(wet.contains(QStringLiteral("water")));
    EXPECT_FALSE(json(seen.value(tempState)).contains(QStringLiteral("water")));
    EXPECT_EQ(json(seen.value(tempState)).value(QStringLiteral("temperature")).toDouble(), 36.5);
    EXPECT_EQ(json(seen.value(tempState)).value(QStringLiteral("alarm_type")).toString(), QStringLiteral("none"));

    // A broker that restarts without persistence has forgotten everything; clarow reconnects
    // and publishes it all again without waiting for its next scan.
    broker.stop();
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(WaitUntil([&] { return everythingThere(seen); }, 60000)) << clarow.readAll().constData();
    EXPECT_EQ(json(seen.value(humidState)).value(QStringLiteral("humidity")).toDouble(), 45.0);

    ::kill(static_cast<pid_t>(clarow.processId()), SIGKILL);
    clarow.waitForFinished(5000);
    EXPECT_TRUE(WaitUntil([&] { return broker.retained(QStringLiteral("clarow/status")).value(QStringLiteral("clarow/status")) == "offline"; },
                          30000));
}
