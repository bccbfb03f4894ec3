// What the adapter can do wrong, met by the whole program: clarow's main window finds the
// simulator on a real pseudo-terminal, opens the monitoring window and scans; the simulator
// misbehaves as each case says. Every case must leave the program scanning, report the
// condition in the status box with the program's own texts, and store no row whose values the
// bus never sent. Scans are brought forward instead of waiting a minute for each.
#include "MonitorRun.h"
#include "ScriptedPrompter.h"
#include "SimProcess.h"
#include "SmtpServer.h"
#include "TestHome.h"

#include "core/Database.h"

#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kA = QStringLiteral("28A1B2C3D4E5F60A");
const QString kB = QStringLiteral("26A1B2C3D4E5F60B 19");
const QString kFlapping = QStringLiteral("28FF4A1C62160344");

struct AdapterFault
{
    const char *name;
    QString scenario;
    int scans;                    // how many scans the program runs
    QStringList statuses;         // texts the status box must have shown, in this order
    std::map<QString, std::set<double>> temperatures; // every temperature a sensor may store
    int goodScansAfterFault = 2;  // complete readings once the fault is over
    QStringList mails;            // subjects of the alarm mails, in order (empty: no mail)
    bool viaLink = false;         // the port names the simulator's link (it is unplugged)
};

const QString kBus = QStringLiteral("sensor %1 temp=21.5\n"
                                    "sensor 26A1B2C3D4E5F60B 19 temp=23.5 humidity=45\n")
                         .arg(kA);
const std::map<QString, std::set<double>> kBusTemps = {{kA, {21.5}}, {kB, {23.5}}};

std::vector<AdapterFault> Faults()
{
    return {
        {"UnpluggedMidReplyAndPluggedBack",
         kBus + QStringLiteral("after 1 fault unplug 25 2 times=1\n"),
         6,
         {QStringLiteral("Reading successful"), QStringLiteral("Scan timed out."),
          QStringLiteral("Reading successful")},
         kBusTemps, 2, {}, true},
        {"NoiseNulBytesAndAReplyLongerThanTheBuffer",
         kBus + QStringLiteral("after 1 fault noise 2100 times=2\n"),
         5,
         {QStringLiteral("Reading successful"), QStringLiteral("Reading successful"),
          QStringLiteral("Reading successful")},
         kBusTemps, 2, {}},
        {"ReplyDripsOneCharacterEvery900ms",
         QStringLiteral("sensor %1 temp=21.5\nafter 1 fault slow 1 900 times=1\n").arg(kA),
         4,
         {QStringLiteral("Reading successful"), QStringLiteral("Reading successful")},
         {{kA, {21.5}}}, 2, {}},
        {"ReplyThatNeverEnds",
         kBus + QStringLiteral("after 1 fault endless 0 times=1\n"),
         5,
         {QStringLiteral("Reading successful"), QStringLiteral("Scan timed out."),
          QStringLiteral("Reading successful")},
         kBusTemps, 2, {}},
        {"ErrorRepliesForTenScansInARow",
         kBus + QStringLiteral("after 1 fault error times=30\n"),
         14,
         {QStringLiteral("Reading successful"), QStringLiteral("Scan failed, retrying."),
          QStringLiteral("Scan failed, retrying."), QStringLiteral("Scan failed."),
          QStringLiteral("Reading successful")},
         kBusTemps, 3, {}},
        {"SensorFlappingAroundItsLimit_OneMailPerChange",
         QStringLiteral("sensor %1 temp=49\n"
                        "after 1 set %1 temp=51\nafter 3 set %1 temp=49\n"
                        "after 5 set %1 temp=51\nafter 6 set %1 temp=49\n")
             .arg(kFlapping),
         9,
         {QStringLiteral("Reading successful")},
         {{kFlapping, {49, 51}}}, 2,
         {QStringLiteral("Sensor alarm"), QStringLiteral("Sensors back to normal"),
          QStringLiteral("Sensor alarm"), QStringLiteral("Sensors back to normal")}},
    };
}

