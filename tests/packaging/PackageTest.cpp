// The Debian package as a newcomer gets it: built with CPack from this build, unpacked into a
// scratch root, every file in its place, desktop entries valid, the manual readable, and the
// installed clarow making its own data folder at its first start.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

struct Outcome
{
    int code = -1;
    QString out;
};

Outcome run(const QString &program, const QStringList &args, int ms = 60000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished();
        return {-1, QStringLiteral("timed out: ") + program};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll())};
}

class Package : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        const Outcome built = run(QStringLiteral("cpack"),
                              {QStringLiteral("--config"), QStringLiteral(CLAROW_BIN_DIR "/../CPackConfig.cmake"),
                               QStringLiteral("-B"), s_dir->path()},
                              300000);
        s_log = built.out;
        const QStringList debs = QDir(s_dir->path()).entryList({QStringLiteral("clarow_*.deb")}, QDir::Files);
        if (built.code != 0 || debs.size() != 1)
            return;
        s_deb = QDir(s_dir->path()).filePath(debs.first());
        s_root = QDir(s_dir->path()).filePath(QStringLiteral("root"));
        if (run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), s_deb, s_root}).code != 0)
            s_deb.clear();
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { ASSERT_FALSE(s_deb.isEmpty()) << s_log.toStdString(); }

    static QString installed(const QString &path) { return QDir(s_root).filePath(path); }

    static inline QTemporaryDir *s_dir = nullptr;
    static inline QString s_log, s_deb, s_root;
};

} // namespace

TEST_F(Package, HoldsEveryFileInItsPlaceAndNamesItsLibraries)
{
    const QStringList files = {
        "usr/bin/clarow", "usr/bin/retyper",
        "usr/share/clarow/clarowdata.mdb", "usr/share/clarow/ClarowManual.pdf", "usr/share/clarow/varnex.hex",
        "usr/share/applications/clarow.desktop", "usr/share/applications/retyper.desktop",
        "usr/share/icons/hicolor/scalable/apps/clarow.svg", "usr/share/icons/hicolor/scalable/apps/retyper.svg",
        "usr/lib/systemd/system/clarow.service"};
    for (const QString &f : files)
        EXPECT_TRUE(QFileInfo(installed(f)).isFile()) << f.toStdString();
    EXPECT_TRUE(QFileInfo(installed(QStringLiteral("usr/bin/clarow"))).isExecutable());

    // The runtime libraries come from shlibdeps; the plug-ins Qt loads itself are named.
    const QString depends = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), s_deb, QStringLiteral("Depends")}).out;
    for (const char *lib : {"libqt6core6", "libqt6widgets6", "libqt6serialport6", "libcurl4", "libqt6sql6-sqlite", "libmicrohttpd12"})
        EXPECT_TRUE(depends.contains(QLatin1String(lib))) << lib << " not in " << depends.toStdString();

    for (const char *entry : {"clarow.desktop", "retyper.desktop"}) {
        const Outcome valid = run(QStringLiteral("desktop-file-validate"),
                              {installed(QStringLiteral("usr/share/applications/") + QLatin1String(entry))});
        EXPECT_EQ(valid.code, 0) << entry << ": " << valid.out.toStdString();
        EXPECT_FALSE(valid.out.contains(QStringLiteral("error"))) << valid.out.toStdString();
    }
}

TEST_F(Package, TheManualHasPagesPicturesAndNamesEveryWindow)
{
    const QString pdf = installed(QStringLiteral("usr/share/clarow/ClarowManual.pdf"));
    const Outcome info = run(QStringLiteral("pdfinfo"), {pdf});
    ASSERT_EQ(info.code, 0) << info.out.toStdString();
    const QRegularExpressionMatch pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info.out);
    ASSERT_TRUE(pages.hasMatch());
    EXPECT_GE(pages.captured(1).toInt(), 4);

    QString text = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).out;
    // Lines joined, ligatures (fi, fl) undone.
    text = text.normalized(QString::NormalizationForm_KC).replace(QLatin1Char('\n'), QLatin1Char(' '));
    for (const char *window : {"Clarow by Quillmark", "Monitoring", "Main Options", "Sensor Options", "\"Log\"",
                               "\"Graph\"", "Update Varnex firmware", "Multi sensor configuration", "About Clarow",
                               "dialout", "headless", "systemctl", "varnex-sim"})
        EXPECT_TRUE(text.contains(QLatin1String(window))) << window;

    // Pictures of the real windows, not empty frames.
    const Outcome images = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
    EXPECT_GE(images.out.count(QStringLiteral("image ")) + images.out.count(QStringLiteral(" smask ")), 9)
        << images.out.toStdString();
}

