#include "History.h"
#include "ScriptedPrompter.h"
#include "TestHome.h"

#include "core/DateFormat.h"
#include "core/DiagnosticLog.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/VirtualClock.h"
#include "views/LogExport.h"
#include "views/ui/FullGraph.h"
#include "views/ui/LogFrm.h"
#include "views/ui/ViewWindows.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStandardPaths>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtCharts/QAbstractSeries>
#include <QtCharts/QChart>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <sys/resource.h>

using namespace clarow;
using namespace clarow::test;

namespace {

const QString kTemp = QStringLiteral("28000000000ABCD5");
const QString kHumidity = QStringLiteral("2600000000000A19 19");
const QDateTime kStart(QDate(2025, 3, 1), QTime(0, 0));

double Ramp(int i) { return 20 + (i % 100) / 10.0; }

class LogView : public ::testing::Test
{
protected:
    LogView()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        LoadOptions();
        resetViews();
        Settings &s = program().settings;
        s.DateFormat = QStringLiteral("dd/MMM/yyyy");
        s.TimeFormat = QStringLiteral("HH:mm:ss");
        s.CorF = QStringLiteral("C");
        s.LocationName = QStringLiteral("Depot");
    }
    ~LogView() override
    {
        QLocale::setDefault(QLocale::system());
        resetViews();
    }

    // A sensor with count readings, 10 minutes apart from kStart.
    void sensor(const QString &id, int count, SensorRow row = {})
    {
        row.id = id;
        AddSensor(home.databasePath(), row);
        AddReadings(home.databasePath(), id, kStart, count, 600, Ramp,
                    id.size() > 16 ? std::function<double(int)>([](int i) { return 40.0 + i % 7; })
                                   : std::function<double(int)>());
    }
    void select(const QString &id) { program().selectedSensor = id; }
    QString cell(int row, int column) const
    {
        return w.grid()->model()->index(row, column).data().toString();
    }
    // Exports through the save dialog as a user would: file type, name, Save.
    QStringList exportAs(const QString &filter, const QString &name)
    {
        w.ExportBtn_Click();
        QFileDialog *d = w.exportDialog();
        d->selectNameFilter(filter);
        d->selectFile(home.file(name));
        static_cast<QDialog *>(d)->accept();
        return home.readFile(name).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    TestHome home;
    ScriptedPrompter boxes;
    LogFrm w;
};

// The rows of a comma-separated file as Python's csv module reads them.
QList<QStringList> CsvRows(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv, json, sys\n"
                                 "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                 "    print(json.dumps(list(csv.reader(f))))\n"),
                  path});
    python.waitForFinished(30000);
    QList<QStringList> rows;
    for (const QJsonValue &row : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        rows << row.toVariant().toStringList();
    return rows;
}

// The accessible toggle action of a check box or option button, as a screen reader uses it.
void AccessibleToggle(QWidget *button)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a->actionInterface(), nullptr);
    a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
}

// The process's local time zone for the life of the object (the test main runs in UTC).
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char *tz)
    {
        qputenv("TZ", tz);
        tzset();
    }
    ~ScopedTimeZone()
    {
        qputenv("TZ", "UTC");
        tzset();
    }
};

} // namespace

TEST_F(LogView, RowLimitAndConfirmationFollowTheNumberOfReadings)
{
    struct Case
    {
        const char *id;
        int rows;
        bool limitMessage;
        bool question;
    } cases[] = {
        {"2800000000005000", 5000, false, false},
        {"2800000000005001", 5001, false, true},
        {"2800000000065000", 65000, false, true},
        {"2800000000065001", 65001, true, true},
    };
    for (const Case &c : cases)
        sensor(QLatin1String(c.id), c.rows);
    w.show();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rows);
        boxes.boxes.clear();
        boxes.answers = {Answer::Ok, Answer::Ok};
        select(QLatin1String(c.id));
        w.LoadLog(ZeroDate(), Now());
        EXPECT_EQ(boxes.titles().contains(QStringLiteral("Limit exceeded")), c.limitMessage);
        EXPECT_EQ(boxes.titles().contains(QStringLiteral("Confirm load")), c.question);
        const int kept = std::min(c.rows, 65000);
        ASSERT_EQ(logData().RecCount, kept);
        EXPECT_EQ(w.grid()->model()->rowCount(), kept);
        // The oldest are kept.
        EXPECT_EQ(FromSerial(logData().Points.back().Time), kStart.addSecs((kept - 1) * 600LL));
    }
    EXPECT_EQ(boxes.boxes.constLast().text,
              QStringLiteral("65000 records are available for display.\rAnd may take several minutes to "
                             "load.\rDo you wish to view the data?"));
}