// True when `seen` holds `wanted` in order (other texts may come between).
bool inOrder(const QStringList &seen, const QStringList &wanted)
{
    qsizetype at = 0;
    for (const QString &text : seen) {
        if (at < wanted.size() && text == wanted[at])
            ++at;
    }
    return at == wanted.size();
}

class AdapterFaultE2E : public ::testing::TestWithParam<AdapterFault>
{
};

TEST_P(AdapterFaultE2E, KeepsScanningReportsTheFaultAndStoresNoWrongRow)
{
    const AdapterFault &f = GetParam();
    TestHome home;
    NoRealPorts noPorts;
    ScriptedPrompter boxes;
    SmtpServer smtp;
    ASSERT_TRUE(smtp.running());
    QTemporaryDir linkDir;
    const QString link = linkDir.filePath(QStringLiteral("varnex"));
    SimProcess sim(f.scenario, f.viaLink ? QStringList{QStringLiteral("--link"), link} : QStringList{});
    ASSERT_TRUE(sim.started()) << sim.log().toStdString();
    sim.attachAsPort(1, f.viaLink ? link : QString());

    QList<QPair<QString, QString>> settings = {{QStringLiteral("LogErrors"), QStringLiteral("True")}};
    if (!f.mails.isEmpty())
        settings += AlarmMailSettings(smtp.port());
    StoreSettings(settings);

    MonitorRun run;
    ASSERT_TRUE(run.start());
    const bool ran = run.runScans(f.scans, f.scans * 45000);
    const QStringList &statuses = run.statuses();
    const std::string context = run.statusText() + "\nsimulator:\n" + sim.log().toStdString();
    ASSERT_TRUE(ran) << context;
    EXPECT_TRUE(inOrder(statuses, f.statuses)) << context;
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.boxes.value(0).text.toStdString();

    // The last readings after the fault were complete.
    const qsizetype lastFault = std::max({statuses.lastIndexOf(QStringLiteral("Scan failed.")),
                                          statuses.lastIndexOf(QStringLiteral("Scan timed out.")),
                                          qsizetype(0)});
    EXPECT_GE(statuses.mid(lastFault).count(QStringLiteral("Reading successful")), f.goodScansAfterFault) << context;

    // Every stored value is one the bus sent; every sensor is in the history.
    std::map<QString, int> rows;
    QSqlQuery q = Exec(QStringLiteral("SELECT SensorID, lTemp FROM LogTbl"));
    while (q.next()) {
        const QString id = q.value(0).toString();
        ASSERT_TRUE(f.temperatures.count(id)) << "unknown sensor " << id.toStdString() << "\n" << context;
        EXPECT_TRUE(f.temperatures.at(id).count(q.value(1).toDouble())) << id.toStdString() << " " << q.value(1).toDouble();
        ++rows[id];
    }
    QSqlQuery current = Exec(QStringLiteral("SELECT SensorID, cTmp FROM Sensors"));
    while (current.next()) {
        const QString id = current.value(0).toString();
        ASSERT_TRUE(f.temperatures.count(id)) << "unknown sensor " << id.toStdString();
        EXPECT_TRUE(f.temperatures.at(id).count(current.value(1).toDouble()));
    }
    for (const auto &[id, temps] : f.temperatures)
        EXPECT_GE(rows[id], f.goodScansAfterFault) << id.toStdString() << "\n" << context;

    if (!f.mails.isEmpty()) {
        ASSERT_TRUE(RunUntil([&] { return smtp.mails().size() >= f.mails.size(); }, 10000));
        QStringList subjects;
        for (const ReceivedMail &m : smtp.mails())
            subjects << m.subject;
        EXPECT_EQ(subjects, f.mails) << context;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, AdapterFaultE2E, ::testing::ValuesIn(Faults()),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
