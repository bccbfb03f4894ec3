// The type tool's window against the adapter simulator on a real pseudo-terminal, and the
// monitor's reading of a sensor whose type the tool rewrote.
#include "retyper/Messages.h"
#include "retyper/TypeTool.h"
#include "retyper/ui/SensorType.h"

#include "link/Clock.h"
#include "link/SerialPort.h"
#include "monitor/Decoder.h"
#include "monitor/ReadAdapter.h"
#include "tests/support/NetworkServers.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestHome.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::retyper;
using namespace clarow::test;

namespace {

// Records the tool's message boxes; none is expected in these runs.
class RecordedBoxes final : public MessageShower
{
public:
    RecordedBoxes() { setMessages(this); }
    ~RecordedBoxes() override { setMessages(nullptr); }
    void show(const QString &text, const QString &) override { texts << text; }
    QStringList texts;
};

// The window, loaded against port 1 with the simulator (or nothing) behind it.
struct Tool
{
    explicit Tool(const QString &scenario = {}, bool withSim = true)
    {
        if (withSim) {
            sim.emplace(scenario);
            sim->attachAsPort(1);
        }
        window.show();
        loaded = window.load();
    }
    template <typename T>
    T *child(const char *name) { return window.findChild<T *>(QLatin1String(name)); }
    QComboBox *sensors() { return child<QComboBox>("SensorListBx"); }
    QComboBox *types() { return child<QComboBox>("SensorTypeBx"); }
    QPushButton *apply() { return child<QPushButton>("ApplyBtn"); }
    QString status() { return child<QLabel>("StatusLabel")->text(); }
    QStringList entries()
    {
        QStringList e;
        for (int i = 0; i < sensors()->count(); ++i)
            e << sensors()->itemText(i);
        return e;
    }
    // How many times the simulator's log shows a line containing the text.
    int logged(const QString &text) { return int(sim->log().count(text)); }

    NoRealPorts noRealPorts;
    RecordedBoxes boxes;
    std::optional<SimProcess> sim;
    SensorType window;
    bool loaded = false;
};

const QString kInventory = QStringLiteral("I: inventory");
const QString kIdentify = QStringLiteral("identification: Varnex");
} // namespace

TEST(SensorTypeE2E, Inventory_ListsOnlyWellFormedMultiSensors)
{
    Tool t(QStringLiteral("sensor 2800000012345678 temp=21.5\n"
                          "sensor 26000000000000a1 19\n"
                          "sensor 26000000000000B2 1B\n"
                          "sensor 26000000000000C3 2F\n"));
    ASSERT_TRUE(t.loaded);

    EXPECT_EQ(t.entries(), (QStringList {QStringLiteral("26000000000000B2 1B - Temperature and light"),
                                         QStringLiteral("26000000000000C3 2F - Unknown")}))
        << t.sim->log().toStdString();
    EXPECT_EQ(t.sensors()->currentIndex(), 0);
    EXPECT_EQ(t.status(), QStringLiteral("Multi-sensors found"));
    EXPECT_EQ(t.types()->currentText(), QStringLiteral("00 - Temperature only"));
    EXPECT_TRUE(t.apply()->isEnabled());
    EXPECT_EQ(t.logged(kIdentify), 1);
    EXPECT_EQ(t.logged(kInventory), 1);
    EXPECT_TRUE(t.boxes.texts.isEmpty());
}

TEST(SensorTypeE2E, IncompleteOrEmptyInventory_SaysNoMultiSensorsFound)
{
    const struct
    {
        const char *name;
        const char *scenario;
        int attempts;
    } cases[] = {
        {"other sensors only", "sensor 2800000012345678\nsensor 3000000000000042 07\n", 1},
        {"question mark after the lines", "sensor 26000000000000A1 19\nfault error\n", 1},
        {"empty bus", "fault no-sensors\n", 1},
        {"silent on the inventory", "sensor 26000000000000A1 19\nfault cut 0\n", 3},
    };
    for (const auto &c : cases) {
        Tool t(QString::fromLatin1(c.scenario));
        ASSERT_TRUE(t.loaded) << c.name;
        EXPECT_EQ(t.status(), QStringLiteral("No multi-sensors found")) << c.name;
        EXPECT_EQ(t.sensors()->count(), 0) << c.name;
        EXPECT_FALSE(t.apply()->isEnabled()) << c.name;
        EXPECT_EQ(t.logged(kInventory), c.attempts) << c.name << "\n" << t.sim->log().toStdString();
    }
}

