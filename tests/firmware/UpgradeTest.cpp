#include "HexRecords.h"
#include "RunUntil.h"
#include "ScriptedPrompter.h"
#include "ScriptedSerialPort.h"
#include "SimProcess.h"
#include "TestHome.h"

#include "app/ui/MainMDI.h"
#include "core/FindVarnex.h"
#include "core/PortLoan.h"
#include "core/Program.h"
#include "firmware/HexImage.h"
#include "firmware/ui/UpdCode.h"
#include "firmware/Upgrade.h"
#include "link/SerialPort.h"
#include "link/VirtualClock.h"
#include "options/ui/Options.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
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

// In virtual time, so the whole built-in image is cheap: every record the loader may be sent
// goes in order, then "E". A record the loader never acknowledges gets five attempts of a
// second each, and the transfer stops there, without the "E" that would start a broken image.
// A program asked to end (SIGTERM, log-out) does not wait for the rest of the image either.
TEST_F(Upgrade, WholeImageOrStopAtTheFirstUnacknowledgedRecord)
{
    VirtualClock virtualTime;
    ScopedClock scoped(virtualTime);
    const QStringList image = LoadCode();
    const struct
    {
        int acks;
        int closeAt;
    } cases[] = { { 837, -1 }, { 2, -1 }, { 837, 10 } };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.acks + c.closeAt);
        const bool ok = c.acks == 837 && c.closeAt < 0;
        int left = c.acks;
        ScriptedSerialPort port;
        port.setResponder([&left](int, const QString &written) -> Reply {
            if (written == QLatin1String("\r"))
                return { { 3, QStringLiteral("l10\r\n") } };
            if (written.startsWith(QLatin1Char(':')) && left-- > 0)
                return { { 12, QStringLiteral(".") } };
            return {};
        });
        port.open();
        program().closing = false;
        const qint64 started = virtualTime.elapsedMs();
        EXPECT_EQ(
            UpgradeVarnex(port, image, [&c](int i) { program().closing = i == c.closeAt; }), ok);
        program().upgrading = false;

        QStringList expected { QStringLiteral("Z"), QStringLiteral("\r") };
        for (qsizetype i = 0; i < image.size() && i != c.closeAt; ++i) {
            if (RecordSkipped(image[i]))
                continue;
            expected << image[i] + QLatin1Char('\r');
            if (expected.size() == 3 + c.acks) {
                expected << QStringList(4, expected.back());
                EXPECT_NEAR(virtualTime.elapsedMs() - started, 5200, 200);
                break;
            }
        }
        if (ok)
            expected << QStringLiteral("E");
        EXPECT_EQ(port.written(), expected);
        EXPECT_FALSE(port.isOpen());
    }
    EXPECT_EQ(boxes.titles(), QStringList({ "Success", "Error", "Error" }));
}

// Start-up against an adapter with old firmware offers the upgrade; during the transfer no
// window closes; the loader gets only the records meant for it; monitoring starts and the
// adapter reports the new firmware only after a complete transfer.
TEST_F(Upgrade, StartUpOffersTheUpgradeAndMonitorsOnlyAfterSuccess)
{
    const struct
    {
        const char *extra;
        int acknowledged; // records the loader took; -1: all
        int adapterAfter; // what the adapter then identifies as
    } cases[] = {
        { "", -1, VarnexReady },
        { "loader-prompt l10", -1, VarnexReady },
        { "loader-prompt L1", 0, NoVarnex }, // left in its loader: it does not identify
        { "fault loader-silent", 0, VarnexTooOld },
        { "fault loader-stop 3", 3, NoVarnex },
    };
    const SmallImage img = MakeSmallImage();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.extra);
        const bool ok = c.acknowledged < 0;
        TestHome freshHome;
        boxes.boxes.clear();
        SimProcess sim(oldFirmwareScenario() + QLatin1Char('\n') + QLatin1String(c.extra));
        ASSERT_TRUE(sim.started());
        sim.attachAsPort(1);
        MainMDI w;
        ASSERT_TRUE(w.startUp());
        EXPECT_EQ(w.collection(), nullptr);
        QPointer<UpdCode> upd = w.findChild<UpdCode *>(QStringLiteral("UpdCode"));
        ASSERT_FALSE(upd.isNull());
        auto *bar = upd->findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
        auto *proceed = upd->findChild<QPushButton *>(QStringLiteral("Proceed"));
        auto *cancel = upd->findChild<QPushButton *>(QStringLiteral("CancelBtn"));
        EXPECT_EQ(upd->windowTitle(), QStringLiteral("Update Varnex firmware"));
        EXPECT_EQ(upd->findChild<QLabel *>(QStringLiteral("MessageLbl"))->text(),
            UpgradeOfferText().replace(QLatin1Char('\r'), QLatin1Char('\n')));
        EXPECT_EQ(std::make_tuple(bar->minimum(), bar->maximum(), bar->value()),
            std::make_tuple(0, 836, 0));
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
            QStringList { ok ? QStringLiteral("Success") : QStringLiteral("Error") });
        EXPECT_EQ(boxes.boxes.value(0).text,
            ok ? UpgradeSucceededText() : QLatin1String(kUpgradeFailedText));
        EXPECT_EQ(program().adapterOK, ok);
        EXPECT_EQ(w.collection() != nullptr, ok);
        EXPECT_EQ(shown.size() > 2, c.acknowledged != 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(upd.isNull());
        // A record the loader leaves unanswered is sent five times, then nothing more.
        QStringList received = ok ? img.sent : img.sent.mid(0, c.acknowledged);
        if (c.acknowledged > 0)
            received << QStringList(5, img.sent[c.acknowledged]);
        const QString log = sim.log();
        EXPECT_EQ(loaderRecords(log), received);
        EXPECT_EQ(log.contains(QLatin1String("E: left the loader")), ok);
        {
            PortLoan loan;
            EXPECT_EQ(FindVarnex(*MakeSerialPort(), true), c.adapterAfter);
        }
        EXPECT_TRUE(w.close());
    }
}

