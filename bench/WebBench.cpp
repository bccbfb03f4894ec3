// The web page's cost: the grid of 200 sensors (page and script data, built on the program's
// thread after each scan) and the 30-day chart of a sensor read every minute (built on the
// server's thread per request). Counters give the bytes sent.
#include "link/Clock.h"
#include "views/WebPage.h"

#include <QCoreApplication>

#include "BenchMain.h"

#include <benchmark/benchmark.h>

using namespace clarow;

namespace {

WebState GridOf(int sensors)
{
    WebState s;
    s.settings.ColAlarm = 8421631;
    s.settings.ColOK = 8454016;
    s.settings.CorF = QStringLiteral("C");
    s.settings.LocationName = QStringLiteral("Server room 2");
    s.settings.DateFormat = QStringLiteral("Short Date");
    s.settings.TimeFormat = QStringLiteral("Short Time");
    s.now = QDateTime(QDate(2026, 12, 7), QTime(11, 0));
    s.lastCompleteReading = s.now;
    s.secondsToNextScan = 42;
    for (int i = 0; i < sensors; ++i) {
        StatusRow r;
        r.sensorId = QStringLiteral("26A1B2C3D4E5%1 19").arg(i, 4, 16, QLatin1Char('0')).toUpper();
        r.sensorType = QStringLiteral("26 19");
        r.inAlarm = i % 17 == 0;
        r.cells[ColSensor] = r.sensorId;
        r.cells[ColLocation] = QStringLiteral("Rack %1, shelf <%2>").arg(i / 8).arg(i % 8);
        r.cells[ColTemperature] = QStringLiteral("21.5");
        r.cells[ColHumidity] = QStringLiteral("45");
        s.rows << r;
    }
    return s;
}

void GridPage(benchmark::State &state)
{
    const WebState grid = GridOf(200);
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray html = GridPageHtml(grid);
        const QByteArray json = SensorsJson(grid);
        bytes = html.size();
        benchmark::DoNotOptimize(json.data());
        state.counters["json_bytes"] = static_cast<double>(json.size());
    }
    state.counters["html_bytes"] = static_cast<double>(bytes);
    state.counters["css_bytes"] = static_cast<double>(WebStyleSheet(grid).size());
    state.counters["js_bytes"] = static_cast<double>(WebScript().size());
}
BENCHMARK(GridPage)->Unit(benchmark::kMillisecond);

void Chart30Days(benchmark::State &state)
{
    LogData data;
    data.TempLo = 10;
    data.TempHi = 30;
    const double start = ToSerial(QDateTime(QDate(2026, 11, 7), QTime(11, 0)));
    for (int i = 0; i < 30 * 1440; ++i)
        data.Points.push_back({start + i / 1440.0, 20.0f + static_cast<float>(i % 97) / 10.0f, 45});
    data.RecCount = static_cast<qint32>(data.Points.size());
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray svg = ChartSvg(data, false, QStringLiteral("Temperature"),
                                        {ChartLine{QStringLiteral("Temperature"), 0},
                                         ChartLine{QStringLiteral("Low limit"), 255},
                                         ChartLine{QStringLiteral("High limit"), 255}});
        bytes = svg.size();
    }
    state.counters["svg_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(Chart30Days)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return RunBenchmarks<QCoreApplication>(argc, argv);
}