TEST_F(LogView, CancelKeepsTheWindowAndItsExportAsTheyWere)
{
    sensor(kTemp, 10);
    sensor(QStringLiteral("2800000000005001"), 5001);
    select(kTemp);
    w.show();
    w.Form_Load();
    ASSERT_EQ(w.grid()->model()->rowCount(), 10);
    select(QStringLiteral("2800000000005001"));
    boxes.answers = {Answer::Cancel};
    w.LoadLog(ZeroDate(), Now());
    EXPECT_EQ(boxes.titles(), QStringList{QStringLiteral("Confirm load")});
    EXPECT_EQ(w.grid()->model()->rowCount(), 10);
    EXPECT_EQ(logData().RecCount, 5001);
    // The export writes what the window shows.
    const QStringList lines = exportAs(ExportFilters().at(0), QStringLiteral("new.csv"));
    EXPECT_EQ(lines.size(), 6 + 10);
    EXPECT_EQ(lines.at(1), QStringLiteral("\"Sensor ID\",\"") + kTemp + QLatin1Char('"'));
}

TEST_F(LogView, EmptyRangeAndEndOfDayBound)
{
    sensor(kTemp, 0);
    AddReadings(home.databasePath(), kTemp, QDateTime(QDate(2025, 5, 2), QTime(12, 0)), 1, 0, Ramp);
    AddReadings(home.databasePath(), kTemp, QDateTime(QDate(2025, 5, 2), QTime(23, 59, 59)), 1, 0, Ramp);
    select(kTemp);
    w.show();
    w.Form_Load();
    ASSERT_EQ(logData().RecCount, 2);
    auto *start = w.findChild<QDateTimeEdit *>(QStringLiteral("StartDt"));
    auto *end = w.findChild<QDateTimeEdit *>(QStringLiteral("EndDt"));
    EXPECT_EQ(start->dateTime(), QDateTime(QDate(2025, 5, 2), QTime(0, 0)));
    EXPECT_EQ(end->dateTime(), QDateTime(QDate(2025, 5, 2), QTime(23, 59, 59)));
    // The end picker's last second is inside the range.
    w.RefreshBtn_Click();
    EXPECT_EQ(logData().RecCount, 2);

    start->setDateTime(QDateTime(QDate(2025, 6, 1), QTime(0, 0)));
    end->setDateTime(QDateTime(QDate(2025, 6, 2), QTime(0, 0)));
    w.findChild<QPushButton *>(QStringLiteral("GraphBtn"))->click();
    EXPECT_EQ(boxes.titles(), (QStringList{QStringLiteral("No data"), QStringLiteral("No data loaded")}));
    EXPECT_EQ(boxes.boxes.at(0).text, QStringLiteral("No records to display."));
    EXPECT_EQ(logData().RecCount, 0);
    EXPECT_EQ(w.grid()->model()->rowCount(), 2);
    EXPECT_EQ(start->date(), QDate(2025, 6, 1));
}

