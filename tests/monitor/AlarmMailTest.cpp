#include "monitor/AlarmMail.h"

#include "support/SmtpServer.h"
#include "support/TestHome.h"

#include "core/Database.h"
#include "core/DiagnosticLog.h"
#include "core/Errors.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/VirtualClock.h"
#include "monitor/MailTransport.h"
#include "monitor/SensorTable.h"

#include <QSqlQuery>

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace clarow;
using clarow::test::ReceivedMail;
using clarow::test::SmtpServer;
using clarow::test::TestHome;

namespace {

const QString CRLF = QStringLiteral("\r\n");

MailRow Sensor(const QString &id, const QString &location, float temp, float lo = 10, float hi = 30)
{
    MailRow r;
    r.sensorId = id;
    r.location = location;
    r.inAlarm = true;
    r.connected = true;
    r.mailSent = false;
    r.alType = 0;
    r.cTmp = temp;
    r.aTempLo = lo;
    r.aTempHi = hi;
    return r;
}

MailRow Multi(const QString &id, float temp, float ch2, float ch2Lo, float ch2Hi)
{
    MailRow r = Sensor(id, QStringLiteral("Room"), temp);
    r.cCh2 = ch2;
    r.aCh2Lo = ch2Lo;
    r.aCh2Hi = ch2Hi;
    return r;
}

// ---------------------------------------------------------------- block texts

TEST(AlarmMailBlocks, TemperatureSensorShowsOnlyTheCrossedLimit)
{
    const MailRow hot = Sensor(QStringLiteral("28A1B2C3D4E5F60A"), QStringLiteral("Freezer"), 31.5f);
    EXPECT_EQ(AlarmBlock(hot), QStringLiteral("Sensor ID:                 28A1B2C3D4E5F60A\r\n"
                                              "Location:                  Freezer\r\n"
                                              "Current temperature:       31.5\r\n"
                                              "High temperature limit:    30\r\n"));
    const MailRow cold = Sensor(QStringLiteral("28A1B2C3D4E5F60A"), QStringLiteral("Freezer"), -5.25f);
    EXPECT_EQ(AlarmBlock(cold), QStringLiteral("Sensor ID:                 28A1B2C3D4E5F60A\r\n"
                                               "Location:                  Freezer\r\n"
                                               "Current temperature:       -5.25\r\n"
                                               "Low temperature limit:     10\r\n"));
}

TEST(AlarmMailBlocks, DisconnectedSensorEndsAfterTheFaultLine)
{
    MailRow r = Multi(QStringLiteral("26A1B2C3D4E5F60B 19"), 50, 95, 20, 80);
    r.connected = false;
    r.alType = 9;
    EXPECT_EQ(AlarmBlock(r), QStringLiteral("Sensor ID:                 26A1B2C3D4E5F60B 19\r\n"
                                            "Location:                  Room\r\n"
                                            "Sensor faulty or disconnected.\r\n"));
}

TEST(AlarmMailBlocks, HumidityAboveItsLimitWithoutTemperatureLimitLines)
{
    const MailRow r = Multi(QStringLiteral("26A1B2C3D4E5F60B 19"), 22.05f, 85, 20, 80);
    EXPECT_EQ(AlarmBlock(r), QStringLiteral("Sensor ID:                 26A1B2C3D4E5F60B 19\r\n"
                                            "Location:                  Room\r\n"
                                            "Current temperature:       22.05\r\n"
                                            "Current relative humidity: 85\r\n"
                                            "High humidity limit:       80\r\n"));
}

TEST(AlarmMailBlocks, SecondChannelLabelsBySensorType)
{
    const MailRow volts = Multi(QStringLiteral("26A1B2C3D4E5F60B 1A"), 20, 1.5f, 2, 8);
    EXPECT_TRUE(AlarmBlock(volts).endsWith(QStringLiteral("Current analog voltage:       1.5\r\n"
                                                          "Low voltage limit:           2\r\n")));
    const MailRow light = Multi(QStringLiteral("26A1B2C3D4E5F60B 1B"), 20, 90, 20, 80);
    EXPECT_TRUE(AlarmBlock(light).endsWith(QStringLiteral("Current light level:       90\r\n"
                                                          "High light limit:          80\r\n")));

    // The current sensor speaks of amperage while in alarm, and plainly once back.
    MailRow amps = Multi(QStringLiteral("26A1B2C3D4E5F60B 1C"), 20, 12.5f, 1, 10);
    EXPECT_TRUE(AlarmBlock(amps).endsWith(QStringLiteral("Current amperage reading:           12.5\r\n"
                                                         "High amperage limit:                10\r\n")));
    amps.cCh2 = 0.5f;
    EXPECT_TRUE(ReturnBlock(amps).endsWith(QStringLiteral("Current reading:           0.5\r\n"
                                                          "Low limit:                 1\r\n")));

    // A temperature-only sensor and an unlisted multi-sensor type have no channel lines.
    MailRow plain = Multi(QStringLiteral("26A1B2C3D4E5F60B 00"), 20, 99, 20, 80);
    EXPECT_TRUE(AlarmBlock(plain).endsWith(QStringLiteral("Current temperature:       20\r\n")));
}

TEST(AlarmMailBlocks, WaterLinesFollowTheHumidityLines)
{
    MailRow wet = Multi(QStringLiteral("26A1B2C3D4E5F60B 1E"), 20, 50, 20, 80);
    wet.wStatus = 2;
    EXPECT_TRUE(AlarmBlock(wet).endsWith(QStringLiteral("Current relative humidity: 50\r\n"
                                                        "Water sensor status:       Wet - water detected.\r\n")));
    MailRow tape = Sensor(QStringLiteral("26A1B2C3D4E5F60B 1D"), QStringLiteral("Floor"), 20);
    tape.wStatus = 1;
    EXPECT_EQ(AlarmBlock(tape), QStringLiteral("Sensor ID:                 26A1B2C3D4E5F60B 1D\r\n"
                                               "Location:                  Floor\r\n"
                                               "Current temperature:       20\r\n"
                                               "Water sensor status:       Sensor tape damaged or disconnected.\r\n"));
    tape.wStatus = 0;
    EXPECT_TRUE(AlarmBlock(tape).endsWith(QStringLiteral("Water sensor status:       Dry - no water detected.\r\n")));
    tape.wStatus = 5;
    EXPECT_TRUE(AlarmBlock(tape).endsWith(QStringLiteral("Current temperature:       20\r\n")));
}

TEST(AlarmMailBlocks, ReturnBlockShowsReconnectedAndNoTemperatureLimits)
{
    MailRow r = Sensor(QStringLiteral("28A1B2C3D4E5F60A"), QStringLiteral("Hall"), 35);
    r.inAlarm = false;
    r.alType = 9;
    EXPECT_EQ(ReturnBlock(r), QStringLiteral("Sensor ID:                 28A1B2C3D4E5F60A\r\n"
                                             "Location:                  Hall\r\n"
                                             "                           Reconnected\r\n"
                                             "Current temperature:       35\r\n"));
}

// ---------------------------------------------------------------- whole mail text

TEST(AlarmMailCompose, AlarmSectionFirstThenTheReturnHeading)
{
    Settings s;
    s.MailSubjectA = QStringLiteral("Alarm");
    s.MailSubjectR = QStringLiteral("Normal");
    s.SendMailRtn = true;
    MailRow back = Sensor(QStringLiteral("28000000000000BB"), QStringLiteral("B"), 20);
    back.inAlarm = false;
    back.mailSent = true;
    back.alType = 9;
    const MailRow alarm = Sensor(QStringLiteral("28000000000000AA"), QStringLiteral("A"), 40);
    MailRow stillMailed = alarm; // in alarm and already mailed: in neither section
    stillMailed.sensorId = QStringLiteral("28000000000000CC");
    stillMailed.mailSent = true;

    const AlarmMailText m = ComposeAlarmMail({back, stillMailed, alarm}, s);
    EXPECT_EQ(m.subject, QStringLiteral("Alarm"));
    EXPECT_EQ(m.body, QStringLiteral("The following sensors are in alarm:") + CRLF + CRLF + AlarmBlock(alarm) + CRLF
                          + CRLF + QStringLiteral("The following sensors are no longer in alarm:") + CRLF + CRLF
                          + ReturnBlock(back) + CRLF);
    EXPECT_EQ(m.alarmCount, 1);
    EXPECT_EQ(m.returnCount, 1);
    EXPECT_EQ(m.alarmIds, QStringList{QStringLiteral("28000000000000AA")});
    EXPECT_EQ(m.returnIds, QStringList{QStringLiteral("28000000000000BB")});
    EXPECT_EQ(m.reconnectedIds, QStringList{QStringLiteral("28000000000000BB")});
}

TEST(AlarmMailCompose, ReturnOnlyMailTakesTheReturnSubjectWithLocation)
{
    Settings s;
    s.MailSubjectA = QStringLiteral("Alarm");
    s.MailSubjectR = QStringLiteral("Normal");
    s.MailSubjectAddLocation = true;
    s.LocationName = QStringLiteral("North Store");
    MailRow back = Sensor(QStringLiteral("28000000000000BB"), QStringLiteral("B"), 20);
    back.inAlarm = false;
    back.mailSent = true;
    MailRow disconnectedBack = back; // not connected: waits until it answers again
    disconnectedBack.sensorId = QStringLiteral("28000000000000DD");
    disconnectedBack.connected = false;

    s.SendMailRtn = false;
    AlarmMailText m = ComposeAlarmMail({back, disconnectedBack}, s);
    EXPECT_EQ(m.subject, QStringLiteral("Normal - North Store"));
    EXPECT_EQ(m.body, ReturnBlock(back) + CRLF); // listed without the heading
    EXPECT_EQ(m.returnIds, QStringList{QStringLiteral("28000000000000BB")});

    m = ComposeAlarmMail({disconnectedBack}, s);
    EXPECT_TRUE(m.body.isEmpty());
    EXPECT_TRUE(m.subject.isEmpty());
}

TEST(AlarmMailCompose, ErrorTextCarriesTheServerDiagnosticsOnlyForAFailedExchange)
{
    EXPECT_EQ(MailErrorText(kErrMailExchange, QStringLiteral("Failed."), QStringLiteral("535 bad"),
                            QStringLiteral("Login denied")),
              QStringLiteral("Error #-2147220986 Failed.\r\nSMTP Info\r\n535 bad\r\nLogin denied"));
    EXPECT_EQ(MailErrorText(3146, QStringLiteral("no such table"), {}, {}),
              QStringLiteral("Error #3146 no such table"));
}

// ---------------------------------------------------------------- message form

TEST(MailMessageForm, LineBreaksInSettingsCannotStartAHeader)
{
    const MailMessage msg{QStringLiteral("me@example.com\r\nBcc: x@evil.test"),
                          QStringLiteral("a@example.com;\r\nb@example.com, "),
                          QStringLiteral("Alarm\r\nBcc: victim@evil.test"), QStringLiteral("x")};
    const QByteArray mime = MimeMessage(msg, QDateTime(QDate(2024, 3, 5), QTime(10, 0)));
    const QByteArray head = mime.left(mime.indexOf("\r\n\r\n"));
    EXPECT_FALSE(head.contains("\r\nBcc:"));
    EXPECT_TRUE(head.contains("\r\nSubject: Alarm  Bcc: victim@evil.test\r\n"));
    EXPECT_TRUE(head.contains("\r\nTo: a@example.com, b@example.com\r\n"));
    EXPECT_TRUE(head.contains("\r\nContent-Type: text/plain; charset=UTF-8\r\n"));
    EXPECT_EQ(SplitAddresses(msg.recipients), (QStringList{QStringLiteral("a@example.com"), QStringLiteral("b@example.com")}));
    EXPECT_EQ(EnvelopeAddress(QStringLiteral("Plant Room <plant@example.com>")), QStringLiteral("plant@example.com"));
}

TEST(MailMessageForm, QuotedPrintableKeepsLinesAndTrailingBlanks)
{
    EXPECT_EQ(QuotedPrintable(QStringLiteral("Location:   \r\nK\u00fchl = 5\r\n")),
              QByteArray("Location:  =20\r\nK=C3=BChl =3D 5\r\n"));
    const QByteArray longLine = QuotedPrintable(QString(100, QLatin1Char('a')));
    for (const QByteArray &line : longLine.split('\n'))
        EXPECT_LE(line.size(), 77);
    EXPECT_EQ(QByteArray(longLine).replace("=\r\n", ""), QByteArray(100, 'a'));
}

// How the connection is encrypted, by server, port, log-in and the user's choice; and the
// addresses refused because they could carry a second address or an envelope parameter.
TEST(MailSecurityChoice, APasswordTravelsInClearOnlyToThisComputerOrByChoice)
{
    using S = MailSecurity;
    using E = MailEncryption;
    const struct
    {
        const char *host;
        qint32 port;
        bool auth;
        MailSecurity security;
        MailEncryption expected;
    } cases[] = {
        {"smtp.example.org", 587, true, S::Auto, E::Required},
        {"localhost.example.org", 25, true, S::Auto, E::Required},
        {"smtp.example.org", 25, false, S::Auto, E::IfOffered},
        {"127.8.9.10", 25, true, S::Auto, E::IfOffered},
        {"localhost", 25, true, S::Auto, E::IfOffered},
        {"[::1]", 25, true, S::Auto, E::IfOffered},
        {"smtp.example.org", 465, true, S::Auto, E::Implicit},
        {"smtp.example.org", 2465, false, S::Tls, E::Implicit},
        {"127.0.0.1", 465, false, S::StartTls, E::Required},
        {"smtp.example.org", 587, true, S::None, E::Off},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.host) + ":" + std::to_string(c.port) + " " + MailSecurityText(c.security).toStdString());
        EXPECT_EQ(ChooseEncryption(QLatin1String(c.host), c.port, c.auth, c.security), c.expected);
    }
    EXPECT_EQ(MailSecurityFromText(QStringLiteral("starttls")), S::StartTls);
    EXPECT_EQ(MailSecurityFromText(QStringLiteral("SSL")), S::Auto); // unknown: the safe default
}