// The port has one owner at a time, on the way a user takes: no adapter at start-up, a port
// test finds one with old firmware and opens the firmware window. Proceed pressed during a
// second port test waits for its answer instead of running inside the probe; during the
// transfer the Test button is told the adapter is busy and sends nothing into the loader, and
// closing the Options dialog leaves the port to the transfer, which goes through whole.
TEST_F(Upgrade, PortHasOneOwner_PortTestAndTransferNeverMeet)
{
    MainMDI w;
    ASSERT_TRUE(w.startUp()); // nothing on any port: the Options dialog opens
    SimProcess sim(oldFirmwareScenario());
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(1);
    auto *options = w.findChild<Options *>();
    ASSERT_NE(options, nullptr);
    QPointer<QWidget> optionsFrame = options->parentWidget();
    auto *test = options->findChild<QPushButton *>(QStringLiteral("TestPbtn"));
    auto *answer = options->findChild<QLineEdit *>(QStringLiteral("VarnexFoundBx"));
    options->findChild<QLineEdit *>(QStringLiteral("PortNoBx"))->setText(QStringLiteral("1"));
    test->click();
    EXPECT_EQ(answer->text(), QStringLiteral("Varnex found"));
    QPointer<UpdCode> upd = w.findChild<UpdCode *>(QStringLiteral("UpdCode"));
    ASSERT_FALSE(upd.isNull());
    const SmallImage img = MakeSmallImage();
    upd->setImage(img.records);

    bool proceedPressed = false;
    bool transferInsideTest = false;
    bool testedDuringTransfer = false;
    QString answerDuringTransfer;
    bool portOpenAfterClose = false;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!proceedPressed && options->portTestRunning() && PortLent()) {
            proceedPressed = true;
            QTimer::singleShot(0, upd, [upd] {
                upd->findChild<QPushButton *>(QStringLiteral("Proceed"))->click();
            });
        }
        transferInsideTest = transferInsideTest || (program().upgrading && optionsFrame
                                                       && options->portTestRunning());
        if (program().upgrading && !testedDuringTransfer && optionsFrame) {
            testedDuringTransfer = true;
            answer->clear();
            test->click();
            answerDuringTransfer = answer->text();
            optionsFrame->close();
            portOpenAfterClose = program().port->isOpen();
        }
    });
    watch.start();
    answer->clear();
    test->click();
    EXPECT_TRUE(proceedPressed);
    EXPECT_EQ(answer->text(), QStringLiteral("Varnex found"));
    ASSERT_TRUE(RunUntil(
        [&] { return !program().upgrading && boxes.titles().size() >= 2; }, 60000));
    watch.stop();

    EXPECT_FALSE(transferInsideTest);
    EXPECT_TRUE(testedDuringTransfer);
    EXPECT_EQ(answerDuringTransfer, QLatin1String(kAdapterBusyText));
    EXPECT_TRUE(optionsFrame.isNull() || !optionsFrame->isVisible());
    EXPECT_TRUE(portOpenAfterClose);
    EXPECT_EQ(boxes.titles(), QStringList({ "Varnex not found", "Success" }));
    const QString log = sim.log();
    EXPECT_EQ(loaderRecords(log), img.sent) << log.toStdString();
    EXPECT_TRUE(log.contains(QLatin1String("E: left the loader"))) << log.toStdString();
    EXPECT_TRUE(program().adapterOK);
    ASSERT_TRUE(RunUntil([&] { return w.collection() && !PortInUse(); }, 10000));
    EXPECT_TRUE(w.close());
}
