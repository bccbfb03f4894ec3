#include "HexRecords.h"
#include "ScriptedPrompter.h"
#include "ScriptedSerialPort.h"
#include "SimProcess.h"
#include "TestHome.h"

#include "firmware/HexImage.h"
#include "firmware/Upgrade.h"
#include "firmware/ui/UpdCode.h"
#include "link/SerialPort.h"
#include "link/VirtualClock.h"
#include "shell/FindVarnex.h"
#include "shell/Program.h"
#include "shell/ui/MainMDI.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

class Upgrade : public ::testing::Test
{
protected:
    TestHome home;
    NoRealPorts noPorts;
    ScriptedPrompter boxes;
};

// The records the simulator's loader received, acknowledged or not, in order.
QStringList loaderRecords(const QString &log)
{
    QStringList out;
    for (const QString &line : log.split(QLatin1Char('\n'))) {
        const qsizetype at = line.indexOf(QLatin1String("loader: record "));
        if (at >= 0)
            out << line.mid(at + 15).section(QLatin1Char(' '), 0, 0);
    }
    return out;
}

QString oldFirmwareScenario()
{
    QFile f(QStringLiteral(CLAROW_SOURCE_DIR "/tools/varnex-sim/scenarios/old-firmware.txt"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

TEST_F(Upgrade, LoaderHandshakeAndRecordRulesAgainstTheSimulator)
{
    struct Case
    {
        const char *extra;
        bool ok;
        int adapterAfter; // what the adapter then identifies as
    };
    const Case cases[] = {
        { "", true, VarnexReady },
        { "loader-prompt l10", true, VarnexReady },
        { "loader-prompt L1", false, NoVarnex }, // still in its loader: it does not identify
        { "fault loader-silent", false, VarnexTooOld },
    };
    const SmallImage img = MakeSmallImage();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.extra);
        boxes.boxes.clear();
        program().adapterOK = false;
        program().upgrading = false; // cleared by the window once it is done
        SimProcess sim(oldFirmwareScenario() + QLatin1Char('\n') + QLatin1String(c.extra));
        ASSERT_TRUE(sim.started());
        sim.attachAsPort(1);
        program().settings.PortNumber = 1;
        const auto port = MakeSerialPort();
        oPort(*port);
        ASSERT_TRUE(port->isOpen());

        EXPECT_EQ(UpgradeVarnex(*port, img.records), c.ok);
        EXPECT_FALSE(port->isOpen());
        EXPECT_EQ(program().adapterOK, c.ok);
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_EQ(boxes.boxes[0].title, c.ok ? QStringLiteral("Success") : QStringLiteral("Error"));
        EXPECT_EQ(
            boxes.boxes[0].text, c.ok ? UpgradeSucceededText() : QLatin1String(kUpgradeFailedText));
        EXPECT_EQ(FindVarnex(*port, true), c.adapterAfter);
        EXPECT_EQ(loaderRecords(sim.log()), c.ok ? img.sent : QStringList());
    }
}

// In virtual time, so the whole built-in image is cheap: every record the loader may be sent
// goes in order, then "E". A record the loader never acknowledges gets five attempts of a
// second each; then the transfer stops there, without "E" that would start the broken image.
TEST_F(Upgrade, WholeImageOrStopAtTheFirstUnacknowledgedRecord)
{
    VirtualClock virtualTime;
    ScopedClock scoped(virtualTime);
    const QStringList image = LoadCode();
    for (const int acks : { 837, 2 }) {
        SCOPED_TRACE(acks);
        ScriptedSerialPort port;
        int left = acks;
        port.setResponder([&left](int, const QString &written) -> Reply {
            if (written == QLatin1String("\r"))
                return { { 3, QStringLiteral("l10\r\n") } };
            if (written.startsWith(QLatin1Char(':')) && left-- > 0)
                return { { 12, QStringLiteral(".") } };
            return {};
        });
        port.open();
        QList<int> progress;
        const qint64 started = virtualTime.elapsedMs();
        const bool ok = UpgradeVarnex(port, image, [&progress](int i) { progress << i; });
        program().upgrading = false;

        QStringList expected { QStringLiteral("Z"), QStringLiteral("\r") };
        for (const QString &r : image) {
            if (!RecordSkipped(r) && (ok || expected.size() < 3 + acks))
                expected << r + QLatin1Char('\r');
        }
        if (ok)
            expected << QStringLiteral("E");
        else
            expected << expected.back() << expected.back() << expected.back() << expected.back();
        EXPECT_EQ(ok, acks == 837);
        EXPECT_EQ(port.written(), expected);
        EXPECT_EQ(progress.back(), ok ? 836 : image.indexOf(expected.back().chopped(1)));
        if (!ok) {
            EXPECT_NEAR(virtualTime.elapsedMs() - started, 5200, 200);
        }
    }
    EXPECT_EQ(boxes.titles(), (QStringList { QStringLiteral("Success"), QStringLiteral("Error") }));
}

// Start-up against an adapter with old firmware offers the upgrade; during the transfer no
// window closes; afterwards monitoring starts only when the adapter took the whole image.
TEST_F(Upgrade, StartUpOffersTheUpgradeAndMonitorsOnlyAfterSuccess)
{
    const SmallImage img = MakeSmallImage();
    for (const bool loaderStops : { false, true }) {
        SCOPED_TRACE(loaderStops ? "loader stops" : "loader acknowledges");
        TestHome freshHome;
        boxes.boxes.clear();
        SimProcess sim(oldFirmwareScenario()
            + (loaderStops ? QStringLiteral("\nfault loader-stop 3") : QString()));
        ASSERT_TRUE(sim.started());
        sim.attachAsPort(1);
        MainMDI w;
        ASSERT_TRUE(w.startUp());
        EXPECT_EQ(w.collection(), nullptr);
        QPointer<UpdCode> upd = w.findChild<UpdCode *>(QStringLiteral("UpdCode"));
        ASSERT_FALSE(upd.isNull());
        EXPECT_EQ(upd->windowTitle(), QStringLiteral("Update Varnex firmware"));
        EXPECT_EQ(upd->findChild<QLabel *>(QStringLiteral("MessageLbl"))->text(),
            UpgradeOfferText().replace(QLatin1Char('\r'), QLatin1Char('\n')));
        EXPECT_EQ(
            upd->findChild<QLabel *>(QStringLiteral("NoteLbl"))->text(), QStringLiteral("Note:"));
        auto *bar = upd->findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
        EXPECT_EQ(std::make_tuple(bar->minimum(), bar->maximum(), bar->value()),
            std::make_tuple(0, 836, 0));
        auto *proceed = upd->findChild<QPushButton *>(QStringLiteral("Proceed"));
        auto *cancel = upd->findChild<QPushButton *>(QStringLiteral("CancelBtn"));
        EXPECT_EQ(proceed->text() + cancel->text(), QStringLiteral("ProceedCancel"));

        upd->setImage(img.records);
        QList<int> shown;
        QObject::connect(bar, &QProgressBar::valueChanged, [&shown](int v) { shown << v; });
        bool closedDuring = true;
        QTimer::singleShot(30, &w, [&] {
            closedDuring = upd->parentWidget()->close() || w.close() || proceed->isEnabled()
                || cancel->isEnabled();
        });
        proceed->click();

        EXPECT_FALSE(closedDuring);
        EXPECT_FALSE(program().upgrading);
        EXPECT_EQ(boxes.titles(),
            QStringList { loaderStops ? QStringLiteral("Error") : QStringLiteral("Success") });
        EXPECT_EQ(w.collection() != nullptr, !loaderStops);
        EXPECT_GT(shown.size(), 2);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(upd.isNull());
        const QString log = sim.log();
        EXPECT_EQ(loaderRecords(log).size(), loaderStops ? 3 + 5 : img.sent.size());
        EXPECT_EQ(log.contains(QLatin1String("E: left the loader")), !loaderStops);
        EXPECT_TRUE(w.close());
    }
}