TEST(MailEnvelope, AddressesThatCouldCarryMoreAreRefused)
{
    const QString brackets = QStringLiteral("holds \"<\" or \">\"");
    const struct
    {
        QString address;
        QString problem; // empty: usable
    } cases[] = {
        {QStringLiteral(" ops@example.com "), {}},
        {QStringLiteral("Plant Room <plant@example.com>"), {}},
        {QStringLiteral("x@example.com>NOTIFY=NEVER"), brackets},
        {QStringLiteral("Ops <x@example.com> NOTIFY=NEVER"), QStringLiteral("holds a blank")},
        {QStringLiteral("<ops@example.com><night@example.com>"), brackets},
        {QStringLiteral("ops@example.com <night@example.com>"),
         QStringLiteral("has a name with \"@\" before \"<\", which reads as a second address")},
        {QStringLiteral("ops@example.com, night@example.com"),
         QStringLiteral("holds \",\" or \";\", which separate addresses")},
        {QStringLiteral("ops@example.com\r\nRCPT TO:<x@evil.test>"), QStringLiteral("holds a control character")},
        {QStringLiteral("Ops <>"), QStringLiteral("is empty")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(EnvelopeAddressProblem(c.address), c.problem) << c.address.toStdString();
}

// ---------------------------------------------------------------- against a real server

struct Row
{
    QString id;
    QString location = QStringLiteral("Store");
    bool inAlarm = true;
    bool connected = true;
    bool mailSent = false;
    int alType = 2;
    double cTmp = 35;
    double aTempLo = 10;
    double aTempHi = 30;
};

class AlarmMailServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OpenDatabase();
        ASSERT_TRUE(DatabaseIsOpen());
        useServer();
        Settings &s = program().settings;
        s.LogErrors = true;
        s.SendMailAlarm = true;
        s.SendMailRtn = true;
        s.MinsConsecutive = 1;
        s.MailAddress = QStringLiteral("ops@example.com");
        s.MailFrom = QStringLiteral("clarow@example.com");
        s.MailServer = QStringLiteral("127.0.0.1");
        s.MailSubjectA = QStringLiteral("Sensor alarm");
        s.MailSubjectR = QStringLiteral("Sensors back to normal");
        s.MailSubjectAddLocation = false;
        s.LocationName = QStringLiteral("North Store");
    }

    void useServer(const QString &user = {}, const QString &password = {})
    {
        server = std::make_unique<SmtpServer>(user, password);
        ASSERT_TRUE(server->running()) << server->errors().toStdString();
        program().settings.MailPort = server->port();
    }

    static void insert(const Row &r)
    {
        QSqlQuery q(Db());
        q.prepare(QStringLiteral("INSERT INTO Sensors (SensorID, Location, InAlarm, Connected, MailSent, AlType, "
                                 "cTmp, aTempLo, aTempHi, LastR, ConcAlarms) VALUES (?,?,?,?,?,?,?,?,?,?,0)"));
        for (const QVariant &v : {QVariant(r.id), QVariant(r.location), QVariant(int(r.inAlarm)),
                                  QVariant(int(r.connected)), QVariant(int(r.mailSent)), QVariant(r.alType),
                                  QVariant(r.cTmp), QVariant(r.aTempLo), QVariant(r.aTempHi),
                                  QVariant(ToSerial(NowWholeSeconds()))})
            q.addBindValue(v);
        ASSERT_TRUE(q.exec());
    }

    static void set(const QString &id, const QString &assignments)
    {
        QSqlQuery q(Db());
        q.prepare(QStringLiteral("UPDATE Sensors SET ") + assignments + QStringLiteral(" WHERE SensorID = ?"));
        q.addBindValue(id);
        ASSERT_TRUE(q.exec());
    }

    [[nodiscard]] static QVariant column(const QString &id, const QString &name)
    {
        QSqlQuery q(Db());
        q.prepare(QStringLiteral("SELECT ") + name + QStringLiteral(" FROM Sensors WHERE SensorID = ?"));
        q.addBindValue(id);
        if (!q.exec() || !q.next())
            return {};
        return q.value(0);
    }

    [[nodiscard]] static bool mailSent(const QString &id) { return column(id, QStringLiteral("MailSent")).toInt() != 0; }

    [[nodiscard]] QString log() const { return home.readFile(LogFileName(Now())); }
    [[nodiscard]] QStringList logEntries() const
    {
        QStringList entries;
        for (const QString &line : log().split(CRLF, Qt::SkipEmptyParts)) {
            if (!line.startsWith(QLatin1Char(' ')))
                entries << line.mid(22);
        }
        return entries;
    }
    [[nodiscard]] QList<ReceivedMail> mails() const { return server->mails(); }

    TestHome home;
    std::unique_ptr<SmtpServer> server;
};

