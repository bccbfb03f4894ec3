// One scan of a bus with 200 sensors, as the monitoring window runs it once a minute: the
// reply is decoded, every line updates its Sensors row and appends a history row inside one
// transaction, then the alarm evaluation walks the whole table. Runs on a real database file
// in a temporary folder.
#include "core/Database.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "monitor/Decoder.h"
#include "monitor/Metrics.h"
#include "monitor/SensorTable.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "BenchMain.h"

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace clarow;

namespace {

constexpr int kSensors = 200;

// The empty database, made from the schema file the build uses.
bool CreateDatabase(const QString &path)
{
    const QString schema = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../core/schema.sql");
    QFile f(schema);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QString text;
    for (const QString &line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        if (!line.trimmed().startsWith(QLatin1String("--")))
            text += line + QLatin1Char('\n');
    }
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-setup"));
        db.setDatabaseName(path);
        ok = db.open();
        for (const QString &statement : text.split(QLatin1Char(';'))) {
            if (!ok || statement.trimmed().isEmpty())
                continue;
            QSqlQuery q(db);
            ok = q.exec(statement);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-setup"));
    return ok;
}

// A reply with every kind of sensor, some of them out of their limits.
QString MakeReply()
{
    static const char *const kinds[] = {"", " 19", " 1A", " 1B", " 1C", " 1D", " 1E", " 00"};
    QString reply;
    for (int i = 0; i < kSensors; ++i) {
        const int kind = i % 8;
        const QString family = kind == 0 ? QStringLiteral("28") : QStringLiteral("26");
        reply += family + QStringLiteral("%1").arg(i, 14, 16, QLatin1Char('0')).toUpper() + QLatin1String(kinds[kind]);
        reply += QStringLiteral(",%1.25,%2.05").arg(20 + i % 40).arg(68 + i % 70);
        switch (kind) {
        case 1: case 3: reply += QStringLiteral(",%1").arg(i % 100); break;
        case 2: reply += QStringLiteral(",%1").arg(i * 7 % 1200); break;
        case 4: reply += QStringLiteral(",%1").arg(i % 300); break;
        case 5: reply += QStringLiteral(",%1,%2").arg(i % 2).arg(i / 2 % 2); break;
        case 6: reply += QStringLiteral(",%1,%2,%3").arg(i % 100).arg(i % 2).arg(i / 2 % 2); break;
        default: break;
        }
        reply += QStringLiteral("\r\n");
    }
    return reply + QStringLiteral("EOD\r\n");
}

// A fresh program folder with an open, empty database and the default limits.
bool PrepareHome(const QTemporaryDir &home)
{
    qputenv("CLAROW_HOME", home.path().toLocal8Bit());
    if (!CreateDatabase(DatabasePath()))
        return false;
    Settings &s = program().settings;
    s.CorF = QStringLiteral("C");
    s.DefLoT = 32;
    s.DefHiT = 50;
    s.DefLoCh2 = 20;
    s.DefHiCh2 = 80;
    s.SendMailAlarm = true;
    s.SendMailRtn = true;
    s.MinsConsecutive = 3;
    OpenDatabase();
    return true;
}

void RunScan(const QString &reply, bool evaluate)
{
    const QDateTime read = NowWholeSeconds();
    QSqlDatabase db = Db();
    db.transaction();
    DecodeReply(reply, program().settings.CorF, [&](const SensorLine &line) {
        if (line.update)
            UpdateSensor(line.id, line.temperature, line.ch2, line.water, read);
        AppendHistory(line, read);
    });
    db.commit();
    if (!evaluate)
        return;
    bool mailPending = false;
    EvaluateSensors(mailPending);
    benchmark::DoNotOptimize(mailPending);
}

void BM_ScanOf200Sensors(benchmark::State &state)
{
    QTemporaryDir home;
    if (!PrepareHome(home)) {
        state.SkipWithError("cannot create the database");
        return;
    }
    const QString reply = MakeReply();
    for (auto _ : state)
        RunScan(reply, true);
    state.SetItemsProcessed(state.iterations() * kSensors);
    CloseConnection();
}
BENCHMARK(BM_ScanOf200Sensors)->Unit(benchmark::kMillisecond);

// The alarm evaluation alone, over 200 known sensors.
void BM_EvaluateOf200Sensors(benchmark::State &state)
{
    QTemporaryDir home;
    if (!PrepareHome(home)) {
        state.SkipWithError("cannot create the database");
        return;
    }
    RunScan(MakeReply(), false);
    for (auto _ : state) {
        bool mailPending = false;
        EvaluateSensors(mailPending);
        benchmark::DoNotOptimize(mailPending);
    }
    CloseConnection();
}
BENCHMARK(BM_EvaluateOf200Sensors)->Unit(benchmark::kMillisecond);

// One build of the metrics page, as the program's thread makes it after each scan of the
// cycle for the HTTP server to hand out: 200 sensors read from Sensors and written out.
void BM_MetricsOf200Sensors(benchmark::State &state)
{
    QTemporaryDir home;
    if (!PrepareHome(home)) {
        state.SkipWithError("cannot create the database");
        return;
    }
    RunScan(MakeReply(), true);
    for (auto _ : state)
        benchmark::DoNotOptimize(CurrentMetrics());
    state.SetItemsProcessed(state.iterations() * kSensors);
    CloseConnection();
}
BENCHMARK(BM_MetricsOf200Sensors)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return RunBenchmarks<QCoreApplication>(argc, argv);
}
