// The reading exchange in virtual time, against a scripted port.
#include "monitor/ReadAdapter.h"

#include "core/DiagnosticLog.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "link/VirtualClock.h"
#include "tests/support/ScriptedSerialPort.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kLine1 = QStringLiteral("10A1B2C3D4E5F607,21.5,70.7\r\n");
const QString kLine2 = QStringLiteral("26A1B2C3D4E5F607 19,22.25,72.05,45\r\n");
const QString kEod = QStringLiteral("EOD\r\n");

struct Status
{
    QString text;
    qint64 atMs;
};

class ReadAdapterTest : public ::testing::Test
{
protected:
    explicit ReadAdapterTest(QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(12, 0)))
        : m_clock(std::move(start)), m_use(m_clock)
    {
    }

    QDateTime read(bool logComms = false)
    {
        const ReadResult r = ReadAdapter(port, 1, logComms, [this](const QString &t) {
            statuses.append({t, m_clock.elapsedMs()});
        });
        rxBuffer = r.reply;
        if (r.status == ReadStatus::Complete)
            lastGoodRead = r.readAt;
        return r.readAt;
    }

    // The time each "D" was written.
    void recordCommands()
    {
        port.setResponder([this](int, const QString &text) {
            if (text != QLatin1String("D"))
                return Reply {};
            commandTimes.append(m_clock.elapsedMs());
            Reply r = replies.isEmpty() ? Reply {} : replies.takeFirst();
            return r;
        });
    }

    [[nodiscard]] QStringList texts() const
    {
        QStringList l;
        for (const Status &s : statuses)
            l.append(s.text);
        return l;
    }

    VirtualClock m_clock;
    ScopedClock m_use;
    ScriptedSerialPort port;
    QString rxBuffer = QStringLiteral("left over from the last scan");
    QDateTime lastGoodRead;
    QList<Status> statuses;
    QList<qint64> commandTimes;
    QList<Reply> replies;
};

} // namespace

TEST_F(ReadAdapterTest, CompleteReply_ReturnsTimeOfReceptionAndKeepsReply)
{
    TestHome home;
    port.setReply({{200, kLine1}, {400, kLine2}, {450, kEod}});
    const QDateTime before = Now();

    const QDateTime result = read(true);

    EXPECT_EQ(texts(), QStringList {QStringLiteral("Reading successful")});
    EXPECT_EQ(rxBuffer, kLine1 + kLine2 + kEod);
    EXPECT_FALSE(IsZeroDate(result));
    EXPECT_EQ(result, lastGoodRead);
    EXPECT_EQ(result.time().msec(), 0);
    EXPECT_GE(result, before.addMSecs(-999));
    EXPECT_LE(result, Now());
    EXPECT_EQ(port.written(), QStringList {QStringLiteral("D")});
    EXPECT_FALSE(port.isOpen());
    // The raw reply goes to the diagnostic log when communications are logged.
    EXPECT_TRUE(home.readFile(LogFileName(Now())).contains(QStringLiteral("10A1B2C3D4E5F607,21.5,70.7")));
}

TEST_F(ReadAdapterTest, EodAfterTwentyOneCharacters_IsAcceptedWithoutLogging)
{
    TestHome home;
    // 21 characters before "EOD": it starts at position 22.
    port.setReply({{100, QStringLiteral("10A1B2C3D4E5F607,1.0\r")}, {150, QStringLiteral("EOD")}});

    const QDateTime result = read(false);

    EXPECT_FALSE(IsZeroDate(result));
    EXPECT_EQ(texts(), QStringList {QStringLiteral("Reading successful")});
    EXPECT_TRUE(home.readFile(LogFileName(Now())).isEmpty());
}