TEST_F(LogView, DescendingGridAscendingExportAndTheDialogsChoices)
{
    sensor(kHumidity, 3);
    select(kHumidity);
    w.show();
    w.findChild<QRadioButton *>(QStringLiteral("OptDesc"))->click();
    w.Form_Load();
    EXPECT_TRUE(viewFlags().DescOrder);
    EXPECT_EQ(cell(0, 0), QStringLiteral("01/Mar/2025, 00:20:00"));
    EXPECT_EQ(cell(2, 0), QStringLiteral("01/Mar/2025, 00:00:00"));
    EXPECT_EQ(w.grid()->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Humidity"));
    EXPECT_EQ(cell(0, 1), QStringLiteral("20.2"));
    // Captions reach assistive technology.
    EXPECT_EQ(w.findChild<QDateTimeEdit *>(QStringLiteral("StartDt"))->accessibleName(), QStringLiteral("Start date"));
    EXPECT_EQ(w.findChild<QRadioButton *>(QStringLiteral("OptAsc"))->accessibleName(), QStringLiteral("Ascending"));

    w.ExportBtn_Click();
    QFileDialog *d = w.exportDialog();
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Save Log"));
    EXPECT_EQ(d->nameFilters(), (QStringList{QStringLiteral("Comma delinited text (*.csv)"),
                                              QStringLiteral("Tab delinited text (*.txt)")}));
    EXPECT_EQ(d->selectedNameFilter(), QStringLiteral("Comma delinited text (*.csv)"));
    EXPECT_EQ(ProposedExportName(kHumidity, Now().date(), QStringLiteral("dd/MMM/yyyy")),
              QStringLiteral("00A19 19_") + FormatDate(Now(), QStringLiteral("ddMMMyyyy")));
    d->reject();

    // The tab-separated type wins over a typed ".csv".
    const QStringList lines = exportAs(ExportFilters().at(1), QStringLiteral("typed.csv"));
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines.at(5), QStringLiteral("\"Date, time\"\t\"Temperature (\u00B0C)\"\t\"Humidity, %\""));
    EXPECT_EQ(lines.at(6), QStringLiteral("\"01/Mar/2025 00:00:00\"\t20.00\t40"));
    EXPECT_EQ(lines.at(8), QStringLiteral("\"01/Mar/2025 00:20:00\"\t20.20\t42"));
}

