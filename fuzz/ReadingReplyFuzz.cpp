// A reading reply as it comes off the line, decoded and stored by the scan cycle: the sensor
// table, the history and the alarm evaluation run on a real database file in a temporary
// program folder. Whatever the adapter sends, the program must not crash, and every sensor
// it stores has a well-formed identifier.
#include "FuzzInput.h"

#include "core/Database.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "monitor/ScanCycle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace clarow;

namespace {

struct Setup
{
    Setup()
    {
        // The database lives in memory-backed storage where there is one: every input commits.
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                        : QDir::tempPath();
        dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/clarow-fuzz-XXXXXX"));
        qputenv("CLAROW_HOME", dir->path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", dir->path().toLocal8Bit());
        QFile::copy(QStringLiteral(CLAROW_EMPTY_DB), dir->filePath(QStringLiteral("clarowdata.mdb")));
        QFile::setPermissions(dir->filePath(QStringLiteral("clarowdata.mdb")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        LoadOptions();
        program().settings.CorF = QStringLiteral("C");
        OpenDatabase();
    }
    std::unique_ptr<QTemporaryDir> dir;
    ScanCycle cycle;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "ReadingReplyFuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Setup setup;

    setup.cycle.RxBuffer = fuzz::SerialText(data, size);
    setup.cycle.DecodeReadings(true);

    static const QRegularExpression id(QStringLiteral("^[0-9A-F]{16}( [0-9A-F]{2})?$"));
    QSqlQuery q = Exec(QStringLiteral("SELECT SensorID FROM Sensors"));
    while (q.next()) {
        if (!id.match(q.value(0).toString()).hasMatch())
            qFatal("stored sensor identifier \"%s\"", qPrintable(q.value(0).toString()));
    }
    // The table would grow without end over a long run; each input starts afresh.
    Exec(QStringLiteral("DELETE FROM Sensors"));
    Exec(QStringLiteral("DELETE FROM LogTbl"));
    return 0;
}
