// The two option windows inside the real main window: opened from the menus, and the port
// test sharing the serial port with a running monitoring window on the adapter simulator.
#include "app/ui/MainMDI.h"
#include "core/PortLoan.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "monitor/ui/Collection.h"
#include "options/ui/Options.h"
#include "views/ui/SensorOptions.h"

#include "ScriptedPrompter.h"
#include "SimProcess.h"
#include "TestHome.h"

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace clarow;
using namespace clarow::test;

namespace {

bool waitFor(const std::function<bool()> &done, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class OptionsWindowsE2E : public ::testing::Test
{
protected:
    TestHome home;
    NoRealPorts noPorts;
    ScriptedPrompter boxes;
};

} // namespace

TEST_F(OptionsWindowsE2E, NoAdapterAtStartUpOpensTheOptionsDialog)
{
    MainMDI w;
    ASSERT_TRUE(w.startUp());
    ASSERT_EQ(boxes.titles(), QStringList{QStringLiteral("Varnex not found")});
    ASSERT_NE(w.findChild<Options *>(), nullptr);
    EXPECT_TRUE(program().optionsOpen);

    // One instance, whichever way it is asked for.
    w.findChild<QAction *>(QStringLiteral("OptionsMi"))->trigger();
    EXPECT_EQ(w.findChildren<Options *>().size(), 1);

    // The sensor options need a picked sensor, and always show the one picked now.
    w.findChild<QAction *>(QStringLiteral("SensorsMi"))->trigger();
    EXPECT_EQ(w.findChild<SensorOptions *>(), nullptr);
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("No sensor is selected"));
    EXPECT_EQ(boxes.boxes[1].title, QStringLiteral("Clarow"));
    program().selectedSensor = QStringLiteral("26A1B2C3D4E5F60B 19");
    w.findChild<QAction *>(QStringLiteral("SensorContMi"))->trigger();
    EXPECT_EQ(program().lastViewChoice, 1);
    program().selectedSensor = QStringLiteral("28A1B2C3D4E5F60A");
    w.findChild<QAction *>(QStringLiteral("SensorsMi"))->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QList<SensorOptions *> open = w.findChildren<SensorOptions *>();
    ASSERT_EQ(open.size(), 1);
    EXPECT_EQ(open[0]->sensorId(), QStringLiteral("28A1B2C3D4E5F60A"));
    EXPECT_TRUE(w.close());
}

TEST_F(OptionsWindowsE2E, PortTestDuringMonitoringWaitsForTheScanAndHoldsTheNextOne)
{
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(1);
    MainMDI w;
    ASSERT_TRUE(w.startUp());
    Collection *monitor = w.collection();
    ASSERT_NE(monitor, nullptr);
    ScanCycle &cycle = monitor->cycle();
    w.OptionsMi_Click();
    Options *options = w.findChild<Options *>();
    ASSERT_NE(options, nullptr);
    auto *test = options->findChild<QPushButton *>(QStringLiteral("TestPbtn"));
    auto *answer = options->findChild<QLineEdit *>(QStringLiteral("VarnexFoundBx"));

    // Pressed while the first scan talks to the adapter: the test waits for the scan's end.
    bool pressedDuringScan = false;
    auto *status = monitor->findChild<QLineEdit *>(QStringLiteral("StatusBx"));
    QObject::connect(status, &QLineEdit::textChanged, options, [&](const QString &text) {
        if (text != QLatin1String("Scanning") || pressedDuringScan)
            return;
        QTimer::singleShot(0, options, [&] {
            pressedDuringScan = cycle.scanning() && PortBusy();
            test->click();
            EXPECT_TRUE(options->portTestRunning());
        });
    });
    ASSERT_TRUE(waitFor([&] { return !answer->text().isEmpty(); }));
    EXPECT_TRUE(pressedDuringScan);
    EXPECT_EQ(answer->text(), QStringLiteral("Varnex found"));
    EXPECT_EQ(cycle.scanCount(), 1);
    EXPECT_FALSE(cycle.RxBuffer.isEmpty());

    // A scan that falls due while the test has the port is held, then made up at once. (A
    // second already used by a scan never starts another, so the test waits for a fresh one.)
    const QDateTime answered = NowWholeSeconds();
    ASSERT_TRUE(waitFor([&] { return NowWholeSeconds() > answered; }));
    const int before = cycle.scanCount();
    bool heldDuringTest = false;
    QTimer::singleShot(30, options, [&] {
        program().nextScan = NowWholeSeconds().addSecs(60);
        cycle.Timer1_Timer();
        heldDuringTest = PortLent() && cycle.scanCount() == before;
    });
    answer->clear();
    test->click();
    EXPECT_TRUE(heldDuringTest);
    EXPECT_EQ(answer->text(), QStringLiteral("Varnex found"));
    EXPECT_EQ(cycle.scanCount(), before);
    const QDateTime testEnd = NowWholeSeconds();
    ASSERT_TRUE(waitFor([&] { return cycle.scanCount() == before + 1 && !cycle.scanning(); }));
    EXPECT_GE(cycle.LastGoodRead, testEnd);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_TRUE(w.close());
}