const QString kA = QStringLiteral("28A1B2C3D4E5F60A");
const QString kB = QStringLiteral("28A1B2C3D4E5F60B");

TEST_F(AlarmMailServer, TwoSensorsInAlarmGoOutInOneMailAndAreMarked)
{
    program().settings.MailAddress = QStringLiteral("ops@example.com; night@example.com");
    insert({.id = kA, .location = QStringLiteral("K\u00fchlraum"), .cTmp = 35});
    insert({.id = kB, .location = QStringLiteral("Cellar"), .alType = 1, .cTmp = 2.5});

    CheckAlarms();

    const auto received = mails();
    ASSERT_EQ(received.size(), 1);
    const ReceivedMail &m = received.first();
    EXPECT_EQ(m.subject, QStringLiteral("Sensor alarm"));
    EXPECT_EQ(m.mailFrom, QStringLiteral("clarow@example.com"));
    EXPECT_EQ(m.recipients, (QStringList{QStringLiteral("ops@example.com"), QStringLiteral("night@example.com")}));
    EXPECT_EQ(m.header(QStringLiteral("From")), QStringLiteral("clarow@example.com"));
    EXPECT_EQ(m.header(QStringLiteral("Reply-To")), QStringLiteral("clarow@example.com"));
    EXPECT_TRUE(m.header(QStringLiteral("Content-Type")).contains(QStringLiteral("charset=\"utf-8\""), Qt::CaseInsensitive)
                || m.header(QStringLiteral("Content-Type")).contains(QStringLiteral("charset=utf-8"), Qt::CaseInsensitive));
    EXPECT_FALSE(m.header(QStringLiteral("Date")).isEmpty());
    EXPECT_FALSE(m.header(QStringLiteral("Message-ID")).isEmpty());
    EXPECT_EQ(m.body, QStringLiteral("The following sensors are in alarm:\r\n\r\n"
                                     "Sensor ID:                 28A1B2C3D4E5F60A\r\n"
                                     "Location:                  K\u00fchlraum\r\n"
                                     "Current temperature:       35\r\n"
                                     "High temperature limit:    30\r\n"
                                     "\r\n"
                                     "Sensor ID:                 28A1B2C3D4E5F60B\r\n"
                                     "Location:                  Cellar\r\n"
                                     "Current temperature:       2.5\r\n"
                                     "Low temperature limit:     10\r\n"
                                     "\r\n"));
    EXPECT_TRUE(mailSent(kA));
    EXPECT_TRUE(mailSent(kB));
    EXPECT_EQ(logEntries(), QStringList{QStringLiteral("Alarm mail sent to ops@example.com; night@example.com. ")});
    EXPECT_TRUE(log().contains(QStringLiteral("2 sensors in alarm. \r\n")));
    EXPECT_TRUE(log().contains(QStringLiteral("0 sensors returned to normal. \r\n")));

    // Marked rows are not mailed again.
    CheckAlarms();
    EXPECT_EQ(mails().size(), 1);
}