TEST_F(ReadAdapterTest, EodWithinFirstTwentyCharacters_IsNeverAcceptedAndTimesOutASecondLater)
{
    recordCommands();
    // "EOD" alone, then more text that makes the buffer long: the early "EOD" still does not
    // count.
    replies = {{{100, kEod}, {600, QStringLiteral("                        \r\n")}}};
    lastGoodRead = QDateTime(QDate(2026, 3, 1), QTime(8, 0));

    const QDateTime result = read();

    EXPECT_TRUE(IsZeroDate(result));
    EXPECT_EQ(lastGoodRead, QDateTime(QDate(2026, 3, 1), QTime(8, 0)));
    ASSERT_EQ(texts(), QStringList {QStringLiteral("Scan timed out.")});
    ASSERT_EQ(commandTimes.size(), 1);
    const qint64 lastArrival = commandTimes[0] + 600;
    EXPECT_GE(statuses[0].atMs, lastArrival + 1000);
    EXPECT_LE(statuses[0].atMs, lastArrival + 1000 + 2 * 50);
    EXPECT_EQ(rxBuffer, kEod + QStringLiteral("                        \r\n"));
    EXPECT_FALSE(port.isOpen());
}

TEST_F(ReadAdapterTest, Silence_TimesOutAfterThreeSecondsWithoutRetry)
{
    recordCommands();

    EXPECT_TRUE(IsZeroDate(read()));

    EXPECT_EQ(texts(), QStringList {QStringLiteral("Scan timed out.")});
    EXPECT_EQ(port.written().size(), 1);
    EXPECT_GE(statuses[0].atMs, commandTimes[0] + 3000);
    EXPECT_LE(statuses[0].atMs, commandTimes[0] + 3000 + 2 * 50);
    EXPECT_TRUE(rxBuffer.isEmpty());
}

TEST_F(ReadAdapterTest, NoSensorsReply_EndsAtOnceWithoutRetry)
{
    recordCommands();
    replies = {{{120, QStringLiteral("?01\r\n")}}};

    EXPECT_TRUE(IsZeroDate(read()));

    EXPECT_EQ(texts(), QStringList {QStringLiteral("No sensors connected")});
    EXPECT_EQ(port.written(), QStringList {QStringLiteral("D")});
    EXPECT_TRUE(rxBuffer.isEmpty());
    EXPECT_LE(statuses[0].atMs, commandTimes[0] + 120 + 50);
    EXPECT_FALSE(port.isOpen());
}

TEST_F(ReadAdapterTest, ErrorMarkAfterSensorLines_RetriesTwiceWithFreshBufferThenFails)
{
    recordCommands();
    for (int i = 0; i < 3; ++i)
        replies.append({{100, kLine1}, {200, QStringLiteral("attempt %1 ?\r\n").arg(i + 1)}});

    EXPECT_TRUE(IsZeroDate(read()));

    EXPECT_EQ(texts(), (QStringList {QStringLiteral("Scan failed, retrying."),
                                     QStringLiteral("Scan failed, retrying."),
                                     QStringLiteral("Scan failed.")}));
    EXPECT_EQ(port.written().size(), 3);
    // The last attempt's partial reply is what is left, not the three together.
    EXPECT_EQ(rxBuffer, kLine1 + QStringLiteral("attempt 3 ?\r\n"));
    EXPECT_FALSE(port.isOpen());
}

TEST_F(ReadAdapterTest, LongErrorReplyHoldingNoSensorsMark_IsAnErrorNotAnEmptyBus)
{
    port.setReply({{100, kLine1 + QStringLiteral("?01\r\n")}});

    EXPECT_TRUE(IsZeroDate(read()));

    EXPECT_EQ(texts().last(), QStringLiteral("Scan failed."));
    EXPECT_EQ(port.written().size(), 3);
}

TEST_F(ReadAdapterTest, ErrorOnFirstAttemptThenGoodReply_Succeeds)
{
    port.queueReply({{100, QStringLiteral("?\r\n")}});
    port.setReply({{100, kLine1}, {200, kEod}});

    EXPECT_FALSE(IsZeroDate(read()));

    EXPECT_EQ(texts(), (QStringList {QStringLiteral("Scan failed, retrying."),
                                     QStringLiteral("Reading successful")}));
    EXPECT_EQ(rxBuffer, kLine1 + kEod);
}

