// What the mail server can do wrong, met by the scan cycle: a sensor goes out of its limits
// and back while the server refuses the connection, says nothing, refuses the log-in or the
// recipient, or drops the line after the message. Each scan tries again; once the server works,
// each alarm and each return to normal is mailed exactly once. Real database file, real SMTP
// server, real clock.
#include "MonitorRun.h"
#include "SmtpServer.h"
#include "TestHome.h"

#include "core/Database.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "monitor/ScanCycle.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kHot = QStringLiteral("28FF4A1C62160344,55.0,131.0\r\nEOD\r\n");
const QString kCool = QStringLiteral("28FF4A1C62160344,36.5,97.7\r\nEOD\r\n");

enum class Fault { Refused, Silent, Auth535, Rcpt550, DropAfterData };

// A server that takes connections (the system completes them) and never says a word.
class SilentServer
{
public:
    ~SilentServer() { close(); }
    int listen()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), len) != 0 || ::listen(m_fd, 8) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return 0;
        return ntohs(a.sin_port);
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

struct MailFault
{
    const char *name;
    Fault fault;
    int failingScans; // scans while the server misbehaves, per mail
};

class MailFaultTest : public ::testing::TestWithParam<MailFault>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(smtp.running());
        StoreSettings(AlarmMailSettings(smtp.port()) + QList<QPair<QString, QString>>{
                          {QStringLiteral("MailAuth"), QStringLiteral("True")},
                          {QStringLiteral("MailUser"), QStringLiteral("clarow")},
                          {QStringLiteral("MailPassword"), QStringLiteral("s3cret")},
                          {QStringLiteral("LogErrors"), QStringLiteral("True")}});
        LoadOptions();
        OpenDatabase();
    }

    void breakServer()
    {
        switch (GetParam().fault) {
        case Fault::Refused:
            smtp.stop();
            break;
        case Fault::Silent:
            program().settings.MailPort = silent.listen();
            ASSERT_GT(program().settings.MailPort, 0);
            break;
        case Fault::Auth535:
            smtp.setFault(QStringLiteral("auth-535"));
            break;
        case Fault::Rcpt550:
            smtp.setFault(QStringLiteral("rcpt-550"));
            break;
        case Fault::DropAfterData:
            smtp.setFault(QStringLiteral("drop-after-data"));
            break;
        }
    }
    void mendServer()
    {
        if (GetParam().fault == Fault::Refused)
            ASSERT_TRUE(smtp.start());
        smtp.setFault({});
        silent.close();
        program().settings.MailPort = smtp.port();
    }

    // One scan's decoding, evaluation and mail; returns how long it held the cycle.
    qint64 scan(const QString &reply)
    {
        // As a complete reading leaves them.
        cycle.RxBuffer = reply;
        cycle.LastGoodRead = NowWholeSeconds();
        QElapsedTimer took;
        took.start();
        EXPECT_TRUE(cycle.DecodeReadings(false));
        return took.elapsed();
    }

    [[nodiscard]] QStringList subjects() const
    {
        QStringList list;
        for (const ReceivedMail &m : smtp.mails())
            list << m.subject;
        return list;
    }

    TestHome home;
    SmtpServer smtp{QStringLiteral("clarow"), QStringLiteral("s3cret")};
    SilentServer silent;
    ScanCycle cycle;
};

TEST_P(MailFaultTest, EveryAlarmIsMailedOnceTheServerWorksAndNoneTwice)
{
    const MailFault &f = GetParam();
    const QStringList alarm{QStringLiteral("Sensor alarm")};
    const QStringList both{QStringLiteral("Sensor alarm"), QStringLiteral("Sensors back to normal")};

    // A window timer keeps ticking while a mail waits for the server.
    int ticks = 0;
    QTimer window;
    window.setInterval(100);
    QObject::connect(&window, &QTimer::timeout, [&] { ++ticks; });
    window.start();

    breakServer();
    for (int i = 0; i < f.failingScans; ++i) {
        const qint64 ms = scan(kHot);
        // The transfer's own time-out ends a server that says nothing.
        EXPECT_LT(ms, 40000);
        if (f.fault == Fault::Silent)
            EXPECT_GT(ticks, ms / 100 / 2) << "the windows froze for " << ms << " ms";
    }
    EXPECT_TRUE(smtp.mails().isEmpty());
    const QString log = home.readFile(QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".log"));
    EXPECT_TRUE(log.contains(QStringLiteral("Error #"))) << log.toStdString();

    mendServer();
    scan(kHot);
    EXPECT_EQ(subjects(), alarm);
    scan(kHot);
    EXPECT_EQ(subjects(), alarm) << "the alarm went out twice";

    // Back to normal while the server misbehaves again.
    breakServer();
    for (int i = 0; i < f.failingScans; ++i)
        scan(kCool);
    EXPECT_EQ(subjects(), alarm);
    mendServer();
    scan(kCool);
    scan(kCool);
    EXPECT_EQ(subjects(), both) << smtp.errors().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Servers, MailFaultTest,
                         ::testing::Values(MailFault{"RefusedConnection", Fault::Refused, 2},
                                           MailFault{"AcceptsAndSaysNothing", Fault::Silent, 1},
                                           MailFault{"Auth535", Fault::Auth535, 2},
                                           MailFault{"Rcpt550", Fault::Rcpt550, 2},
                                           MailFault{"DropsAfterData", Fault::DropAfterData, 2}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