TEST_F(Package, TheInstalledProgramMakesItsDataFolderAtItsFirstStart)
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("CLAROW_HOME"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    for (int n = 1; n <= 16; ++n)
        env.insert(QStringLiteral("VARNEX_PORT_%1").arg(n), QStringLiteral("/nonexistent/port%1").arg(n));
    QProcess clarow;
    clarow.setProcessEnvironment(env);
    clarow.start(installed(QStringLiteral("usr/bin/clarow")), {QStringLiteral("--headless")});
    ASSERT_TRUE(clarow.waitForStarted());

    const QString folder = home.filePath(QStringLiteral("data/clarow"));
    QString err;
    QElapsedTimer t;
    t.start();
    while (!err.contains(QStringLiteral("Looking again every minute")) && t.elapsed() < 30000) {
        clarow.waitForReadyRead(500);
        err += QString::fromLocal8Bit(clarow.readAllStandardError());
    }
    EXPECT_TRUE(err.contains(QStringLiteral("program folder ") + folder)) << err.toStdString();
    EXPECT_TRUE(QFileInfo(QDir(folder).filePath(QStringLiteral("clarowdata.mdb"))).isFile());
    EXPECT_FALSE(QDir(folder).entryList({QStringLiteral("*.log")}).isEmpty());

    clarow.terminate();
    ASSERT_TRUE(clarow.waitForFinished(15000));
    EXPECT_EQ(clarow.exitCode(), 0);
    // The shared template stays as it was shipped.
    EXPECT_FALSE(QDir(installed(QStringLiteral("usr/share/clarow"))).exists(QStringLiteral("clarow.lock")));
}

TEST_F(Package, TheServiceRunsTheHeadlessMonitorInATightSandbox)
{
    const QString unit = installed(QStringLiteral("usr/lib/systemd/system/clarow.service"));
    QFile file(unit);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));

    // It still runs the monitor without windows as its own user on its state folder, with the
    // adapter's serial ports and the network.
    for (const char *line : {"ExecStart=/usr/bin/clarow --headless", "DynamicUser=yes", "StateDirectory=clarow",
                             "SupplementaryGroups=dialout", "DevicePolicy=closed", "DeviceAllow=char-ttyUSB rw",
                             "DeviceAllow=char-ttyACM rw", "DeviceAllow=char-ttyS rw",
                             "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX", "UMask=0077"})
        EXPECT_TRUE(lines.contains(QLatin1String(line))) << line;
    for (const char *setting : {"PrivateNetwork=", "PrivateDevices=", "PrivateUsers=", "IPAddressDeny="}) {
        EXPECT_TRUE(lines.filter(QRegularExpression(QLatin1Char('^') + QLatin1String(setting))).isEmpty())
            << setting;
    }

    if (QStandardPaths::findExecutable(QStringLiteral("systemd-analyze")).isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed (tools/install-deps installs package systemd)";
    // Every setting is one this systemd knows; a misspelt one would be ignored with a warning.
    const Outcome verify = run(QStringLiteral("systemd-analyze"), {QStringLiteral("verify"), unit});
    EXPECT_FALSE(verify.out.contains(QStringLiteral("ignoring"), Qt::CaseInsensitive)) << verify.out.toStdString();
    EXPECT_FALSE(verify.out.contains(QStringLiteral("Failed to parse"))) << verify.out.toStdString();

    const Outcome score = run(QStringLiteral("systemd-analyze"),
                              {QStringLiteral("security"), QStringLiteral("--offline=true"),
                               QStringLiteral("--no-pager"), unit});
    const QRegularExpressionMatch level =
        QRegularExpression(QStringLiteral("Overall exposure level for clarow\\.service: (\\d+\\.\\d+)")).match(score.out);
    ASSERT_TRUE(level.hasMatch()) << score.out.toStdString();
    EXPECT_LT(level.captured(1).toDouble(), 4.0) << score.out.toStdString();
}