TEST_F(AlarmMailServer, AlarmAndReturnToNormalShareOneMailAlarmFirst)
{
    insert({.id = kA, .inAlarm = false, .mailSent = true, .alType = 0, .cTmp = 20});
    insert({.id = kB, .cTmp = 40});

    CheckAlarms();

    const auto received = mails();
    ASSERT_EQ(received.size(), 1);
    const QString body = received.first().body;
    EXPECT_EQ(received.first().subject, QStringLiteral("Sensor alarm"));
    const auto alarmAt = body.indexOf(QStringLiteral("The following sensors are in alarm:"));
    const auto headingAt = body.indexOf(QStringLiteral("The following sensors are no longer in alarm:"));
    EXPECT_EQ(alarmAt, 0);
    EXPECT_GT(headingAt, body.indexOf(kB));
    EXPECT_GT(body.indexOf(kA), headingAt);
    EXPECT_TRUE(mailSent(kB));
    EXPECT_FALSE(mailSent(kA));
    EXPECT_TRUE(log().contains(QStringLiteral("1 sensors in alarm. \r\n")));
    EXPECT_TRUE(log().contains(QStringLiteral("1 sensors returned to normal. \r\n")));
}

TEST_F(AlarmMailServer, DisconnectedSensorIsMailedAndLaterReportedReconnected)
{
    insert({.id = kA, .connected = false, .alType = 9});

    CheckAlarms();
    ASSERT_EQ(mails().size(), 1);
    EXPECT_TRUE(mails().at(0).body.contains(QStringLiteral("Location:                  Store\r\nSensor faulty or disconnected.\r\n")));
    EXPECT_FALSE(mails().at(0).body.contains(QStringLiteral("Current temperature")));
    EXPECT_TRUE(mailSent(kA));

    set(kA, QStringLiteral("InAlarm = 0, Connected = 1, cTmp = 21.5"));
    CheckAlarms();
    ASSERT_EQ(mails().size(), 2);
    const ReceivedMail back = mails().at(1);
    EXPECT_EQ(back.subject, QStringLiteral("Sensors back to normal"));
    EXPECT_TRUE(back.body.contains(QStringLiteral("\r\n                           Reconnected\r\nCurrent temperature:       21.5\r\n")));
    EXPECT_EQ(column(kA, QStringLiteral("AlType")).toInt(), 0);
    EXPECT_FALSE(mailSent(kA));
}

