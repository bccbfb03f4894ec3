// The Sensor Options window over the real database file; retries run in virtual time.
#include "core/Database.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/VirtualClock.h"
#include "views/SensorEdit.h"
#include "views/ui/SensorOptions.h"

#include "Accessible.h"
#include "ScriptedPrompter.h"
#include "TestHome.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSqlQuery>
#include <QSqlRecord>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kTemp = QStringLiteral("28A1B2C3D4E5F60A");
const QString kHumidity = QStringLiteral("26A1B2C3D4E5F60B 19");
const QString kWater = QStringLiteral("26A1B2C3D4E5F60C 1D");

QLineEdit *box(QWidget &w, const char *name) { return w.findChild<QLineEdit *>(QLatin1String(name)); }

QRadioButton *water(QWidget &w, int index)
{
    for (QRadioButton *r : w.findChildren<QRadioButton *>(QStringLiteral("WaterA"))) {
        if (r->property("index").toInt() == index)
            return r;
    }
    return nullptr;
}

// The row's columns as text, NULL as "null".
QStringList row(const QString &id, const QString &columns = QStringLiteral(
                                        "Location, aTempLo, aTempHi, aCh2Lo, aCh2Hi, InAlarm, aWtDr"))
{
    QSqlQuery q = Exec(QStringLiteral("SELECT %1 FROM Sensors WHERE SensorID = ?").arg(columns), {id});
    QStringList cols;
    if (!q.next())
        return cols;
    for (int i = 0; i < q.record().count(); ++i)
        cols << (q.value(i).isNull() ? QStringLiteral("null") : q.value(i).toString());
    return cols;
}

class SensorOptionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        LoadOptions();
        OpenDatabase();
        // Sensors the last scan read a moment ago.
        const QVariant justRead = ToSerial(vc.now());
        Exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp, aTempLo, aTempHi, InAlarm, Connected, LastR) "
                            "VALUES (?, 'Cold store', 21.5, 2, 30, 0, 1, ?)"),
             {kTemp, justRead});
        Exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp, cCh2, aTempLo, aTempHi, aCh2Lo, aCh2Hi, "
                            "InAlarm, aWtDr, Connected, LastR) VALUES (?, 'Office', 22, 45, 15, 30, 20, 80, 0, 1, 1, ?)"),
             {kHumidity, justRead});
        Exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp, aTempLo, aTempHi, InAlarm, wStatus, aWtDr, "
                            "Connected, LastR) VALUES (?, 'Basement', 12, 0, 40, 0, 0, 0, 1, ?)"),
             {kWater, justRead});
        Exec(QStringLiteral("INSERT INTO LogTbl (SensorID, lTime, lTemp) VALUES (?, 46000.5, 21.5), (?, 46000.6, 21.6)"),
             {kTemp, kTemp});
    }

    std::unique_ptr<SensorOptions> open(const QString &id)
    {
        program().selectedSensor = id;
        auto w = std::make_unique<SensorOptions>();
        w->setRebuildGrid([this] { ++rebuilt; });
        return w;
    }

    TestHome home;
    ScriptedPrompter boxes;
    VirtualClock vc;
    ScopedClock useClock{vc};
    int rebuilt = 0;
};

} // namespace