TEST_F(ReadAdapterTest, DataInGapsUnderOneSecond_KeepsExchangeOpenPastThreeSeconds)
{
    recordCommands();
    Reply slow;
    for (int i = 0; i < 6; ++i)
        slow.append({500 + i * 900, kLine1});
    slow.append({500 + 6 * 900, kEod});
    replies = {slow};

    const QDateTime result = read();

    EXPECT_FALSE(IsZeroDate(result));
    ASSERT_EQ(texts(), QStringList {QStringLiteral("Reading successful")});
    EXPECT_GT(statuses[0].atMs - commandTimes[0], 5000);
    EXPECT_EQ(rxBuffer.count(kLine1), 6);
}

TEST_F(ReadAdapterTest, GapLongerThanOneSecond_EndsTheExchange)
{
    port.setReply({{500, kLine1}, {1600, kEod}});

    EXPECT_TRUE(IsZeroDate(read()));

    EXPECT_EQ(texts(), QStringList {QStringLiteral("Scan timed out.")});
    EXPECT_EQ(rxBuffer, kLine1);
}

TEST_F(ReadAdapterTest, PortThatCannotBeOpened_ThreeAttemptsApartThenFailsASecondLater)
{
    port.setPresentPorts({2});

    const QDateTime result = read();

    EXPECT_TRUE(IsZeroDate(result));
    EXPECT_EQ(texts(), (QStringList {QStringLiteral("Scan failed, retrying."),
                                     QStringLiteral("Scan failed, retrying."),
                                     QStringLiteral("Scan failed.")}));
    ASSERT_EQ(port.openAttempts(), 3);
    EXPECT_EQ(port.portsOpened(), (QList<int> {1, 1, 1}));
    EXPECT_EQ(port.openTimes()[1] - port.openTimes()[0], 150);
    EXPECT_EQ(port.openTimes()[2] - port.openTimes()[1], 150);
    EXPECT_EQ(m_clock.elapsedMs() - statuses.last().atMs, 1000);
    EXPECT_TRUE(port.written().isEmpty());
    EXPECT_EQ(rxBuffer, QString());
}

TEST_F(ReadAdapterTest, PortFailingOnce_IsRetriedAndRead)
{
    port.failOpens(1);
    port.setReply({{100, kLine1}, {200, kEod}});

    EXPECT_FALSE(IsZeroDate(read()));

    EXPECT_EQ(texts(), (QStringList {QStringLiteral("Scan failed, retrying."),
                                     QStringLiteral("Reading successful")}));
    EXPECT_EQ(port.opens(), port.closes());
}

namespace {
class ReadAdapterAtMidnight : public ReadAdapterTest
{
protected:
    ReadAdapterAtMidnight()
        : ReadAdapterTest(QDateTime(QDate(2026, 3, 2), QTime(23, 59, 58, 900)))
    {
    }
};
} // namespace

TEST_F(ReadAdapterAtMidnight, TimesOutAfterTheSameElapsedTimeAsAtNoon)
{
    // The same exchanges, a silent one and one that hears only "EOD", at noon and across
    // midnight.
    const auto durationAt = [](const QDateTime &start, const Reply &reply) {
        VirtualClock vc(start);
        ScopedClock use(vc);
        ScriptedSerialPort p;
        p.setReply(reply);
        QString status;
        const ReadResult r = ReadAdapter(p, 1, false, [&status](const QString &t) { status = t; });
        EXPECT_EQ(r.status, ReadStatus::TimedOut);
        EXPECT_EQ(status, QStringLiteral("Scan timed out."));
        return vc.elapsedMs();
    };
    const QDateTime noon(QDate(2026, 3, 2), QTime(12, 0));
    const QDateTime beforeMidnight(QDate(2026, 3, 2), QTime(23, 59, 58, 900));
    const Reply silent;
    const Reply eodOnly {{200, kEod}};

    EXPECT_EQ(durationAt(beforeMidnight, silent), durationAt(noon, silent));
    EXPECT_EQ(durationAt(beforeMidnight, eodOnly), durationAt(noon, eodOnly));
    EXPECT_GT(durationAt(beforeMidnight, silent), 3000);

    setClock(&m_clock);
    EXPECT_TRUE(IsZeroDate(read()));
    EXPECT_EQ(Now().date(), QDate(2026, 3, 3));
    EXPECT_EQ(texts(), QStringList {QStringLiteral("Scan timed out.")});
}