TEST_F(AlarmMailServer, SubjectCarriesTheLocationWhenAsked)
{
    program().settings.MailSubjectAddLocation = true;
    insert({.id = kA});
    CheckAlarms();
    ASSERT_EQ(mails().size(), 1);
    EXPECT_EQ(mails().at(0).subject, QStringLiteral("Sensor alarm - North Store"));
}

TEST_F(AlarmMailServer, SubjectWithALineBreakInjectsNoHeader)
{
    program().settings.MailSubjectA = QStringLiteral("Alarm\r\nBcc: victim@evil.test");
    insert({.id = kA});
    CheckAlarms();
    ASSERT_EQ(mails().size(), 1);
    const ReceivedMail m = mails().at(0);
    EXPECT_EQ(m.headerCount(QStringLiteral("Bcc")), 0);
    EXPECT_EQ(m.headerCount(QStringLiteral("Subject")), 1);
    EXPECT_TRUE(m.subject.startsWith(QStringLiteral("Alarm")));
    EXPECT_EQ(m.recipients, QStringList{QStringLiteral("ops@example.com")});
}

TEST_F(AlarmMailServer, LogInWithTheRightPasswordSends)
{
    useServer(QStringLiteral("alarm"), QStringLiteral("s3cret"));
    Settings &s = program().settings;
    s.MailAuth = true;
    s.MailUser = QStringLiteral("alarm");
    s.MailPassword = QStringLiteral("s3cret");
    insert({.id = kA});

    CheckAlarms();

    ASSERT_EQ(mails().size(), 1);
    EXPECT_TRUE(mails().at(0).authenticated);
    EXPECT_TRUE(mailSent(kA));
}

