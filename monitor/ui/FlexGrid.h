#pragma once

#include "monitor/StatusGrid.h"

#include <QAbstractTableModel>
#include <QTableView>

#include <array>

namespace clarow {

struct GridHost;

// The rows and headers of the status grid as the view shows them.
class StatusGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit StatusGridModel(QObject *parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

    // Rewrites the rows in place (the selection stays where it was), adding or removing rows
    // at the end as the count changes.
    void setRows(const QList<StatusRow> &rows);
    [[nodiscard]] const StatusRow &row(int r) const { return m_rows.at(r); }

    // Header text as stored: two lines joined by a carriage return.
    [[nodiscard]] QString header(int column) const { return m_headers.at(column); }
    void setHeader(int column, const QString &text);
    // The underlined header: the column the rows are ordered by.
    void setSortColumn(int column);
    [[nodiscard]] int sortColumn() const { return m_sortColumn; }

private:
    QList<StatusRow> m_rows;
    std::array<QString, kGridColumnCount> m_headers;
    int m_sortColumn = ColSensor;
};

// The status grid FlexGrid1 of the monitoring window: one row per sensor heard recently or
// in the "disconnected" alarm, coloured by alarm state. The operator picks a sensor here for
// the data log, graph and sensor options windows, by the context menu or a double-click.
class FlexGrid : public QTableView
{
    Q_OBJECT
public:
    explicit FlexGrid(GridHost *host, QWidget *parent = nullptr);

    void setHost(GridHost *host) { m_host = host; }

    // Rebuilds the grid from table Sensors, sizes it and its window, re-selects the picked
    // sensor's row and draws attention to an alarm while the program is not in front. A
    // failure shows the error and leaves the grid as it was.
    void BuildFgrid();
    // Selects row SelectedRow (the first data row when that is not one).
    void SelectSensorRow();

    [[nodiscard]] StatusGridModel *gridModel() const { return m_model; }
    [[nodiscard]] bool sortByLocation() const { return m_sortByLocation; }
    [[nodiscard]] bool sortChanged() const { return m_sortChanged; }
    [[nodiscard]] int selectedRow() const { return m_selectedRow; }
    [[nodiscard]] const QString &gridSensor() const { return m_gridSensor; }
    [[nodiscard]] int columnWidthTwips(int column) const { return m_widths.at(column); }
    [[nodiscard]] int gridWidthTwips() const { return m_gridWidthTwips; }
    [[nodiscard]] int gridHeightTwips() const { return m_gridHeightTwips; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build();
    void headerPressed(int column);
    void released(Qt::MouseButton button, const QPoint &globalPos);
    void applyColumnWidths();
    void setGridSize(int widthTwips, int heightTwips);
    [[nodiscard]] int columnsWidthTwips() const;

    GridHost *m_host = nullptr;
    StatusGridModel *m_model = nullptr;
    std::array<int, kGridColumnCount> m_widths = kColumnWidthsAtLoad;
    bool m_sortByLocation = false;
    bool m_sortChanged = false;
    int m_selectedRow = 0; // 1 = first data row, as the rows are counted below the header
    QString m_gridSensor;
    int m_gridWidthTwips = 0;
    int m_gridHeightTwips = 0;
};

} // namespace clarow