TEST_F(SensorOptionsTest, OpensOnTheSelectedSensorWithTheControlsOfItsType)
{
    program().settings.SendMailWtr = true;
    const struct
    {
        QString id;
        QString ch2Caption;
        bool ch2, water;
        QString low;
    } cases[] = {
        {kTemp, QStringLiteral("Humidity"), false, false, QStringLiteral("2")},
        {kHumidity, QStringLiteral("Humidity"), true, false, QStringLiteral("15")},
        {kWater, QStringLiteral("Humidity"), false, true, QStringLiteral("0")},
        {QStringLiteral("26A1B2C3D4E5F60D 1C"), QStringLiteral("AC Current"), true, false, QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id.toStdString());
        auto w = open(c.id);
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Sensor Options"));
        EXPECT_EQ(box(*w, "SerNoBx")->text(), c.id);
        EXPECT_EQ(box(*w, "Llow")->text(), c.low);
        EXPECT_EQ(w->findChild<QLabel *>(QStringLiteral("hLabel"))->text(), c.ch2Caption);
        EXPECT_EQ(box(*w, "Hlow")->isEnabled(), c.ch2);
        EXPECT_EQ(box(*w, "Hhigh")->palette().color(QPalette::Base).rgb(), c.ch2 ? 0xFFFFFFFFu : 0xFFE0E0E0u);
        EXPECT_EQ(w->findChild<QGroupBox *>(QStringLiteral("WaterAfrm"))->isEnabled(), c.water);
        EXPECT_EQ(water(*w, 0)->isChecked(), c.water);
        EXPECT_FALSE(water(*w, 1)->isChecked());
        for (const QLineEdit *e : w->findChildren<QLineEdit *>())
            EXPECT_FALSE(e->accessibleName().isEmpty()) << e->objectName().toStdString();
    }
    EXPECT_EQ(box(*open(kHumidity), "Hhigh")->text(), QStringLiteral("80"));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(SensorOptionsTest, ALimitThatIsNoNumberFailsAfterSixAttemptsAndLeavesTheRow)
{
    const QStringList before = row(kTemp);
    for (const QString &typed : {QStringLiteral("1x"), QString()}) {
        boxes.boxes.clear();
        auto w = open(kTemp);
        box(*w, "SensorLoc")->setText(QStringLiteral("Renamed"));
        box(*w, "Llow")->setText(typed);
        const qint64 started = vc.elapsedMs();
        w->ApplyBtn_Click();
        EXPECT_EQ(vc.elapsedMs() - started, 2500);
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Change failed"));
        EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("The change for this sensor was not successful"));
        EXPECT_EQ(row(kTemp), before);
        EXPECT_EQ(box(*w, "Llow")->text(), typed);
    }
    // OK says so too and keeps the window with the typed values; once mended, OK stores and closes.
    auto w = open(kTemp);
    w->show();
    box(*w, "Lhigh")->setText(QStringLiteral("abc"));
    boxes.boxes.clear();
    w->ExitBtn_Click();
    EXPECT_EQ(boxes.titles(), QStringList{QStringLiteral("Change failed")});
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(box(*w, "Lhigh")->text(), QStringLiteral("abc"));
    EXPECT_EQ(row(kTemp), before);
    EXPECT_EQ(rebuilt, 0);
    box(*w, "Lhigh")->setText(QStringLiteral("35"));
    w->ExitBtn_Click();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(row(kTemp, QStringLiteral("aTempHi")), QStringList{QStringLiteral("35")});
    EXPECT_EQ(rebuilt, 1);
}

TEST_F(SensorOptionsTest, SavingRecomputesTheAlarmAgainstTheNewLimits)
{
    const struct
    {
        QString id;
        const char *box;
        QString typed;
        QString inAlarm;
    } cases[] = {
        {kTemp, "Lhigh", QStringLiteral("21.4"), QStringLiteral("1")},
        {kTemp, "Lhigh", QStringLiteral("21.5"), QStringLiteral("0")},
        {kTemp, "Llow", QStringLiteral("21.6"), QStringLiteral("1")},
        {kHumidity, "Hhigh", QStringLiteral("44.9"), QStringLiteral("1")},
        {kHumidity, "Hhigh", QStringLiteral("45"), QStringLiteral("0")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.box) + " " + c.typed.toStdString());
        auto w = open(c.id);
        box(*w, c.box)->setText(c.typed);
        w->ApplyBtn_Click();
        EXPECT_EQ(row(c.id).at(5), c.inAlarm);
        EXPECT_EQ(vc.elapsedMs(), 0);
    }
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_EQ(row(kHumidity), (QStringList{QStringLiteral("Office"), QStringLiteral("15"), QStringLiteral("30"),
                                           QStringLiteral("20"), QStringLiteral("45"), QStringLiteral("0"),
                                           QStringLiteral("null")}));
}