TEST(LogExportText, ColumnsAndDecimalsFollowTheSensorType)
{
    LogData d;
    d.Location = QStringLiteral("Plant room");
    d.TempLo = -5.5f;
    d.TempHi = 30;
    d.RecCount = 1;
    d.Points = {{ToSerial(QDateTime(QDate(2026, 12, 6), QTime(9, 5))), 21.456f, 4.567f}};
    d.WaterText = {QStringLiteral("Wet")};
    struct Case
    {
        const char *id;
        const char *heading;
        const char *line;
    } cases[] = {
        {"2600000000000A1A 1A", ",\"Voltage\"", "\"06/12/2026 09:05\",21.46,4.57"},
        {"2600000000000A1D 1D", ",\"Water status\"", "\"06/12/2026 09:05\",21.46,\"Wet\""},
        {"2600000000000A1E 1E", ",\"Humidity, %\",\"Water status\"", "\"06/12/2026 09:05\",21.46,5,\"Wet\""},
        {"2800000000000A00", "", "\"06/12/2026 09:05\",21.46"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        ExportHeader h{QStringLiteral("Site"), QLatin1String(c.id), QStringLiteral("F"),
                       QStringLiteral("dd/mm/yyyy"), QStringLiteral("hh:nn"), QDate(2026, 12, 7),
                       KindOf(QLatin1String(c.id))};
        const QStringList lines = ExportText(d, h, QLatin1Char(','), QLocale::c()).split(QStringLiteral("\r\n"));
        ASSERT_EQ(lines.size(), 8); // six header lines, one reading, the final line end
        EXPECT_EQ(lines.at(0), QStringLiteral("\"Site\",\"07/12/2026\""));
        EXPECT_EQ(lines.at(3), QStringLiteral("\"Low limit (\u00B0F)\",-5.5"));
        EXPECT_EQ(lines.at(5), QStringLiteral("\"Date, time\",\"Temperature (\u00B0F)\"") + QLatin1String(c.heading));
        EXPECT_EQ(lines.at(6), QLatin1String(c.line));
    }
}

TEST(LogExportText, ReadingsRoundAwayFromZeroStayOneFieldAndTheFileHoldsTheText)
{
    struct Case
    {
        float value;
        const char *temp; // two decimals, with a decimal point
        const char *ch2;  // a humidity, no decimals
    } cases[] = {
        {-0.004f, "0.00", "0"},
        {0.125f, "0.13", "0"},
        {-0.5f, "-0.50", "-1"},
        {-12.345f, "-12.35", "-12"},
        {99.995f, "100.00", "100"},
        {123456.78f, "123456.78", "123457"},
        {3e12f, "3000000053248.00", "3000000053248"},
        {1e20f, "100000002004087734272.00", "100000002004087734272"},
        {std::numeric_limits<float>::quiet_NaN(), "nan", "nan"},
    };
    const QString id = QStringLiteral("2600000000000A19 19");
    // The date format writes a double quote of its own.
    ExportHeader h{QStringLiteral("Site"), id, QStringLiteral("C"), QStringLiteral("dd\\\"mm"),
                   QStringLiteral("hh:nn"), QDate(2026, 12, 7), KindOf(id)};
    const double when = ToSerial(QDateTime(QDate(2026, 12, 6), QTime(9, 5)));
    auto reading = [&](const LogData &d, QChar sep, const QLocale &locale) {
        return ExportText(d, h, sep, locale).split(QStringLiteral("\r\n")).at(6);
    };
    // With a decimal comma, quoted in a comma-separated file only.
    auto comma = [](const char *number, bool quote) {
        const QString n = QString::fromLatin1(number).replace(QLatin1Char('.'), QLatin1Char(','));
        return quote && n.contains(QLatin1Char(',')) ? QLatin1Char('"') + n + QLatin1Char('"') : n;
    };
    const QString stamp = QStringLiteral("\"06\"\"12 09:05\"");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        LogData d;
        d.RecCount = 1;
        d.Points = {{when, c.value, c.value}};
        EXPECT_EQ(reading(d, QLatin1Char(','), QLocale::c()),
                  stamp + QLatin1Char(',') + QLatin1String(c.temp) + QLatin1Char(',') + QLatin1String(c.ch2));
        const QLocale german(QLocale::German);
        EXPECT_EQ(reading(d, QLatin1Char(','), german),
                  stamp + QLatin1Char(',') + comma(c.temp, true) + QLatin1Char(',') + comma(c.ch2, true));
        EXPECT_EQ(reading(d, QLatin1Char('\t'), german),
                  stamp + QLatin1Char('\t') + comma(c.temp, false) + QLatin1Char('\t') + comma(c.ch2, false));
    }

    // A long history is written in blocks; the file holds the text, encoded, and nothing else.
    LogData d;
    d.Location = QStringLiteral("K\u00FChlhaus");
    for (int i = 0; i < 5000; ++i)
        d.Points.push_back({when + i / 144.0, -10.0f + i % 400 / 7.0f, i % 100 * 1.0f});
    d.RecCount = static_cast<int>(d.Points.size());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.csv"));
    ASSERT_TRUE(WriteExport(path, d, h, QLatin1Char(',')));
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), ExportText(d, h, QLatin1Char(',')).toUtf8());
}

TEST(LogExportText, ProposedNamesKeepOnlyLettersAndDigits)
{
    const QDate day(2026, 12, 6);
    const QString id = QStringLiteral("280000000000ABCD");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    EXPECT_EQ(ProposedExportName(id, day, QStringLiteral("dd/MMM/yyyy")), QStringLiteral("0000ABCD_06Dec2026"));
    EXPECT_EQ(ProposedExportName(id, QDate(2026, 5, 1), QStringLiteral("Short Date")),
              QStringLiteral("0000ABCD_01052026"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(ProposedExportName(id, day, QStringLiteral("Short Date")), QStringLiteral("0000ABCD_12626"));
    QLocale::setDefault(QLocale::system());
}

TEST_F(LogView, QuotesAndCommasInNamesReadBackByACsvParser)
{
    SensorRow row;
    row.location = QStringLiteral("Freezer \"B\", back wall");
    sensor(kTemp, 2, row);
    program().settings.LocationName = QStringLiteral("Smith's \"Fresh\", Ltd");
    select(kTemp);
    w.show();
    w.Form_Load();
    const QStringList lines = exportAs(ExportFilters().at(0), QStringLiteral("quoted.csv"));
    ASSERT_EQ(lines.size(), 8);

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv, json, sys\n"
                                 "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                 "    print(json.dumps(list(csv.reader(f))))\n"),
                  home.file(QStringLiteral("quoted.csv"))});
    ASSERT_TRUE(python.waitForFinished(30000));
    const QJsonArray rows = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    ASSERT_EQ(rows.size(), 8);
    auto row_ = [&rows](int i) { return rows.at(i).toVariant().toStringList(); };
    EXPECT_EQ(row_(0), (QStringList{QStringLiteral("Smith's \"Fresh\", Ltd"), FormatDate(Now(), QStringLiteral("dd/MMM/yyyy"))}));
    EXPECT_EQ(row_(2), (QStringList{QStringLiteral("Sensor location"), row.location}));
    EXPECT_EQ(row_(3), (QStringList{QStringLiteral("Low limit (\u00B0C)"), QStringLiteral("2")}));
    EXPECT_EQ(row_(7), (QStringList{QStringLiteral("01/Mar/2025 00:10:00"), QStringLiteral("20.10")}));
}