TEST_F(AlarmMailServer, WrongPasswordLogsTheServerReplyAndMarksNothing)
{
    useServer(QStringLiteral("alarm"), QStringLiteral("s3cret"));
    Settings &s = program().settings;
    s.MailAuth = true;
    s.MailUser = QStringLiteral("alarm");
    s.MailPassword = QStringLiteral("wrong");
    insert({.id = kA});

    CheckAlarms();

    EXPECT_TRUE(mails().isEmpty());
    EXPECT_FALSE(mailSent(kA));
    const QString text = log();
    EXPECT_TRUE(text.contains(QStringLiteral("| Error #-2147220986 "))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\r\n                      SMTP Info\r\n                      535")))
        << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Alarm mail sent")));

    // Without a log-in the server refuses the sender: the same kind of failure.
    s.MailAuth = false;
    CheckAlarms();
    EXPECT_TRUE(mails().isEmpty());
    EXPECT_FALSE(mailSent(kA));
    EXPECT_EQ(log().count(QStringLiteral("SMTP Info")), 2);
}

TEST_F(AlarmMailServer, ServerDownKeepsTheAlarmForTheNextCall)
{
    insert({.id = kA});
    server->stop();

    CheckAlarms();

    EXPECT_FALSE(mailSent(kA));
    const QStringList entries = logEntries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_TRUE(entries.first().startsWith(QStringLiteral("Error #-2147220986 ")));
    EXPECT_TRUE(log().contains(QStringLiteral("SMTP Info")));

    ASSERT_TRUE(server->start());
    ASSERT_EQ(server->port(), program().settings.MailPort);
    CheckAlarms();

    ASSERT_EQ(mails().size(), 1);
    EXPECT_TRUE(mails().at(0).body.contains(kA));
    EXPECT_TRUE(mailSent(kA));
    EXPECT_TRUE(log().contains(QStringLiteral("Alarm mail sent to ops@example.com. ")));
}

TEST_F(AlarmMailServer, MissingSettingsLogOneLineAndTheAlarmWaits)
{
    program().settings.MailPort = 0;
    insert({.id = kA});

    CheckAlarms();

    EXPECT_EQ(logEntries(), QStringList{QStringLiteral("Alarm mail failed. One or more parameters not present.")});
    EXPECT_EQ(log().count(CRLF), 1);
    EXPECT_TRUE(mails().isEmpty());
    EXPECT_FALSE(mailSent(kA));

    program().settings.MailPort = server->port();
    CheckAlarms();
    ASSERT_EQ(mails().size(), 1);
    EXPECT_TRUE(mailSent(kA));
}

TEST_F(AlarmMailServer, NothingToListSendsNothingButLogsTheSummary)
{
    insert({.id = kA, .mailSent = true});                                   // already mailed
    insert({.id = kB, .inAlarm = false, .connected = false, .mailSent = true}); // back but silent

    CheckAlarms();

    EXPECT_TRUE(mails().isEmpty());
    EXPECT_TRUE(mailSent(kB));
    EXPECT_TRUE(log().contains(QStringLiteral("0 sensors in alarm. ")));
}

TEST_F(AlarmMailServer, NoLogWhileLogErrorsIsOff)
{
    program().settings.LogErrors = false;
    program().settings.MailServer.clear();
    insert({.id = kA});
    CheckAlarms();
    program().settings.MailServer = QStringLiteral("127.0.0.1");
    CheckAlarms();
    EXPECT_EQ(mails().size(), 1);
    EXPECT_TRUE(log().isEmpty());
}

TEST_F(AlarmMailServer, TestMailSendsTheFixedMessage)
{
    TestMail();

    ASSERT_EQ(mails().size(), 1);
    EXPECT_EQ(mails().at(0).subject, QStringLiteral("Test message from Clarow"));
    EXPECT_TRUE(mails().at(0).body.startsWith(QStringLiteral("Test: ")));
    EXPECT_EQ(logEntries(), QStringList{QStringLiteral("Test email sent to ops@example.com")});

    program().settings.MailFrom.clear();
    TestMail();
    EXPECT_EQ(mails().size(), 1);
    EXPECT_EQ(logEntries().last(), QStringLiteral("Test mail failed. One or more parameters not present."));
}

// The same alarm against servers with and without encryption, by the connection security
// chosen. The server's certificate comes from the test authority the transport trusts; a
// transport that does not trust it sends nothing.
TEST_F(AlarmMailServer, MailSecurityAgainstServersWithAndWithoutEncryption)
{
    using Tls = SmtpServer::Tls;
    struct Case
    {
        const char *name;
        Tls server;
        const char *security;
        bool trustTestAuthority;
        bool sent;
        QString logged; // in the failure's log entry
    };
    const Case cases[] = {
        {"auto uses the offered STARTTLS", Tls::StartTls, "Auto", true, true, {}},
        {"STARTTLS", Tls::StartTls, "STARTTLS", true, true, {}},
        {"TLS from the start on any port", Tls::Implicit, "TLS", true, true, {}},
        {"STARTTLS required, none offered", Tls::None, "STARTTLS", true, false,
         QStringLiteral("The server offers no encryption (no STARTTLS)")},
        {"certificate not trusted", Tls::StartTls, "Auto", false, false, QStringLiteral("certificate")},
        {"none sends in clear", Tls::None, "None", true, true, {}},
    };
    Settings &s = program().settings;
    s.MailAuth = true;
    s.MailUser = QStringLiteral("alarm");
    s.MailPassword = QStringLiteral("s3cret");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Exec(QStringLiteral("DELETE FROM Sensors"));
        program().mailFailure.clear();
        server = std::make_unique<SmtpServer>(c.server, s.MailUser, s.MailPassword);
        ASSERT_TRUE(server->running()) << server->errors().toStdString();
        s.MailPort = server->port();
        s.MailSecurity = QLatin1String(c.security);
        insert({.id = kA});
        CurlMailTransport transport(c.trustTestAuthority ? server->caFile() : QString());

        CheckAlarms(transport);

        ASSERT_EQ(mails().size(), c.sent ? 1 : 0) << log().toStdString();
        EXPECT_EQ(mailSent(kA), c.sent);
        if (c.sent) {
            EXPECT_EQ(mails().at(0).tls, c.server != Tls::None);
            EXPECT_TRUE(mails().at(0).authenticated);
            continue;
        }
        const QStringList entries = logEntries();
        ASSERT_FALSE(entries.isEmpty());
        EXPECT_TRUE(entries.last().startsWith(QStringLiteral("Error #-2147220986 ")));
        EXPECT_TRUE(log().contains(c.logged)) << log().toStdString();
        // The refused alarm is kept: once the user allows what the server offers, it goes out.
        s.MailSecurity = c.server == Tls::None ? QStringLiteral("None") : QStringLiteral("Auto");
        CurlMailTransport trusting(server->caFile());
        CheckAlarms(trusting);
        ASSERT_EQ(mails().size(), 1);
        EXPECT_TRUE(mailSent(kA));
    }
}

