#include "monitor/ui/FlexGrid.h"

#include "core/Errors.h"
#include "core/Helpers.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "monitor/ui/GridHost.h"

#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QMouseEvent>
#include <QStyledItemDelegate>

#include <cmath>
#include <exception>
#include <numeric>
#include <optional>

namespace clarow {

namespace {

// The picked row is highlighted only while the grid has the focus, so that the alarm colours
// stay readable while the operator works elsewhere.
class FocusHighlightDelegate final : public QStyledItemDelegate
{
public:
    explicit FocusHighlightDelegate(QAbstractItemView *view) : QStyledItemDelegate(view), m_view(view) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem o(option);
        if (!m_view->hasFocus())
            o.state &= ~QStyle::State_Selected;
        o.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, o, index);
    }

private:
    QAbstractItemView *m_view;
};

bool isSensorId(const QString &text)
{
    return text.size() == 16 || text.size() == 19;
}

} // namespace

// --- StatusGridModel ----------------------------------------------------------------------

StatusGridModel::StatusGridModel(QObject *parent) : QAbstractTableModel(parent)
{
    for (int c = 0; c < kGridColumnCount; ++c)
        m_headers[c] = GridHeaderText(c, program().settings.CorF);
}

int StatusGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int StatusGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kGridColumnCount;
}

QVariant StatusGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const StatusRow &r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return r.cells.at(index.column());
    case Qt::BackgroundRole:
        return QColor::fromRgb(StoredColourToRgb(r.colour));
    case Qt::TextAlignmentRole:
        if (index.column() == ColLocation)
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        return int(Qt::AlignCenter);
    default:
        return {};
    }
}

QVariant StatusGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kGridColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole: {
        QString t = m_headers.at(section);
        t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        return t;
    }
    case Qt::FontRole: {
        QFont f;
        f.setBold(true);
        f.setUnderline(section == m_sortColumn);
        return f;
    }
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter | Qt::TextWordWrap);
    default:
        return {};
    }
}

void StatusGridModel::setRows(const QList<StatusRow> &rows)
{
    const int before = static_cast<int>(m_rows.size());
    const int after = static_cast<int>(rows.size());
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        m_rows = rows;
        endInsertRows();
    } else if (after < before) {
        beginRemoveRows({}, after, before - 1);
        m_rows = rows;
        endRemoveRows();
    } else {
        m_rows = rows;
    }
    const int kept = std::min(before, after);
    if (kept > 0)
        Q_EMIT dataChanged(index(0, 0), index(kept - 1, kGridColumnCount - 1));
}

void StatusGridModel::setHeader(int column, const QString &text)
{
    m_headers.at(column) = text;
    Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
}

void StatusGridModel::setSortColumn(int column)
{
    m_sortColumn = column;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, kGridColumnCount - 1);
}

// --- FlexGrid -------------------------------------------------------------------------------

