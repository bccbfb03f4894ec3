// clarow without windows, as a service runs it: the real program against the simulator and a
// real SMTP server, the search that waits for an adapter to appear, the command line of both
// programs, and the explanation of a serial device this user may not open.
#include "DbSnapshot.h"
#include "RunUntil.h"
#include "SimProcess.h"
#include "SmtpServer.h"
#include "TestHome.h"

#include "app/Headless.h"
#include "core/Database.h"
#include "core/DiagnosticLog.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "link/SerialPort.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kHot = QStringLiteral("28FF4A1C62160344");
const QString kCool = QStringLiteral("28FF0B7D63160321");
const QString kResetStates = QStringLiteral(
    "SELECT COUNT(*) FROM Sensors WHERE InAlarm<>0 OR AlType<>0 OR Connected<>0 OR ConcAlarms<>0 "
    "OR MailSent<>0 OR LastR<>0");

// Counts read together in one transaction.
QList<int> counts(const QString &dbPath, const QStringList &queries)
{
    QList<int> result;
    for (const QList<QVariantList> &rows : ReadTogether(dbPath, queries))
        result << (rows.isEmpty() ? -1 : rows.first().value(0).toInt());
    return result;
}

// An environment with no display at all: the program must not need one.
QProcessEnvironment noDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "CLAROW_UNATTENDED"})
        env.remove(QLatin1String(name));
    return env;
}

QString program(const char *name) { return QStringLiteral(CLAROW_BIN_DIR "/") + QLatin1String(name); }

} // namespace