// A recipient that could carry a second address or an envelope parameter never reaches the
// server: the others get the alarm and the log names the one left out. An unusable sender
// keeps the alarm until it is mended.
TEST_F(AlarmMailServer, AnAddressThatCouldCarryMoreNeverReachesTheEnvelope)
{
    Settings &s = program().settings;
    s.MailAddress = QStringLiteral("ops@example.com; x@example.com> NOTIFY=NEVER; night@example.com");
    insert({.id = kA});

    CheckAlarms();

    ASSERT_EQ(mails().size(), 1);
    EXPECT_EQ(mails().at(0).recipients,
              (QStringList{QStringLiteral("ops@example.com"), QStringLiteral("night@example.com")}));
    EXPECT_TRUE(mailSent(kA));
    EXPECT_TRUE(logEntries().contains(
        QStringLiteral("Alarm mail: The to address \"x@example.com> NOTIFY=NEVER\" holds a blank; it is left out.")))
        << log().toStdString();

    s.MailFrom = QStringLiteral("clarow@example.com <relay@evil.test>");
    insert({.id = kB});
    CheckAlarms();
    EXPECT_EQ(mails().size(), 1);
    EXPECT_FALSE(mailSent(kB));
    EXPECT_TRUE(logEntries().contains(QStringLiteral("Alarm mail failed. The from address \"clarow@example.com "
                                                     "<relay@evil.test>\" has a name with \"@\" before \"<\", "
                                                     "which reads as a second address.")))
        << log().toStdString();

    s.MailFrom = QStringLiteral("Clarow <clarow@example.com>");
    CheckAlarms();
    ASSERT_EQ(mails().size(), 2);
    EXPECT_EQ(mails().at(1).mailFrom, QStringLiteral("clarow@example.com"));
    EXPECT_TRUE(mailSent(kB));
}

TEST_F(AlarmMailServer, ClosingDownGivesUpOnAServerThatNeverAnswers)
{
    // A server that takes the connection and never greets would hold a mail for the whole
    // time-out; a program that is closing down does not wait for it.
    QProcess mute;
    mute.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-c"),
                QStringLiteral("import socket, time\n"
                               "s = socket.socket(); s.bind(('127.0.0.1', 0)); s.listen()\n"
                               "print(s.getsockname()[1], flush=True)\n"
                               "c, _ = s.accept(); time.sleep(60)\n")});
    ASSERT_TRUE(mute.waitForReadyRead(10000));
    program().settings.MailPort = mute.readLine().trimmed().toInt();
    ASSERT_GT(program().settings.MailPort, 0);

    QTimer::singleShot(500, [] { program().closing = true; });
    QElapsedTimer took;
    took.start();
    TestMail();
    program().closing = false;
    mute.kill();
    mute.waitForFinished();

    EXPECT_LT(took.elapsed(), 10000);
    ASSERT_FALSE(logEntries().isEmpty());
    EXPECT_TRUE(logEntries().last().startsWith(QStringLiteral("Error #-2147220986 ")));
}

} // namespace

