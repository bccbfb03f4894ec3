// The data views on real database files: loading 65,000 readings into the log grid, their
// export, drawing 8192 points in the graph window, and the history query of one sensor and
// one day in a history of 10 million rows (100 sensors, about two years at 10 minutes; the
// file is built on the first run and kept in build/bench), the weekly compaction of a million
// rows and the resident memory with the log and the graph open.
#include "core/Database.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "views/LogData.h"
#include "views/LogExport.h"
#include "views/ui/FullGraph.h"
#include "views/ui/LogGridModel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "BenchMain.h"

#include <benchmark/benchmark.h>

#include <cstdio>

#include <unistd.h>

using namespace clarow;

namespace {

const QDateTime kStart(QDate(2024, 1, 1), QTime(0, 0));
constexpr int kSlotsPerDay = 144;

// Runs statements on a database file; false (and a message) when one fails.
bool Run(const QString &path, const QStringList &statements)
{
    const QString name = QStringLiteral("bench-build");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open();
        for (const QString &sql : statements) {
            QSqlQuery q(db);
            if (ok && !q.exec(sql)) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(sql.left(60)), qPrintable(q.lastError().text()));
                ok = false;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// sensors sensors "28000000000000NN", each with days of readings every 10 minutes from
// kStart, written in time order as the scan writes them; the index is built at the end.
bool BuildHistory(const QString &path, int sensors, int days)
{
    QFile::remove(path);
    if (!QFile::copy(QStringLiteral(CLAROW_EMPTY_DB), path))
        return false;
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QString start = QString::number(ToSerial(kStart), 'f', 6);
    // The identifiers: "28" and the sensor's number as 14 hexadecimal digits.
    const QString id = QStringLiteral("printf('28%014X', n)");
    return Run(path, {
        QStringLiteral("PRAGMA journal_mode = OFF"),
        QStringLiteral("PRAGMA synchronous = OFF"),
        QStringLiteral("DROP INDEX LogTbl_Sensor_Time"),
        QStringLiteral("BEGIN"),
        QStringLiteral("WITH RECURSIVE s(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM s WHERE n < %1) "
                       "INSERT INTO Sensors (SensorID, Location, aTempLo, aTempHi, Connected) "
                       "SELECT {id}, 'Room ' || n, 2, 8, 1 FROM s")
            .arg(sensors - 1)
            .replace(QStringLiteral("{id}"), id),
        QStringLiteral("WITH RECURSIVE t(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM t WHERE i < %1), "
                       "s(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM s WHERE n < %2) "
                       "INSERT INTO LogTbl (SensorID, lTime, lTemp) "
                       "SELECT {id}, round((%3 + i / 144.0) * 86400) / 86400.0, "
                       "4 + ((i + n) % 40) / 10.0 FROM t, s")
            .arg(days * kSlotsPerDay - 1)
            .arg(sensors - 1)
            .arg(start)
            .replace(QStringLiteral("{id}"), id),
        QStringLiteral("CREATE INDEX LogTbl_Sensor_Time ON LogTbl (SensorID, lTime)"),
        QStringLiteral("COMMIT"),
        QStringLiteral("PRAGMA journal_mode = WAL"),
    });
}

// A program folder whose database holds one sensor's readings.
struct Home
{
    explicit Home(int readings)
    {
        qputenv("CLAROW_HOME", dir.path().toLocal8Bit());
        const int days = (readings + kSlotsPerDay - 1) / kSlotsPerDay;
        ok = BuildHistory(QDir(dir.path()).filePath(QStringLiteral("clarowdata.mdb")), 1, days);
        program().selectedSensor = QStringLiteral("2800000000000000");
        end = kStart.addSecs(readings * 600LL - 60);
    }
    QTemporaryDir dir;
    bool ok = false;
    QDateTime end;
};

void BM_LoadLogIntoGridModel65000(benchmark::State &state)
{
    Home home(65000);
    if (!home.ok)
        return state.SkipWithError("could not build the history");
    LogGridModel model;
    for (auto _ : state) {
        const LoadResult r = LoadLogData(logData(), program().selectedSensor, kStart, home.end);
        model.fill(logData(), r.kind, true, QStringLiteral("C"), QStringLiteral("Short Date"),
                   QStringLiteral("Short Time"));
        // A screenful of rows as the view asks for them.
        for (int row = 0; row < 40; ++row)
            for (int col = 0; col < 2; ++col)
                benchmark::DoNotOptimize(model.data(model.index(row, col), Qt::DisplayRole));
        if (model.rowCount() != 65000)
            state.SkipWithError("wrong row count");
    }
}
BENCHMARK(BM_LoadLogIntoGridModel65000)->Unit(benchmark::kMillisecond);

void BM_Export65000(benchmark::State &state)
{
    Home home(65000);
    if (!home.ok)
        return state.SkipWithError("could not build the history");
    const LoadResult r = LoadLogData(logData(), program().selectedSensor, kStart, home.end);
    ExportHeader h{QStringLiteral("Depot"), program().selectedSensor, QStringLiteral("C"),
                   QStringLiteral("dd/MMM/yyyy"), QStringLiteral("hh:mm am/pm"), QDate(2026, 12, 7), r.kind};
    const QString path = QDir(home.dir.path()).filePath(QStringLiteral("export.csv"));
    for (auto _ : state) {
        if (!WriteExport(path, logData(), h, QLatin1Char(',')))
            state.SkipWithError("export failed");
    }
}
BENCHMARK(BM_Export65000)->Unit(benchmark::kMillisecond);

void BM_LoadGraph8192(benchmark::State &state)
{
    LogData &d = logData();
    d = LogData();
    d.TempLo = 2;
    d.TempHi = 8;
    d.RecCount = 8192;
    d.SensorId = QStringLiteral("2800000000000000");
    for (int i = 0; i < d.RecCount; ++i)
        d.Points.push_back({ToSerial(kStart.addSecs(600LL * i)), 4.0f + (i % 40) / 10.0f, 0});
    program().selectedSensor = QStringLiteral("2800000000000000");
    FullGraph graph;
    graph.Form_Load();
    for (auto _ : state)
        graph.LoadGraph();
}
BENCHMARK(BM_LoadGraph8192)->Unit(benchmark::kMillisecond);

void BM_HistoryQueryOneDayOf10Million(benchmark::State &state)
{
    const QString folder = QStringLiteral(CLAROW_BENCH_CACHE "/history-10m");
    const QString path = folder + QStringLiteral("/clarowdata.mdb");
    QDir().mkpath(folder);
    if (!QFile::exists(path)) {
        const QString building = folder + QStringLiteral("/building.mdb");
        if (!BuildHistory(building, 100, 100000 / kSlotsPerDay + 1) || !QFile::rename(building, path))
            return state.SkipWithError("could not build the history");
    }
    qputenv("CLAROW_HOME", folder.toLocal8Bit());
    program().selectedSensor = QStringLiteral("2800000000000031");
    const QDateTime day = kStart.addDays(400);
    for (auto _ : state) {
        const LoadResult r = LoadLogData(logData(), program().selectedSensor, day, day.addSecs(86399));
        if (r.outcome != LoadOutcome::Loaded || logData().RecCount != kSlotsPerDay)
            state.SkipWithError("wrong result");
    }
}
BENCHMARK(BM_HistoryQueryOneDayOf10Million)->Unit(benchmark::kMillisecond);

// The weekly compaction of a history of about a million rows (100 sensors, 70 days): the
// scan cycle's timer stands still for as long as it runs.
void BM_WeeklyCompactionOf1Million(benchmark::State &state)
{
    const QString cache = QStringLiteral(CLAROW_BENCH_CACHE "/history-1m.mdb");
    if (!QFile::exists(cache)) {
        const QString building = cache + QStringLiteral(".building");
        if (!BuildHistory(building, 100, 70) || !QFile::rename(building, cache))
            return state.SkipWithError("could not build the history");
    }
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath(QStringLiteral("clarowdata.mdb"));
        QFile::copy(cache, path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        qputenv("CLAROW_HOME", dir.path().toLocal8Bit());
        state.ResumeTiming();
        if (!CompactDB(path, QStringLiteral("Options"), QString()))
            state.SkipWithError("compaction failed");
    }
}
BENCHMARK(BM_WeeklyCompactionOf1Million)->Unit(benchmark::kMillisecond)->Iterations(2);

// Resident memory with a 65,000-row log in the grid and the graph window drawing it.
void BM_ResidentWithLogAndGraphOpen(benchmark::State &state)
{
    Home home(65000);
    if (!home.ok)
        return state.SkipWithError("could not build the history");
    LogGridModel model;
    FullGraph graph;
    for (auto _ : state) {
        const LoadResult r = LoadLogData(logData(), program().selectedSensor, kStart, home.end);
        model.fill(logData(), r.kind, true, QStringLiteral("C"), QStringLiteral("Short Date"),
                   QStringLiteral("Short Time"));
        graph.Form_Load();
        graph.LoadGraph();
    }
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (statm.open(QIODevice::ReadOnly)) {
        const double pages = statm.readAll().split(' ').value(1).toDouble();
        state.counters["resident_MB"] = pages * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
    }
}
BENCHMARK(BM_ResidentWithLogAndGraphOpen)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return RunBenchmarks<QApplication>(argc, argv);
}