TEST_F(SensorOptionsTest, WaterSensorsStoreTheirChoiceAndNoSecondChannel)
{
    program().settings.SendMailWtr = true;
    auto w = open(kWater);
    // A screen reader's toggle chooses as a click does. The tape is dry: "Alarm if dry" fires.
    ASSERT_TRUE(ToggleAsScreenReader(water(*w, 1)));
    box(*w, "Hlow")->setText(QStringLiteral("5"));
    w->ApplyBtn_Click();
    EXPECT_EQ(row(kWater), (QStringList{QStringLiteral("Basement"), QStringLiteral("0"), QStringLiteral("40"),
                                        QStringLiteral("null"), QStringLiteral("null"), QStringLiteral("1"),
                                        QStringLiteral("2")}));
    water(*w, 0)->click();
    w->ApplyBtn_Click();
    EXPECT_EQ(row(kWater, QStringLiteral("aWtDr, InAlarm")), (QStringList{QStringLiteral("1"), QStringLiteral("0")}));

    // With water mail off the choice is not offered: a stored "dry" stays, nothing becomes "wet".
    Exec(QStringLiteral("UPDATE Sensors SET aWtDr = 2 WHERE SensorID = ?"), {kWater});
    program().settings.SendMailWtr = false;
    open(kWater)->ApplyBtn_Click();
    EXPECT_EQ(row(kWater).at(6), QStringLiteral("2"));
    Exec(QStringLiteral("UPDATE Sensors SET aWtDr = NULL WHERE SensorID = ?"), {kWater});
    open(kWater)->ApplyBtn_Click();
    EXPECT_EQ(row(kWater).at(6), QStringLiteral("1"));
}

TEST_F(SensorOptionsTest, DeletingAsksRemovesTheRowAndKeepsItsHistory)
{
    auto w = open(kTemp);
    w->show();
    boxes.answers = {Answer::No};
    w->DelBtn_Click();
    EXPECT_FALSE(row(kTemp).isEmpty());
    EXPECT_TRUE(w->isVisible());
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("Do you really want to delete this sensor\rfrom the system?"));
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Delete"));
    EXPECT_EQ(boxes.boxes[0].buttons, Buttons::YesNo);

    boxes.answers = {Answer::Yes};
    w->DelBtn_Click();
    EXPECT_TRUE(row(kTemp).isEmpty());
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(rebuilt, 2); // after the delete and on the close
    QSqlQuery q = Exec(QStringLiteral("SELECT count(*) FROM LogTbl WHERE SensorID = ?"), {kTemp});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 2);
    EXPECT_FALSE(row(kHumidity).isEmpty());
}

// Saving judges the alarm as the scan does, against the new limits and the water choice as it
// now stands: an alarm the limits have nothing to do with stays.
TEST_F(SensorOptionsTest, SavingKeepsAnAlarmThatStillHolds)
{
    program().settings.SendMailWtr = true;
    const QString id = QStringLiteral("26A1B2C3D4E5F60E 1E"); // humidity and water
    const struct
    {
        const char *what;
        bool connected;
        int readSecsAgo;
        int wStatus;
        int storedChoice;
        int chosen; // WaterA index picked before saving
        QString alType;
    } cases[] = {
        {"silent ten minutes", false, 600, 0, 1, 0, QStringLiteral("9")},
        {"silent three hours", false, 3 * 3600, 0, 1, 0, QStringLiteral("0")},
        {"wet, alarm if wet", true, 0, 2, 1, 0, QStringLiteral("5")},
        {"wet, now alarm if dry", true, 0, 2, 1, 1, QStringLiteral("0")},
        {"dry, now alarm if dry", true, 0, 0, 1, 1, QStringLiteral("6")},
        {"tape damaged", true, 0, 1, 2, 1, QStringLiteral("7")},
        // Between two scans a reading a minute old is still the sensor's last answer.
        {"wet, read before the last scan's reply", true, 60, 2, 2, 0, QStringLiteral("5")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Exec(QStringLiteral("DELETE FROM Sensors WHERE SensorID = ?"), {id});
        Exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp, cCh2, aTempLo, aTempHi, aCh2Lo, aCh2Hi, "
                            "wStatus, aWtDr, Connected, LastR, InAlarm, AlType) "
                            "VALUES (?, 'Plant room', 22, 45, 15, 30, 20, 80, ?, ?, ?, ?, 1, 9)"),
             {id, c.wStatus, c.storedChoice, c.connected ? 1 : 0, ToSerial(vc.now().addSecs(-c.readSecsAgo))});
        auto w = open(id);
        water(*w, c.chosen)->setChecked(true);
        box(*w, "Lhigh")->setText(QStringLiteral("35")); // the temperature is well within
        w->ApplyBtn_Click();
        const QString inAlarm = c.alType == QLatin1String("0") ? QStringLiteral("0") : QStringLiteral("1");
        EXPECT_EQ(row(id, QStringLiteral("AlType, InAlarm, aTempHi")),
                  (QStringList{c.alType, inAlarm, QStringLiteral("35")}));
    }
    EXPECT_TRUE(boxes.boxes.isEmpty());
}
