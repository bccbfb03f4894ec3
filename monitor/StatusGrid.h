#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <array>

namespace clarow {

// The status grid of the monitoring window: one row per sensor heard recently or in the
// "disconnected" alarm. This part decides what the grid lists, in which order, with which
// texts and colours, and how large the grid and its window become; the widget only shows it.
// Lengths are in twips (1/1440 inch), colours 0xBBGGRR.

inline constexpr int kGridColumnCount = 8;
inline constexpr int kHeaderRowTwips = 660;
inline constexpr int kDataRowTwips = 300;
inline constexpr int kGridLeftTwips = 600;
inline constexpr int kWidenedColumnTwips = 1240;
// Room kept below the grid of a window that keeps its size.
inline constexpr int kGridBottomMarginTwips = 120;
// The window is this much wider than the grid.
inline constexpr int kWindowExtraWidthTwips = 1350;
inline constexpr std::array<int, kGridColumnCount> kColumnWidthsAtLoad = {2200, 4000, 1500, 0,
                                                                        0,    0,    0,    0};

enum GridColumn {
    ColSensor = 0,
    ColLocation = 1,
    ColTemperature = 2,
    ColHumidity = 3,
    ColLight = 4,
    ColAnalog = 5,
    ColCurrent = 6,
    ColWater = 7,
};

// Header text of a column: two lines joined by a carriage return. The temperature header
// carries the scale letter ("Temperature" CR "(°C)").
[[nodiscard]] QString GridHeaderText(int column, const QString &scaleLetter);

// One listed sensor, ready to show.
struct StatusRow
{
    QString sensorId;
    QString sensorType; // "26 19": family, a blank, the last two characters
    bool inAlarm = false;
    qint32 colour = 0;  // ColAlarm or ColOK
    std::array<QString, kGridColumnCount> cells;
};

// The columns a sensor type ("26 19") needs beyond the three always shown, as a bit per
// column: the column of what its second channel measures, and the water column for a sensor
// with a water-leak tape (link/TypeCodes).
[[nodiscard]] unsigned ColumnsWidenedBy(const QString &sensorType);
// The column that shows the second channel of a sensor type: humidity, light, analog voltage
// or current by what it measures; -1 without one.
[[nodiscard]] int SecondChannelColumn(const QString &sensorType);
// "Dry", "Fault", "Wet" for water status 0, 1, 2; empty for anything else.
[[nodiscard]] QString WaterStatusText(int status);

// The sensors to list for a last complete reading at lastGoodRead: read within 50 seconds of
// it and connected, or read within 2 hours of it and in the "disconnected" alarm. Sensors in
// alarm come first; then by location, or by the first 16 characters of the identifier and
// then by the leading number of its last two characters, so "… 00", "… 1E" (1), "… 19" (19)
// follow one another in that order, as the identifiers were always ordered. Ties keep the
// identifier order. Colours come from ColAlarm / ColOK. Throws ClarowError when the
// database fails.
[[nodiscard]] QList<StatusRow> LoadStatusGrid(const QDateTime &lastGoodRead, bool sortByLocation);

// True when the temperature header was written for another scale letter than the one in
// use; the header is then rewritten and the operator told that the stored temperatures
// change with the next scan ("Temperature scale change").
bool CheckTemperatureHeader(QString &header, const QString &scaleLetter);

// Size of the grid and its window after a rebuild.
struct GridSize
{
    int gridHeight = 0;
    int windowHeight = 0;
    int gridWidth = 0;
    bool verticalScrollBar = false;
};

// neededHeight: the rows' height; columnsWidth: the sum of the column widths; mainInner:
// the inner height of the main window; px: twips per pixel. The grid fits its rows while
// it can; beyond that it is cut at a fixed height (small main window) or at the main
// window's height and scrolls.
[[nodiscard]] GridSize SizeGrid(int neededHeight, int columnsWidth, int mainInner, double px);
// The grid inside a window that keeps its size (maximized): it fits its rows while the room
// allows, else it takes the room and scrolls. roomHeight: the height below the grid's top.
[[nodiscard]] GridSize SizeGridWithin(int neededHeight, int columnsWidth, int roomHeight, double px);

} // namespace clarow