TEST(Headless, ScansKeepsHistoryMailsAlarmsAndClosesDownOnSigterm)
{
    QTemporaryDir home, config;
    const QString db = QDir(home.path()).filePath(QStringLiteral("clarowdata.mdb"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(CLAROW_EMPTY_DB), db));
    QFile::setPermissions(db, QFile::ReadOwner | QFile::WriteOwner);
    SmtpServer smtp;
    ASSERT_TRUE(smtp.running());
    {
        QSettings s(QDir(config.path()).filePath(QStringLiteral("Quillmark/Quillmark.conf")), QSettings::IniFormat);
        const QList<QPair<const char *, QString>> values = {
            {"SendMailAlarm", QStringLiteral("True")}, {"MinsConsecutive", QStringLiteral("1")},
            {"MailAddress", QStringLiteral("operator@cold.store")}, {"MailFrom", QStringLiteral("clarow@cold.store")},
            {"MailServer", QStringLiteral("127.0.0.1")}, {"MailPort", QString::number(smtp.port())},
            {"MailSubjectA", QStringLiteral("Sensor alarm")}, {"LogErrors", QStringLiteral("True")}};
        for (const auto &[key, value] : values)
            s.setValue(QStringLiteral("ClarowMon/") + QLatin1String(key), value);
    }
    SimProcess sim(QStringLiteral("sensor %1 temp=55\nsensor %2 temp=38\n").arg(kHot, kCool));
    ASSERT_TRUE(sim.started());

    QProcessEnvironment env = noDisplay();
    env.insert(QStringLiteral("CLAROW_HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    for (int n = 1; n <= 16; ++n)
        env.insert(QStringLiteral("VARNEX_PORT_%1").arg(n), QStringLiteral("/nonexistent/port%1").arg(n));
    env.insert(QStringLiteral("VARNEX_PORT_3"), sim.path());
    QProcess clarow;
    clarow.setProcessEnvironment(env);
    clarow.start(program("clarow"), {QStringLiteral("--headless")});
    ASSERT_TRUE(clarow.waitForStarted());

    const QStringList queries = {QStringLiteral("SELECT COUNT(*) FROM Sensors WHERE Connected=1"),
                                 QStringLiteral("SELECT COUNT(*) FROM LogTbl"),
                                 QStringLiteral("SELECT COUNT(*) FROM Sensors WHERE InAlarm<>0")};
    // The history takes only a reading received after the start second, so a first scan that
    // ends within it is logged a minute later.
    QList<int> running;
    ASSERT_TRUE(RunUntil([&] {
        if (smtp.mails().isEmpty())
            return false;
        running = counts(db, queries);
        return running.value(1) >= 2;
    }, 90000)) << clarow.readAllStandardError().constData();
    EXPECT_EQ(running.value(0), 2);
    EXPECT_GE(running.value(1), 2);
    EXPECT_EQ(running.value(2), 1);
    EXPECT_EQ(smtp.mails().at(0).subject, QStringLiteral("Sensor alarm"));
    EXPECT_TRUE(smtp.mails().at(0).body.contains(kHot));

    clarow.terminate();
    ASSERT_TRUE(clarow.waitForFinished(15000));
    EXPECT_EQ(clarow.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(clarow.exitCode(), 0);
    EXPECT_EQ(counts(db, {kResetStates}).value(0), 0);

    // Status texts and log entries reach both standard error and the diagnostic log.
    const QString err = QString::fromLocal8Bit(clarow.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("Varnex found on port 3"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("Clarow started")));
    EXPECT_TRUE(err.contains(QStringLiteral("Clarow closed down.")));
    QFile log(QDir(home.path()).filePath(LogFileName(Now())));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Varnex found on port 3"));
    // The port where the adapter answered is remembered, as with windows.
    QSettings s(QDir(config.path()).filePath(QStringLiteral("Quillmark/Quillmark.conf")), QSettings::IniFormat);
    EXPECT_EQ(s.value(QStringLiteral("ClarowMon/PortNumber")).toInt(), 3);
}

TEST(Headless, WithoutAnAdapterKeepsSearchingAndStartsOnceOneAppears)
{
    TestHome home;
    NoRealPorts noPorts;
    Headless monitor;
    monitor.setRetryInterval(300);
    ASSERT_TRUE(monitor.startUp());
    EXPECT_FALSE(monitor.monitoring());
    // Searches that keep failing say so once, not at every try.
    RunUntil([] { return false; }, 1500); // several searches
    const QString log = home.readFile(LogFileName(Now()));
    EXPECT_EQ(log.count(QStringLiteral("The Varnex was not found.")), 1) << log.toStdString();

    SimProcess sim;
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(2);
    ASSERT_TRUE(RunUntil([&] { return monitor.cycle().scanCount() > 0 && !monitor.cycle().scanning(); }, 30000));
    EXPECT_TRUE(program().adapterOK);
    EXPECT_GT(counts(home.databasePath(), {QStringLiteral("SELECT COUNT(*) FROM Sensors WHERE Connected=1")}).value(0), 0);

    bool closed = false;
    QObject::connect(&monitor, &Headless::closedDown, [&closed] { closed = true; });
    monitor.requestShutdown();
    ASSERT_TRUE(RunUntil([&] { return closed; }, 10000));
    EXPECT_FALSE(DatabaseIsOpen());
    EXPECT_EQ(counts(home.databasePath(), {kResetStates}).value(0), 0);
}

TEST(CommandLine, BothProgramsAnswerHelpAndVersionWithoutADisplay)
{
    // program, option, exit code, what standard output holds
    const QList<std::tuple<const char *, const char *, int, QString>> cases = {
        {"clarow", "--help", 0, QStringLiteral("--headless")},
        {"clarow", "--help", 0, QStringLiteral("--metrics <ADDRESS>")},
        {"clarow", "--version", 0, QStringLiteral("clarow " CLAROW_VERSION)},
        {"retyper", "--help", 0, QStringLiteral("type code")},
        {"retyper", "-v", 0, QStringLiteral("retyper " CLAROW_VERSION)},
        {"clarow", "--no-such-option", 1, QString()}, // refused, not taken for a normal start
    };
    for (const auto &[name, option, code, expected] : cases) {
        QProcess p;
        p.setProcessEnvironment(noDisplay());
        p.start(program(name), {QLatin1String(option)});
        ASSERT_TRUE(p.waitForFinished(10000)) << name << ' ' << option;
        EXPECT_EQ(p.exitCode(), code) << name << ' ' << option;
        EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardOutput()).contains(expected)) << name << ' ' << option;
    }
}

TEST(PortAccess, ADeviceThisUserMayNotOpenIsExplainedWithItsGroup)
{
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyUSB7"));
    QFile f(device);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    qputenv("VARNEX_PORT_8", device.toLocal8Bit());
    qputenv("VARNEX_PORT_9", dir.filePath(QStringLiteral("missing")).toLocal8Bit());
    // A device that is missing, or that may be opened, is no access problem.
    EXPECT_TRUE(PortAccessProblem(9).isEmpty());
    EXPECT_TRUE(PortAccessProblem(8).isEmpty());

    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the device to another user";
    const group *dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    ASSERT_EQ(::chown(QFile::encodeName(device).constData(), 0, dialout->gr_gid), 0);
    QFile::setPermissions(device, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                              | QFile::ExeOther);

    // Asked as an ordinary user (nobody), in a child process.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        const QByteArray text = PortAccessProblem(8).toUtf8();
        [[maybe_unused]] auto n = ::write(fds[1], text.constData(), text.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray answer;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        answer.append(buf, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const QString text = QString::fromUtf8(answer);
    EXPECT_TRUE(text.contains(QStringLiteral("Port 8 (") + device + QLatin1Char(')'))) << answer.constData();
    EXPECT_TRUE(text.contains(QStringLiteral("group dialout")));
    EXPECT_FALSE(text.contains(QStringLiteral("not found")));
    qunsetenv("VARNEX_PORT_8");
    qunsetenv("VARNEX_PORT_9");
}
