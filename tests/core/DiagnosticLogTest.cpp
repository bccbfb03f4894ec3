#include "core/DiagnosticLog.h"
#include "link/VirtualClock.h"

#include "tests/support/TestHome.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>

#include <gtest/gtest.h>

using namespace clarow;
using clarow::test::TestHome;

namespace {

const QString kIndent(22, QLatin1Char(' '));

QByteArray rawFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace

TEST(LogLine, HeaderIsDateTimeAndBar)
{
    const QDateTime at(QDate(2008, 2, 1), QTime(9, 5, 7));
    EXPECT_EQ(LogFileName(at), QStringLiteral("2008_02_01.log"));
    EXPECT_EQ(LogLine(QStringLiteral("Scheduled database compaction failed."), at),
              QStringLiteral("2008 02 01 09:05:07 | Scheduled database compaction failed.\r\n"));
    EXPECT_EQ(LogLine(QStringLiteral("x"), QDateTime(QDate(2007, 5, 31), QTime(14, 3, 22))).left(22),
              QStringLiteral("2007 05 31 14:03:22 | "));
}

TEST(LogLine, LineBreaksInsideIndentAndAtTheEdgesVanish)
{
    const QDateTime at(QDate(2008, 2, 1), QTime(23, 0, 0));
    const QString header = QStringLiteral("2008 02 01 23:00:00 | ");

    EXPECT_EQ(LogLine(QStringLiteral("ABCDEFGH\r\nIJKLMNOP"), at),
              header + QStringLiteral("ABCDEFGH\r\n") + kIndent + QStringLiteral("IJKLMNOP\r\n"));
    EXPECT_EQ(LogLine(QStringLiteral("\r\nReply line\r\n"), at),
              header + QStringLiteral("Reply line\r\n"));
    // In "a CR LF b CR LF c" the breaks sit at positions 2 and 5: too near the edges.
    EXPECT_EQ(LogLine(QStringLiteral("a\r\nb\r\nc"), at), header + QStringLiteral("abc\r\n"));
    // A bare line feed is dropped wherever it is.
    EXPECT_EQ(LogLine(QStringLiteral("one\ntwo"), at), header + QStringLiteral("onetwo\r\n"));
    EXPECT_EQ(LogLine(QStringLiteral("line one\r\nline two\r\nline three\r\n"), at),
              header + QStringLiteral("line one\r\n") + kIndent + QStringLiteral("line two\r\n")
                  + kIndent + QStringLiteral("line three\r\n"));
}

TEST(WriteLog, AppendsToTheDaysFileInTheProgramFolder)
{
    TestHome home(false);
    VirtualClock vc(QDateTime(QDate(2008, 2, 1), QTime(9, 5, 7)));
    ScopedClock use(vc);

    WriteLog(QStringLiteral("Scheduled database compaction failed."));
    vc.advanceMs(2000);
    WriteLog(QStringLiteral("Temperature 22.5 °C"));

    EXPECT_EQ(rawFile(home.file(QStringLiteral("2008_02_01.log"))),
              QByteArray("2008 02 01 09:05:07 | Scheduled database compaction failed.\r\n"
                         "2008 02 01 09:05:09 | Temperature 22.5 \xC2\xB0"
                         "C\r\n"));
}

TEST(WriteLog, WriteJustAfterMidnightGoesToTheNewDaysFile)
{
    TestHome home(false);
    VirtualClock vc(QDateTime(QDate(2008, 2, 29), QTime(23, 59, 59)));
    ScopedClock use(vc);

    WriteLog(QStringLiteral("before"));
    vc.advanceMs(1500);
    WriteLog(QStringLiteral("after"));

    EXPECT_EQ(home.readFile(QStringLiteral("2008_02_29.log")),
              QStringLiteral("2008 02 29 23:59:59 | before\r\n"));
    EXPECT_EQ(home.readFile(QStringLiteral("2008_03_01.log")),
              QStringLiteral("2008 03 01 00:00:00 | after\r\n"));
}

TEST(WriteLog, UnwritableFolderLosesTheEntrySilently)
{
    TestHome home(false);
    VirtualClock vc(QDateTime(QDate(2008, 2, 1), QTime(9, 5, 7)));
    ScopedClock use(vc);

    // The day's file cannot be opened when a folder stands in its place.
    ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("2008_02_01.log")));
    EXPECT_NO_THROW(WriteLog(QStringLiteral("lost")));

    // A program folder that is not a folder at all.
    QFile plain(home.file(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QByteArray old = qgetenv("CLAROW_HOME");
    qputenv("CLAROW_HOME", home.file(QStringLiteral("plain/sub")).toLocal8Bit());
    EXPECT_NO_THROW(WriteLog(QStringLiteral("lost too")));
    qputenv("CLAROW_HOME", old);

    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files).size(), 1); // only "plain"
    EXPECT_EQ(QFileInfo(home.file(QStringLiteral("plain"))).size(), 0);

    // Once the folder is writable again, entries arrive.
    ASSERT_TRUE(QDir(home.path()).rmdir(QStringLiteral("2008_02_01.log")));
    WriteLog(QStringLiteral("back"));
    EXPECT_EQ(home.readFile(QStringLiteral("2008_02_01.log")),
              QStringLiteral("2008 02 01 09:05:07 | back\r\n"));
}