TEST(SensorTypeE2E, Ports_MissingPortCannotBeOpenedAndToolTipNamesDevice)
{
    Tool t({}, false);
    ASSERT_TRUE(t.loaded);
    EXPECT_EQ(t.status(), QStringLiteral("Could not open selected port."));
    EXPECT_FALSE(t.apply()->isEnabled());

    auto *ports = t.child<QComboBox>("PortNoBx");
    ASSERT_EQ(ports->count(), 16);
    EXPECT_EQ(ports->itemText(15), QStringLiteral("16"));
    EXPECT_EQ(ports->toolTip(), QStringLiteral("Device: ") + PortDeviceName(1));
    ports->setCurrentIndex(6);
    EXPECT_TRUE(ports->toolTip().endsWith(PortDeviceName(7)));
    EXPECT_EQ(ports->accessibleName(), QStringLiteral("Port Number"));
    EXPECT_EQ(t.types()->accessibleName(), QStringLiteral("Change to type"));
}

TEST(SensorTypeE2E, TypeChange_WrittenKeptSelectedAndDecodedByTheMonitor)
{
    const QString b2 = QStringLiteral("26000000000000B2");
    Tool t(QStringLiteral("sensor 2800000012345678\n"
                          "sensor 26000000000000A1 19 humidity=45\n"
                          "sensor 26000000000000B2 19 humidity=45 light=37\n"));
    ASSERT_TRUE(t.loaded);
    ASSERT_EQ(t.sensors()->count(), 2) << t.sim->log().toStdString();

    t.sensors()->setCurrentIndex(1);
    t.types()->setCurrentIndex(1); // the type the sensor already has
    EXPECT_FALSE(t.apply()->isEnabled());
    t.types()->setCurrentIndex(3);
    ASSERT_EQ(t.types()->currentText(), QStringLiteral("1B - Temperature and light"));
    ASSERT_TRUE(t.apply()->isEnabled());

    // A click on Scan while Apply waits for the adapter must not start a second exchange.
    bool clickedDuringApply = false;
    QTimer::singleShot(150, &t.window, [&] {
        clickedDuringApply = t.window.tool().busy();
        t.child<QPushButton>("ScanBtn")->click();
    });
    t.apply()->click();

    EXPECT_TRUE(clickedDuringApply);
    const QString log = t.sim->log();
    EXPECT_EQ(log.count(QStringLiteral("K07: ")), 1) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("K07: ") + b2 + QStringLiteral(" is now type 1B")));
    EXPECT_FALSE(log.contains(QStringLiteral("ignored character"))) << log.toStdString();
    EXPECT_EQ(t.logged(kIdentify), 1);
    EXPECT_EQ(t.logged(kInventory), 2);
    EXPECT_EQ(t.status(), QStringLiteral("Sensor changed successfully"));
    EXPECT_EQ(t.sensors()->currentText(), b2 + QStringLiteral(" 1B - Temperature and light"));
    EXPECT_EQ(t.sensors()->itemText(0), QStringLiteral("26000000000000A1 19 - Temperature and humidity"));
    EXPECT_FALSE(t.apply()->isEnabled());

    // Exit frees the port; the monitor's next reading decodes the sensor as a light sensor.
    t.child<QPushButton>("ExitBtn")->click();
    EXPECT_FALSE(t.window.isVisible());
    TestHome home;
    auto port = MakeSerialPort();
    const ReadResult read = ReadAdapter(*port, 1, false, {});
    ASSERT_FALSE(IsZeroDate(read.readAt)) << log.toStdString();
    const QString &rx = read.reply;
    std::optional<SensorLine> light;
    DecodeReply(rx, QStringLiteral("C"), [&](const SensorLine &l) {
        if (l.id.startsWith(b2))
            light = l;
    });
    ASSERT_TRUE(light.has_value()) << rx.toStdString();
    EXPECT_EQ(light->id, b2 + QStringLiteral(" 1B"));
    EXPECT_EQ(light->logCh2, std::optional<float>(37.0f));
}

TEST(SensorTypeE2E, CloseDuringScan_WaitsForTheExchangeAndEndsItEarly)
{
    NoRealPorts noRealPorts;
    SimProcess sim(QStringLiteral("sensor 26000000000000A1 19\nfault cut 0\n"));
    sim.attachAsPort(1);
    SensorType window;
    window.show();
    bool busyAtClose = false;
    QTimer::singleShot(800, &window, [&] {
        busyAtClose = window.tool().busy();
        window.close();
    });

    EXPECT_TRUE(window.load());

    EXPECT_TRUE(busyAtClose);
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.tool().busy());
    // Stopped within its first inventory attempt rather than after all three.
    EXPECT_EQ(sim.log().count(QStringLiteral("I: inventory")), 1) << sim.log().toStdString();
}

