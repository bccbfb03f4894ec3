// The web page in a real browser: clarow runs offscreen on the adapter simulator and serves
// its page; headless Chromium, driven by tests/monitor/web_browser.py, looks at it as an
// operator's phone would, and its CSV download is compared with the desktop's own export.
#include "core/Program.h"
#include "link/Clock.h"
#include "monitor/ui/Collection.h"
#include "MonitorRun.h"
#include "NetworkServers.h"
#include "ScriptedPrompter.h"
#include "SimProcess.h"
#include "TestHome.h"
#include "views/LogExport.h"
#include "views/WebPage.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kHot = QStringLiteral("28FF0A7D63160321");
const QString kCool = QStringLiteral("28FF0B7D63160321");

QByteArray FileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(WebBrowser, GridUpdatesWithoutReloadChartHasLimitsCsvEqualsDesktopExport)
{
    if (!HaveProgram(QStringLiteral("/usr/bin/chromium")) || !HaveProgram(QStringLiteral("/usr/bin/chromedriver")))
        GTEST_SKIP() << "chromium and chromium-driver are not installed (tools/install-deps installs them)";
    TestHome home;
    NoRealPorts noPorts;
    ScriptedPrompter boxes;
    // The hot sensor cools down after the adapter has answered two readings.
    SimProcess sim(QStringLiteral("sensor %1 temp=55\nsensor %2 temp=38\nafter 2 set %1 temp=36.5\n").arg(kHot, kCool));
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(1);
    StoreSettings({{QStringLiteral("DefaultSensorLoc"), QStringLiteral("<script>alert(1)</script>")},
                   {QStringLiteral("DefLoT"), QStringLiteral("0")},
                   {QStringLiteral("DefHiT"), QStringLiteral("50")},
                   {QStringLiteral("ColAlarm"), QStringLiteral("8421631")},
                   {QStringLiteral("ColOK"), QStringLiteral("8454016")}});

    MonitorRun run;
    ASSERT_TRUE(run.start()) << run.statusText();
    ASSERT_TRUE(run.runScans(1, 30000)) << run.statusText();
    WebPage web;
    ASSERT_TRUE(web.listen(QStringLiteral("127.0.0.1:0"))) << web.errorText().toStdString();
    // A second page that asks for a password.
    ASSERT_TRUE(StoreWebPassword(QStringLiteral("s3cret"), nullptr));
    WebPage locked;
    ASSERT_TRUE(locked.listen(QStringLiteral("127.0.0.1:0")));

    QTemporaryDir downloads;
    QProcess browser;
    browser.setProcessChannelMode(QProcess::SeparateChannels);
    // Debian's interpreter, which holds python3-selenium, whatever python3 the PATH finds first.
    browser.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral(CLAROW_SOURCE_DIR "/tests/monitor/web_browser.py"),
                   QStringLiteral("http://127.0.0.1:%1/").arg(web.port()), kHot, downloads.path(),
                   QStringLiteral("http://127.0.0.1:%1/").arg(locked.port())});
    QByteArray said;
    const auto reached = [&](const QByteArray &step, int ms) {
        return RunUntil(
            [&] {
                said += browser.readAllStandardOutput();
                return said.contains(step) || said.contains("FAIL") || browser.state() == QProcess::NotRunning;
            },
            ms)
            && said.contains(step);
    };
    const auto why = [&] { return said.toStdString() + browser.readAllStandardError().right(3000).toStdString(); };

    ASSERT_TRUE(reached("grid-ok\n", 90000)) << why();
    ASSERT_TRUE(run.runScans(2, 60000)) << run.statusText();
    browser.write("scanned\n");
    ASSERT_TRUE(reached("updated\n", 60000)) << why();
    ASSERT_TRUE(reached("downloaded ", 60000)) << why();
    ASSERT_TRUE(reached("done\n", 60000)) << why();
    browser.waitForFinished(20000);
    EXPECT_EQ(browser.exitCode(), 0) << why();

    // The desktop's export of the same day, written as the log window writes it.
    const QString path = QString::fromUtf8(said.mid(said.indexOf("downloaded ") + 11).split('\n').first());
    const QDate today = Now().date();
    LogData desktop;
    const LoadResult loaded = LoadLogData(desktop, kHot, QDateTime(today, QTime(0, 0)), QDateTime(today, QTime(23, 59, 59)));
    ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded);
    const Settings &s = program().settings;
    const ExportHeader h{s.LocationName, kHot, s.CorF, s.DateFormat, s.TimeFormat, today, loaded.kind};
    ASSERT_TRUE(WriteExport(home.file(QStringLiteral("desktop.csv")), desktop, h, QLatin1Char(',')));
    EXPECT_EQ(FileBytes(path), FileBytes(home.file(QStringLiteral("desktop.csv"))));
    EXPECT_GE(desktop.RecCount, 2);
}