FlexGrid::FlexGrid(GridHost *host, QWidget *parent)
    : QTableView(parent), m_host(host), m_model(new StatusGridModel(this))
{
    setObjectName(QStringLiteral("FlexGrid1"));
    setModel(m_model);
    setItemDelegate(new FocusHighlightDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setShowGrid(true);
    // The column widths are fixed in twips and sized for a compact 8-point face: a
    // multi-sensor's 19-character identifier must fit the "Sensor" column whole.
    QFont compact = font();
    if (compact.pointSizeF() > 8.0)
        compact.setPointSizeF(8.0);
    setFont(compact);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    QHeaderView *rowsHeader = verticalHeader();
    rowsHeader->hide();
    rowsHeader->setMinimumSectionSize(1);
    rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowsHeader->setDefaultSectionSize(TwipsToPixelsY(kDataRowTwips));

    QHeaderView *header = horizontalHeader();
    header->setMinimumSectionSize(1);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setTextElideMode(Qt::ElideNone);
    header->setFixedHeight(TwipsToPixelsY(kHeaderRowTwips));
    header->viewport()->installEventFilter(this);

    applyColumnWidths();
    const double px = TwipsPerPixelY();
    setGridSize(static_cast<int>(std::lround(columnsWidthTwips() + 5 * px)),
                static_cast<int>(std::lround(kHeaderRowTwips + 7 * px)));
}

int FlexGrid::columnsWidthTwips() const
{
    return std::accumulate(m_widths.begin(), m_widths.end(), 0);
}

void FlexGrid::applyColumnWidths()
{
    for (int c = 0; c < kGridColumnCount; ++c) {
        setColumnHidden(c, m_widths[c] == 0);
        if (m_widths[c] > 0)
            setColumnWidth(c, TwipsToPixelsX(m_widths[c]));
    }
}

void FlexGrid::setGridSize(int widthTwips, int heightTwips)
{
    m_gridWidthTwips = widthTwips;
    m_gridHeightTwips = heightTwips;
    resize(TwipsToPixelsX(widthTwips), TwipsToPixelsY(heightTwips));
}

void FlexGrid::BuildFgrid()
{
    if (!m_host)
        return;
    try {
        build();
    } catch (const ClarowError &e) {
        ShowError(e.number(), e.description());
    } catch (const std::exception &e) {
        ShowError(kErrDatabase, QString::fromLocal8Bit(e.what()));
    }
}

void FlexGrid::build()
{
    // Everything that can fail comes first, so a failure leaves the grid as it was.
    const QList<StatusRow> rows = LoadStatusGrid(m_host->lastGoodRead(), m_sortByLocation);
    std::optional<int> windowHeight;
    bool anyAlarm = false;
    // A minimized or maximized window keeps the size it has; only a normal one fits the grid.
    const bool minimized = m_host->windowsMinimized();
    const bool maximized = !minimized && m_host->windowsMaximized();

    if (rows.isEmpty()) {
        m_model->setRows(rows);
        setGridSize(m_gridWidthTwips, kHeaderRowTwips);
    } else {
        QString header = m_model->header(ColTemperature);
        if (CheckTemperatureHeader(header, program().settings.CorF))
            m_model->setHeader(ColTemperature, header);

        int needed = 600;
        for (int i = 0; i < rows.size(); ++i) {
            const StatusRow &r = rows.at(i);
            if (m_gridSensor.size() >= 16 && r.sensorId == m_gridSensor)
                m_selectedRow = i + 1;
            const unsigned widen = ColumnsWidenedBy(r.sensorType);
            for (int c = 0; c < kGridColumnCount; ++c) {
                if (widen & (1u << c))
                    m_widths[c] = kWidenedColumnTwips;
            }
            anyAlarm = anyAlarm || r.inAlarm;
            needed += kDataRowTwips;
        }
        m_model->setRows(rows);
        applyColumnWidths();

        if (minimized) {
            // Sized when the window comes back; until then every row stays reachable.
            setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        } else if (maximized) {
            // The rows that do not fit the window scroll.
            const GridSize g = SizeGridWithin(needed, columnsWidthTwips(),
                                              m_host->monitorInnerHeightTwips() - y() * TwipsPerPixelY()
                                                  - kGridBottomMarginTwips,
                                              TwipsPerPixelY());
            setVerticalScrollBarPolicy(g.verticalScrollBar ? Qt::ScrollBarAsNeeded
                                                           : Qt::ScrollBarAlwaysOff);
            setGridSize(g.gridWidth, g.gridHeight);
        } else {
            const GridSize g = SizeGrid(needed, columnsWidthTwips(), m_host->mainInnerHeightTwips(),
                                        TwipsPerPixelY());
            setVerticalScrollBarPolicy(g.verticalScrollBar ? Qt::ScrollBarAsNeeded
                                                           : Qt::ScrollBarAlwaysOff);
            setGridSize(g.gridWidth, g.gridHeight);
            windowHeight = g.windowHeight;
        }
        SelectSensorRow();
    }

    if (minimized || maximized)
        m_host->fitMonitor(std::nullopt, std::nullopt);
    else
        m_host->fitMonitor(m_gridWidthTwips + kWindowExtraWidthTwips, windowHeight);

    if (anyAlarm && (!m_host->programInFront() || m_host->windowsMinimized()))
        m_host->flashAndBeep();
}

void FlexGrid::SelectSensorRow()
{
    const int rows = m_model->rowCount();
    if (rows < 1 || !m_host || !m_host->programInFront())
        return;
    const int row = (m_selectedRow < 1 || m_selectedRow > rows) ? 1 : m_selectedRow;
    const QModelIndex at = m_model->index(row - 1, 0);
    selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (m_sortChanged) {
        // The picked sensor moved with the new order: bring it into view.
        scrollTo(at);
        m_sortChanged = false;
    }
}

void FlexGrid::headerPressed(int column)
{
    if (column == ColSensor && m_sortByLocation)
        m_sortByLocation = false;
    else if (column == ColLocation && !m_sortByLocation)
        m_sortByLocation = true;
    else
        return;
    m_model->setSortColumn(m_sortByLocation ? ColLocation : ColSensor);
    m_sortChanged = true;
    BuildFgrid();
}

void FlexGrid::mousePressEvent(QMouseEvent *event)
{
    program().selectedSensor.clear();
    setFocus(Qt::MouseFocusReason);
    event->accept();

    const int rows = m_model->rowCount();
    const int at = rowAt(event->position().toPoint().y());
    // A press below the last row picks the last row.
    m_selectedRow = (at < 0 ? rows - 1 : at) + 1;
    if (m_selectedRow > rows)
        m_selectedRow = rows;
    if (m_selectedRow >= 1) {
        const QString id = m_model->row(m_selectedRow - 1).cells[ColSensor];
        if (isSensorId(id)) {
            program().selectedSensor = id;
            m_gridSensor = id;
        }
    }
    SelectSensorRow();
}

void FlexGrid::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    released(event->button(), event->globalPosition().toPoint());
}

void FlexGrid::mouseMoveEvent(QMouseEvent *event)
{
    // Rows are picked by a press only; dragging does not extend the selection.
    event->accept();
}

void FlexGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_host)
        return;
    // Repeats the view last opened from the context menu.
    switch (program().lastViewChoice) {
    case 1:
        if (m_host->sensorOptionsEnabled())
            m_host->openView(1);
        break;
    case 2:
        m_host->openView(2);
        break;
    default:
        m_host->openView(0);
        break;
    }
}

void FlexGrid::released(Qt::MouseButton button, const QPoint &globalPos)
{
    if (button == Qt::RightButton && program().selectedSensor.size() >= 16 && m_host)
        m_host->showContextMenu(globalPos);
}

bool FlexGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != horizontalHeader()->viewport())
        return QTableView::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *e = static_cast<QMouseEvent *>(event);
        program().selectedSensor.clear();
        headerPressed(horizontalHeader()->logicalIndexAt(e->position().toPoint()));
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *e = static_cast<QMouseEvent *>(event);
        released(e->button(), e->globalPosition().toPoint());
        return true;
    }
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        // A double-click on a header picks no sensor, so it opens no view.
        return true;
    default:
        return QTableView::eventFilter(watched, event);
    }
}

} // namespace clarow