TEST(SensorTypeE2E, AdapterBehindSer2Net_ListsTheMultiSensorsThroughTheBridge)
{
    if (!HaveProgram(QStringLiteral("ser2net")))
        GTEST_SKIP() << "ser2net is not installed (tools/install-deps installs it)";
    NoRealPorts noRealPorts;
    RecordedBoxes boxes;
    Ser2Net bridge(QStringLiteral("sensor 2800000012345678 temp=21.5\nsensor 26000000000000B2 1B\n"));
    ASSERT_TRUE(bridge.start()) << bridge.log();
    // Port 1 as a user sets it: in the settings file, no environment variable.
    qunsetenv("VARNEX_PORT_1");
    QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    store.setValue(QStringLiteral("Ports/1"), bridge.deviceName());
    store.sync();

    SensorType window;
    window.show();
    const bool loaded = window.load();
    store.remove(QStringLiteral("Ports/1"));
    ASSERT_TRUE(loaded) << bridge.log();
    const auto *list = window.findChild<QComboBox *>(QStringLiteral("SensorListBx"));
    ASSERT_EQ(list->count(), 1) << bridge.log();
    EXPECT_EQ(list->itemText(0), QStringLiteral("26000000000000B2 1B - Temperature and light"));
    EXPECT_TRUE(boxes.texts.isEmpty());
}

// Another port chosen while the tool waits for the adapter to identify itself: the old port's
// "Varnex", arriving in that wait, says nothing about the new port. A silent device there is
// reported as no adapter, not searched for multi-sensors.
TEST(SensorTypeE2E, PortChangedDuringIdentification_OldReplyDoesNotCountForTheNewPort)
{
    NoRealPorts noRealPorts;
    SimProcess adapter(QStringLiteral("sensor 26000000000000A1 19\n"));
    SimProcess silent(QStringLiteral("sensor 26000000000000B2 19\nfault silence\n"));
    ASSERT_TRUE(adapter.started() && silent.started());
    adapter.attachAsPort(1);
    silent.attachAsPort(2);
    auto port = MakeSerialPort();
    TypeTool tool(*port);
    tool.choosePort(1);

    // The port is changed the moment the identification reply is in the receive buffer.
    bool changed = false;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!changed && tool.busy() && port->bytesWaiting() > 0) {
            changed = true;
            tool.choosePort(2);
        }
    });
    poll.start();
    EXPECT_TRUE(tool.scan());
    poll.stop();
    ASSERT_TRUE(changed);
    EXPECT_FALSE(tool.adapterFound());

    EXPECT_TRUE(tool.scan());
    EXPECT_FALSE(tool.adapterFound());
    EXPECT_EQ(tool.status(), QStringLiteral("Varnex not found."));
    EXPECT_TRUE(tool.entries().isEmpty());
    EXPECT_FALSE(silent.log().contains(kInventory)) << silent.log().toStdString();
}

// What a screen reader meets: a window (not a bare pane) named by its title; every status and
// result text read as it is shown, as it changes; each list read with its caption.
TEST(SensorTypeE2E, Accessibility_StatusTextIsWhatIsReadInAWindow)
{
    Tool t(QStringLiteral("sensor 26000000000000A1 19\n"));
    ASSERT_TRUE(t.loaded);
    const auto read = [](QObject *o) {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(o);
        return a ? a->text(QAccessible::Name) : QStringLiteral("(none)");
    };
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&t.window);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(read(&t.window), QStringLiteral("Multi sensor configuration"));

    auto *status = t.child<QLabel>("StatusLabel");
    EXPECT_EQ(read(status), QStringLiteral("Multi-sensors found"));
    t.types()->setCurrentIndex(3);
    t.apply()->click();
    EXPECT_EQ(read(status), QStringLiteral("Sensor changed successfully"));
    t.sim.reset(); // the adapter is gone: the error is read too
    t.child<QComboBox>("PortNoBx")->setCurrentIndex(1);
    t.child<QPushButton>("ScanBtn")->click();
    EXPECT_EQ(read(status), t.status());
    EXPECT_FALSE(t.status().isEmpty());

    // A list is read by its choice and labelled by its caption.
    const auto labelOf = [](QWidget *w) {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
        const auto labels = a ? a->relations(QAccessible::Label) : decltype(a->relations()) {};
        return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
    };
    for (const auto &[name, caption] : { std::pair { "PortNoBx", "Port Number" },
             std::pair { "SensorListBx", "Sensor" }, std::pair { "SensorTypeBx", "Change to type" } })
        EXPECT_EQ(labelOf(t.child<QComboBox>(name)), QLatin1String(caption)) << name;
    for (QLabel *label : t.window.findChildren<QLabel *>())
        EXPECT_EQ(read(label), label->text()) << label->objectName().toStdString();
}