// ---------------------------------------------------------------- whole alarm stories

// Alarms as they unfold over many scans, in virtual time, one scan a minute: each reading goes
// through the sensor table, the evaluation decides whether a mail is due, and a due mail goes
// to the server. A sensor left out of a scan's readings did not answer.
class AlarmStory : public AlarmMailServer
{
protected:
    void SetUp() override
    {
        AlarmMailServer::SetUp();
        Settings &s = program().settings;
        s.DefLoT = 10;
        s.DefHiT = 30;
        s.DefaultSensorLoc = QStringLiteral("Store");
    }

    void scan(const QMap<QString, float> &readings)
    {
        vc.setNow(kStart.addSecs(60 * ++minute));
        const QDateTime read = NowWholeSeconds();
        for (auto it = readings.cbegin(); it != readings.cend(); ++it)
            UpdateSensor(it.key(), it.value(), 0, 0, read);
        bool pending = false;
        EvaluateSensors(pending);
        if (pending) {
            ++mailRuns;
            CheckAlarms();
            if (mails().size() > mailMinutes.size())
                mailMinutes << minute;
        }
    }
    void scans(int n, const QMap<QString, float> &readings)
    {
        for (int i = 0; i < n; ++i)
            scan(readings);
    }

    const QDateTime kStart{QDate(2026, 3, 2), QTime(8, 0)};
    VirtualClock vc{kStart};
    ScopedClock useClock{vc};
    int minute = 0;
    int mailRuns = 0;
    QList<int> mailMinutes; // the scan in which each mail went out
};

TEST_F(AlarmStory, WithoutReturnMail_ASensorBackToNormalHasItsNextAlarmMailedAgain)
{
    program().settings.SendMailRtn = false;
    scan({{kA, 35}});
    scans(2, {{kA, 20}});
    EXPECT_FALSE(mailSent(kA));
    scans(10, {{kA, 35}});
    ASSERT_EQ(mails().size(), 2);
    EXPECT_EQ(mailMinutes, (QList<int>{1, 4}));
    EXPECT_TRUE(mails().at(1).body.contains(kA));
}

TEST_F(AlarmStory, ASilentMailedSensorMakesNoEmptyMailRunsNorHurriesOthers)
{
    program().settings.MinsConsecutive = 3;
    scans(3, {{kA, 35}, {kB, 20}});
    ASSERT_EQ(mailMinutes, QList<int>{3});

    // A goes silent: disconnected for two hours, then lost, and never back.
    scans(130, {{kB, 20}});
    // B's alarm is mailed after its own three scans, not before.
    scans(3, {{kB, 35}});
    EXPECT_EQ(mailMinutes, (QList<int>{3, 136}));
    EXPECT_EQ(mailRuns, 2);
    EXPECT_FALSE(log().contains(QStringLiteral("0 sensors in alarm. \r\n0 sensors returned")));
}

TEST_F(AlarmStory, ASensorThatWasMailedAsDisconnectedIsReportedReconnected)
{
    scan({{kA, 20}});
    scan({});
    ASSERT_EQ(mails().size(), 1);
    EXPECT_TRUE(mails().at(0).body.contains(QStringLiteral("Sensor faulty or disconnected.")));
    scan({{kA, 21.5f}});
    ASSERT_EQ(mails().size(), 2);
    EXPECT_TRUE(mails().at(1).body.contains(
        QStringLiteral("Location:                  Store\r\n                           Reconnected\r\n"
                       "Current temperature:       21.5\r\n")));
    EXPECT_FALSE(mailSent(kA));

    // A sensor that cooled down after an over-temperature mail did not reconnect.
    scan({{kA, 35}});
    scan({{kA, 20}});
    ASSERT_EQ(mails().size(), 4);
    EXPECT_FALSE(mails().at(3).body.contains(QStringLiteral("Reconnected")));
}

TEST_F(AlarmStory, ALastingMailFailureIsLoggedHourlyAndItsEndOnce)
{
    const QString missing = QStringLiteral("Alarm mail failed. One or more parameters not present.");
    program().settings.MailServer.clear();
    scans(150, {{kA, 35}});
    EXPECT_EQ(logEntries().count(missing), 3); // minutes 1, 61 and 121

    // A different failure is logged at once.
    program().settings.MailServer = QStringLiteral("127.0.0.1");
    server->stop();
    scan({{kA, 35}});
    EXPECT_EQ(logEntries().filter(QStringLiteral("Error #-2147220986")).size(), 1);

    ASSERT_TRUE(server->start());
    scans(3, {{kA, 35}});
    ASSERT_EQ(mails().size(), 1);
    EXPECT_EQ(logEntries().filter(QStringLiteral("Alarm mail is working again")).size(), 1);
    EXPECT_TRUE(log().contains(QStringLiteral("It had failed since 2026-03-02 08:01:00.")));
}
