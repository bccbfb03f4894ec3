// A whole alarm as an operator meets it: clarow's main window finds the simulator, a sensor
// on the bus is too warm, the grid shows it red at the top, the alarm mail reaches a real
// SMTP server, and once the sensor is back within its limits the return-to-normal mail
// follows.
#include "MonitorRun.h"
#include "RunUntil.h"
#include "ScriptedPrompter.h"
#include "SimProcess.h"
#include "SmtpServer.h"
#include "TestHome.h"

#include "app/ui/MainMDI.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "monitor/ui/Collection.h"
#include "monitor/ui/FlexGrid.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSettings>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kHot = QStringLiteral("28FF4A1C62160344");
const QString kCool = QStringLiteral("28FF0B7D63160321");

} // namespace

TEST(AlarmRun, SensorOutOfLimitsIsShownRedOnTopAndMailedThenReturnsToNormal)
{
    TestHome home;
    NoRealPorts noPorts;
    ScriptedPrompter boxes;
    SmtpServer smtp;
    ASSERT_TRUE(smtp.running());

    // The hot sensor cools down after the adapter has answered two readings.
    SimProcess sim(QStringLiteral("sensor %1 temp=55\n"
                                  "sensor %2 temp=38\n"
                                  "after 2 set %1 temp=36.5\n")
                       .arg(kHot, kCool));
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(1);

    StoreSettings(AlarmMailSettings(smtp.port()) + QList<QPair<QString, QString>>{{QStringLiteral("LogErrors"), QStringLiteral("True")}});

    MainMDI main;
    ASSERT_TRUE(main.startUp());
    Collection *monitor = main.collection();
    ASSERT_NE(monitor, nullptr);

    // The first tick scans at once.
    ASSERT_TRUE(RunUntil([&] { return smtp.mails().size() >= 1; }, 30000))
        << home.readFile(QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".log")).toStdString();
    const ReceivedMail alarm = smtp.mails().at(0);
    EXPECT_EQ(alarm.subject, QStringLiteral("Sensor alarm"));
    EXPECT_TRUE(alarm.body.startsWith(QStringLiteral("The following sensors are in alarm:\r\n\r\n")));
    EXPECT_TRUE(alarm.body.contains(QStringLiteral("Sensor ID:                 ") + kHot));
    EXPECT_TRUE(alarm.body.contains(QStringLiteral("High temperature limit:    50")));
    EXPECT_FALSE(alarm.body.contains(kCool));

    const QAbstractItemModel *grid = monitor->grid()->model();
    ASSERT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(grid->data(grid->index(0, 0)).toString(), kHot);
    EXPECT_EQ(grid->data(grid->index(0, 2)).toString(), QStringLiteral("55"));
    EXPECT_EQ(grid->data(grid->index(0, 0), Qt::BackgroundRole).value<QColor>(), QColor(0xFF, 0x80, 0x80));
    EXPECT_EQ(grid->data(grid->index(1, 0), Qt::BackgroundRole).value<QColor>(), QColor(0x80, 0xFF, 0x80));

    // Scans come once a minute; bring each next one forward instead of waiting for it.
    ASSERT_TRUE(RunUntil(
        [&] {
            if (!monitor->cycle().scanning())
                program().nextScan = Now();
            return smtp.mails().size() >= 2;
        },
        60000));
    const ReceivedMail back = smtp.mails().at(1);
    EXPECT_EQ(back.subject, QStringLiteral("Sensors back to normal"));
    EXPECT_TRUE(back.body.contains(QStringLiteral("The following sensors are no longer in alarm:\r\n\r\n")));
    EXPECT_TRUE(back.body.contains(QStringLiteral("Current temperature:       36.5")));
    EXPECT_EQ(grid->data(grid->index(0, 0), Qt::BackgroundRole).value<QColor>(), QColor(0x80, 0xFF, 0x80));
    EXPECT_TRUE(boxes.boxes.isEmpty());
    main.close();
}