TEST_F(LogView, DemoFolderStartsWithAWeekOfHistoryPastTheLimits)
{
    QProcess sqlite;
    sqlite.setStandardInputFile(QStringLiteral(CLAROW_SOURCE_DIR "/tools/demo-history.sql"));
    sqlite.start(QStringLiteral("sqlite3"), {home.databasePath()});
    ASSERT_TRUE(sqlite.waitForFinished(30000));
    ASSERT_EQ(sqlite.exitCode(), 0) << sqlite.readAllStandardError().toStdString();

    select(QStringLiteral("28FF0B7D63160321"));
    w.show();
    w.Form_Load();
    const LogData &d = logData();
    ASSERT_EQ(d.RecCount, 7 * 144);
    const double last = d.Points.back().Time;
    EXPECT_LE(FromSerial(last), Now());
    EXPECT_NEAR(last - d.Points.front().Time, 7 - 1 / 144.0, 1e-6);
    EXPECT_TRUE(std::any_of(d.Points.begin(), d.Points.end(), [&d](const LogPoint &p) { return p.Temp > d.TempHi; }));
    EXPECT_EQ(d.Location, QStringLiteral("Incubator 2"));

    // A water sensor: the second channel's column is hidden, the water status is shown.
    select(QStringLiteral("26E55A0300000065 1D"));
    w.RefreshBtn_Click();
    EXPECT_TRUE(w.grid()->isColumnHidden(2));
    EXPECT_EQ(w.grid()->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Water"));
    EXPECT_TRUE(w.grid()->model()->match(w.grid()->model()->index(0, 3), Qt::DisplayRole, QStringLiteral("Wet")).size() == 1);
}

TEST_F(LogView, ExportAndGraphKeepTheSensorTheyWereLoadedFor)
{
    // Log opened on a water sensor A; then B is picked in the status grid and drawn by the
    // main window's graph command, which refills the shared data set.
    VirtualClock clock(kStart.addSecs(3600 * 3));
    ScopedClock useClock(clock);
    program().settings.DispHours = 48;
    const QString a = QStringLiteral("26E55A0300000065 1D");
    const QString b = QStringLiteral("2800000000000B0B");
    SensorRow rowA;
    rowA.location = QStringLiteral("Plant room floor");
    sensor(a, 5, rowA);
    sensor(b, 7);
    select(a);
    w.show();
    w.Form_Load();
    OpenGraphView(nullptr);
    FullGraph *graph = FindGraphWindow(nullptr);
    ASSERT_NE(graph, nullptr);
    const QString footerA = QStringLiteral("Sensor: ") + a + QStringLiteral("\r\nLocation: Plant room floor");
    EXPECT_EQ(graph->footerText(), footerA);

    select(b);
    const QStringList before = exportAs(ExportFilters().at(0), QStringLiteral("a1.csv"));
    ASSERT_EQ(before.size(), 6 + 5);
    EXPECT_EQ(before.at(1), QStringLiteral("\"Sensor ID\",\"") + a + QLatin1Char('"'));
    EXPECT_EQ(before.at(2), QStringLiteral("\"Sensor location\",\"Plant room floor\""));
    EXPECT_EQ(before.at(6), QStringLiteral("\"01/Mar/2025 00:00:00\",20.00,\"Dry\""));

    // A redraw by a check box (the screen reader's toggle) still draws A.
    AccessibleToggle(graph->findChild<QCheckBox *>(QStringLiteral("ChkAlarm")));
    EXPECT_TRUE(viewFlags().HideTempLimits);
    EXPECT_FALSE(graph->chart()->series().at(1)->isVisible());
    EXPECT_EQ(graph->footerText(), footerA);

    OpenGraphView(nullptr);
    EXPECT_EQ(logData().SensorId, b);
    EXPECT_EQ(graph->footerText(), QStringLiteral("Sensor: ") + b + QStringLiteral("\r\nLocation: Cold store"));
    EXPECT_EQ(exportAs(ExportFilters().at(0), QStringLiteral("a2.csv")), before);
    EXPECT_EQ(w.shown().SensorId, a);

    // The order buttons follow the toggle action too; the next load shows it.
    select(a);
    AccessibleToggle(w.findChild<QRadioButton *>(QStringLiteral("OptDesc")));
    EXPECT_TRUE(viewFlags().DescOrder);
    w.findChild<QPushButton *>(QStringLiteral("RefreshBtn"))->click();
    EXPECT_EQ(cell(0, 0), QStringLiteral("01/Mar/2025, 00:40:00"));
    EXPECT_TRUE(boxes.boxes.isEmpty());
    FrameOf(graph)->close();
}

TEST_F(LogView, FailedLoadsAndExportsAreShownLoggedAndKeepTheOldFile)
{
    sensor(kTemp, 1000);
    select(kTemp);
    w.show();
    w.Form_Load();
    ASSERT_EQ(w.grid()->model()->rowCount(), 1000);

    // A reload that cannot read the database says so; the grid keeps what it showed.
    ASSERT_TRUE(QFile::rename(home.databasePath(), home.file(QStringLiteral("moved.mdb"))));
    w.findChild<QRadioButton *>(QStringLiteral("OptDesc"))->click();
    w.findChild<QPushButton *>(QStringLiteral("RefreshBtn"))->click();
    ASSERT_EQ(boxes.titles(), QStringList{QStringLiteral("Error")});
    EXPECT_TRUE(boxes.boxes.at(0).text.startsWith(QStringLiteral("Error 53.\r"))) << boxes.boxes.at(0).text.toStdString();
    EXPECT_EQ(cell(0, 0), QStringLiteral("01/Mar/2025, 00:00:00"));
    const QString log = home.readFile(LogFileName(Now()));
    EXPECT_TRUE(log.contains(QStringLiteral("Error loading the data log of ") + kTemp)) << log.toStdString();
    ASSERT_TRUE(QFile::rename(home.file(QStringLiteral("moved.mdb")), home.databasePath()));

    // A folder nobody may write to.
    boxes.boxes.clear();
    w.ExportBtn_Click();
    w.exportDialog()->selectFile(QStringLiteral("/proc/clarow-export.csv"));
    static_cast<QDialog *>(w.exportDialog())->accept();
    ASSERT_EQ(boxes.titles(), QStringList{QStringLiteral("Export failed")});
    EXPECT_TRUE(boxes.boxes.at(0).text.startsWith(QStringLiteral("The data log could not be written to\r/proc/clarow-export.csv\r")));
    EXPECT_EQ(boxes.boxes.at(0).icon, Icon::Exclamation);

    // A full disk (the file size limit) in the middle of an overwrite: the old file stays.
    const QString old = QStringLiteral("the previous export\r\n");
    {
        QFile f(home.file(QStringLiteral("full.csv")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old.toUtf8());
    }
    boxes.boxes.clear();
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 8192;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    w.ExportBtn_Click();
    w.exportDialog()->setOption(QFileDialog::DontConfirmOverwrite); // the user said Yes
    w.exportDialog()->selectFile(home.file(QStringLiteral("full.csv")));
    static_cast<QDialog *>(w.exportDialog())->accept();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(boxes.titles(), QStringList{QStringLiteral("Export failed")});
    EXPECT_TRUE(boxes.boxes.at(0).text.contains(home.file(QStringLiteral("full.csv"))));
    EXPECT_EQ(home.readFile(QStringLiteral("full.csv")), old);
    EXPECT_TRUE(home.readFile(LogFileName(Now())).contains(QStringLiteral("Error exporting the data log to ")));
}

TEST_F(LogView, DecimalCommaTimeZonesAndTheSaveFolder)
{
    // The save dialog opens in the documents folder, then in the folder last used.
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    ASSERT_TRUE(QDir().mkpath(documents));
    SensorRow row;
    row.tempLo = 2.5;
    sensor(kHumidity, 3, row);
    select(kHumidity);
    w.show();
    w.Form_Load();
    w.ExportBtn_Click();
    EXPECT_EQ(w.exportDialog()->directory().absolutePath(), documents);
    w.exportDialog()->reject();

    // A decimal comma: numbers keep it and stay one field each.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    exportAs(ExportFilters().at(0), QStringLiteral("komma.csv"));
    const QList<QStringList> rows = CsvRows(home.file(QStringLiteral("komma.csv")));
    ASSERT_EQ(rows.size(), 9);
    EXPECT_EQ(rows.at(3), (QStringList{QStringLiteral("Low limit (\u00B0C)"), QStringLiteral("2,5")}));
    ASSERT_EQ(rows.at(7).size(), 3);
    EXPECT_EQ(rows.at(7).mid(1), (QStringList{QStringLiteral("20,10"), QStringLiteral("41")}));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));

    w.ExportBtn_Click();
    EXPECT_EQ(w.exportDialog()->directory().absolutePath(), QDir(home.path()).absolutePath());
    w.exportDialog()->reject();
    qputenv("HOME", oldHome);

    // Berlin, the morning the clocks go forward: an hour back from 03:30 lies in the skipped
    // hour. Only that hour is drawn, not the whole history.
    {
        ScopedTimeZone berlin("Europe/Berlin");
        VirtualClock clock(QDateTime(QDate(2025, 3, 30), QTime(3, 30)));
        ScopedClock useClock(clock);
        program().settings.DispHours = 1;
        const QString id = QStringLiteral("2800000000000DE1");
        AddSensor(home.databasePath(), {id});
        AddReadings(home.databasePath(), id, QDateTime(QDate(2025, 3, 29), QTime(12, 0)), 10, 600, Ramp);
        AddReadings(home.databasePath(), id, QDateTime(QDate(2025, 3, 30), QTime(3, 0)), 4, 600, Ramp);
        select(id);
        OpenGraphView(nullptr);
        EXPECT_EQ(logData().RecCount, 4);
        if (FullGraph *g = FindGraphWindow(nullptr))
            FrameOf(g)->close();
    }
    // Santiago, the day whose midnight the clocks skip: the start picker shows that day.
    {
        ScopedTimeZone santiago("America/Santiago");
        const QString id = QStringLiteral("2800000000000C11");
        AddSensor(home.databasePath(), {id});
        AddReadings(home.databasePath(), id, QDateTime(QDate(2025, 9, 7), QTime(1, 30)), 6, 600, Ramp);
        select(id);
        LogFrm chile;
        chile.Form_Load();
        auto *start = chile.findChild<QDateTimeEdit *>(QStringLiteral("StartDt"));
        EXPECT_EQ(start->dateTime(), QDateTime(QDate(2025, 9, 7), QTime(1, 0)));
        chile.RefreshBtn_Click();
        EXPECT_EQ(logData().RecCount, 6);
    }
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.titles().join(QLatin1Char(',')).toStdString();
}

TEST_F(LogView, MaximizedLogWindowTakesTheWorkspace)
{
    QMdiArea area;
    area.resize(1600, 1000);
    area.show();
    sensor(kTemp, 3);
    select(kTemp);
    OpenLogView(&area);
    LogFrm *log = FindLogWindow(&area);
    ASSERT_NE(log, nullptr);
    QWidget *frame = FrameOf(log);
    const int normalWidth = frame->width();
    const int gridWidth = log->grid()->width();
    frame->showMaximized();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->width(), area.viewport()->width());
    EXPECT_GT(log->grid()->width(), gridWidth + 400);
    frame->showNormal();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->width(), normalWidth);
    EXPECT_EQ(log->grid()->width(), gridWidth);
}
