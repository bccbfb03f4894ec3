// The floor check, run on small trees made for it: each case is one file with one include,
// and whether the check must refuse it.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Case
{
    const char *file;
    const char *include;
    bool refused;
};

QString RunCheck(const QString &root, int &exitCode)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(CLAROW_SOURCE_DIR "/tools/check-layers"), root});
    EXPECT_TRUE(p.waitForFinished(60000));
    exitCode = p.exitCode();
    return QString::fromUtf8(p.readAll());
}

TEST(CheckLayers, RefusesAnIncludeFromAFloorAboveAndAcceptsTheRest)
{
    const Case cases[] = {
        {"link/A.cpp", "link/B.h", false},
        {"link/A.cpp", "core/B.h", true},
        {"core/A.cpp", "link/B.h", false},
        {"core/A.cpp", "monitor/B.h", true},
        {"monitor/A.cpp", "firmware/B.h", false},   // the same floor
        {"monitor/A.cpp", "views/B.h", true},
        {"views/A.cpp", "options/B.h", false},
        {"options/ui/A.cpp", "app/ui/B.h", true},
        {"monitor/A.cpp", "monitor/ui/B.h", true},   // logic never includes a window
        {"monitor/ui/A.cpp", "core/ui/B.h", false},
        {"app/clarow_main.cpp", "app/ui/B.h", false}, // the program's entry assembles it all
        {"retyper/A.cpp", "link/B.h", false},
        {"retyper/A.cpp", "core/B.h", true},
        {"retyper/main.cpp", "core/B.h", true},
        {"core/A.cpp", "retyper/B.h", true},
        {"tests/A.cpp", "app/ui/B.h", false},
        {"core/A.cpp", "A.h", false},                // a header beside it
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " includes " + c.include);
        QTemporaryDir root;
        const QString path = root.filePath(QString::fromUtf8(c.file));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("#include \"") + c.include + "\"\n");
        f.close();
        int exitCode = -1;
        const QString out = RunCheck(root.path(), exitCode);
        EXPECT_EQ(exitCode, c.refused ? 1 : 0) << out.toStdString();
        if (c.refused)
            EXPECT_TRUE(out.contains(QString::fromUtf8(c.file) + QStringLiteral(":1: includes "))) << out.toStdString();
    }
}

TEST(CheckLayers, TheSourceTreeKeepsItsFloors)
{
    int exitCode = -1;
    const QString out = RunCheck(QStringLiteral(CLAROW_SOURCE_DIR), exitCode);
    EXPECT_EQ(exitCode, 0) << out.toStdString();
}

} // namespace