TEST_F(ReadAdapterTest, ReplyThatNeverEnds_StopsAtTheTimeOrSizeLimitLikeATimeOut)
{
    // An adapter or bridge that keeps sending reading lines without "EOD": slowly, so that
    // every line comes well within a second of the last; as fast as a network link carries
    // it; and one the program stops listening to because it is closing down.
    const QString block = kLine1.repeated(300); // 8,400 characters
    const struct
    {
        const char *name;
        QString piece;
        qint64 everyMs;
        qint64 endsAtMs;   // after the command, give or take one poll
        bool closing;      // the program closes down 5 s into the exchange
        QString logged;    // in the diagnostic log; empty: nothing about the reply
    } cases[] = {
        {"slow", kLine1, 500, 40000, false, QStringLiteral("did not end within 40 seconds")},
        {"fast", block, 50, 450, false, QStringLiteral("grew past 65536 characters")},
        {"closing", QStringLiteral("28A1"), 500, 5000, true, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TestHome home;
        program().settings.LogErrors = true;
        ScriptedSerialPort endlessPort;
        Reply endless;
        for (qint64 t = 100; t < 600000; t += c.everyMs)
            endless.append({t, c.piece});
        endlessPort.setReply(endless);
        const qint64 started = m_clock.elapsedMs();
        m_clock.setOnSleep([this, &c, started] {
            if (c.closing && m_clock.elapsedMs() >= started + 300 + c.endsAtMs)
                program().closing = true;
        });
        QStringList shown;
        qint64 shownAt = -1;

        const ReadResult read = ReadAdapter(endlessPort, 1, false, [&](const QString &t) {
            shown << t;
            shownAt = m_clock.elapsedMs();
        });
        const QDateTime result = read.readAt;
        const QString &buffer = read.reply;
        program().closing = false;
        program().settings.LogErrors = false;
        m_clock.setOnSleep({});

        EXPECT_TRUE(IsZeroDate(result));
        EXPECT_EQ(read.status, ReadStatus::TimedOut);
        // No retry: it ends as a time-out does, after the settling pause and the limit.
        EXPECT_EQ(endlessPort.written(), QStringList{QStringLiteral("D")});
        EXPECT_EQ(shown, QStringList{QStringLiteral("Scan timed out.")});
        EXPECT_GE(shownAt - started - 300, c.endsAtMs - 50);
        EXPECT_LE(shownAt - started - 300, c.endsAtMs + 2 * 50);
        EXPECT_LE(buffer.size(), 65536);
        EXPECT_FALSE(endlessPort.isOpen());
        const QString log = home.readFile(LogFileName(Now()));
        if (c.logged.isEmpty())
            EXPECT_FALSE(log.contains(QStringLiteral("Scan stopped"))) << log.toStdString();
        else
            EXPECT_TRUE(log.contains(c.logged)) << log.toStdString();
    }
}

TEST_F(ReadAdapterTest, EveryEnding_HasItsStatus)
{
    const struct
    {
        const char *name;
        Reply reply;           // the same for every attempt
        QList<int> present;    // the ports that exist; empty: all
        ReadStatus status;
        bool complete;         // a time of reading comes with it
    } cases[] = {
        {"complete", {{100, kLine1}, {200, kEod}}, {}, ReadStatus::Complete, true},
        {"no sensors", {{100, QStringLiteral("?01\r\n")}}, {}, ReadStatus::NoSensors, false},
        {"error reply", {{100, kLine1 + QStringLiteral("?\r\n")}}, {}, ReadStatus::ErrorReply, false},
        {"timed out", {{100, kLine1}}, {}, ReadStatus::TimedOut, false},
        {"port failed", {}, {2}, ReadStatus::PortFailed, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSerialPort p;
        p.setReply(c.reply);
        if (!c.present.isEmpty())
            p.setPresentPorts(c.present);

        const ReadResult once = ReadAdapterOnce(p, 1, false, {});
        const ReadResult read = ReadAdapter(p, 1, false, {});

        EXPECT_EQ(once.status, c.status);
        EXPECT_EQ(read.status, c.status);
        EXPECT_EQ(!IsZeroDate(read.readAt), c.complete);
        EXPECT_FALSE(p.isOpen());
    }
}
