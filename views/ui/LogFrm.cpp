#include "views/ui/LogFrm.h"

#include "core/Program.h"
#include "core/Prompter.h"
#include "core/ui/Fields.h"
#include "link/Clock.h"
#include "views/LogExport.h"
#include "views/LogGrid.h"
#include "views/ui/FullGraph.h"
#include "views/ui/LogGridModel.h"
#include "views/ui/ViewWindows.h"

#include <QApplication>
#include <QDateTimeEdit>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace clarow {

namespace {

constexpr int kWidthTwips = 8285;
constexpr int kHeightTwips = 7300;

// The user's documents folder, or empty text when the system does not name one.
QString DocumentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

// The folder of the last export of this run; empty until the first one.
QString &LastExportFolder()
{
    static QString folder;
    return folder;
}

// Where the save dialog opens: the folder of the last export, else the documents folder, else
// the home folder (a desktop without a documents folder).
QString ExportFolder()
{
    for (const QString &folder : {LastExportFolder(), DocumentsFolder()}) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::homePath();
}

} // namespace

LogFrm::LogFrm(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LogFrm"));
    setWindowTitle(QStringLiteral("Log"));

    auto *top = new QVBoxLayout(this);

    auto *ids = new QFormLayout;
    sIDbx = NewResultBox(nullptr, "sIDbx", QStringLiteral("Sensor ID"));
    sLocBx = NewResultBox(nullptr, "sLocBx", QStringLiteral("Location"));
    auto *label1 = CaptionFor(QStringLiteral("Sensor ID"), sIDbx, "Label1");
    auto *label2 = CaptionFor(QStringLiteral("Location"), sLocBx, "Label2");
    ids->addRow(label1, sIDbx);
    ids->addRow(label2, sLocBx);
    top->addLayout(ids);

    auto *limits = new QGridLayout;
    limits->addWidget(NewLabel(nullptr, "DefaultAlarmLabel", QStringLiteral("Alarm limits")), 0, 0);
    limits->addWidget(NewLabel(nullptr, "LoLabel", QStringLiteral("Low")), 0, 1, Qt::AlignCenter);
    limits->addWidget(NewLabel(nullptr, "HiLabel", QStringLiteral("High")), 0, 2, Qt::AlignCenter);
    auto *tLabel = NewLabel(nullptr, "Tlabel", QStringLiteral("Temperature"));
    Llow = NewResultBox(nullptr, "Llow", QStringLiteral("Temperature Low"));
    Lhigh = NewResultBox(nullptr, "Lhigh", QStringLiteral("Temperature High"));
    tLabel->setBuddy(Llow);
    hLabel = NewLabel(nullptr, "hLabel", QStringLiteral("Humidity"));
    Hlow = NewResultBox(nullptr, "Hlow", QStringLiteral("Second channel Low"));
    Hhigh = NewResultBox(nullptr, "Hhigh", QStringLiteral("Second channel High"));
    hLabel->setBuddy(Hlow);
    limits->addWidget(tLabel, 1, 0);
    limits->addWidget(Llow, 1, 1);
    limits->addWidget(Lhigh, 1, 2);
    limits->addWidget(hLabel, 2, 0);
    limits->addWidget(Hlow, 2, 1);
    limits->addWidget(Hhigh, 2, 2);
    top->addLayout(limits);

    auto *range = new QHBoxLayout;
    auto *dates = new QFormLayout;
    auto picker = [](const char *name, const QString &caption) {
        auto *p = Named(new QDateTimeEdit, name);
        p->setCalendarPopup(true);
        p->setDisplayFormat(QStringLiteral("dd MMM yyyy  HH:mm:ss"));
        p->setMinimumDateTime(ZeroDate());
        p->setAccessibleName(caption);
        return p;
    };
    StartDt = picker("StartDt", QStringLiteral("Start date"));
    EndDt = picker("EndDt", QStringLiteral("End date"));
    auto *startLbl = CaptionFor(QStringLiteral("Start date"), StartDt, "DataLbl");
    auto *endLbl = CaptionFor(QStringLiteral("End date"), EndDt, "DataLbl");
    dates->addRow(startLbl, StartDt);
    dates->addRow(endLbl, EndDt);
    range->addLayout(dates);
    auto [order, orderLayout] = NewGroup<QVBoxLayout>(nullptr, QStringLiteral("Order"));
    Named(order, "Frame1");
    OptAsc = NewOption(nullptr, "OptAsc", QStringLiteral("Ascending"));
    OptDesc = NewOption(nullptr, "OptDesc", QStringLiteral("Descending"));
    OptAsc->setAccessibleName(OptAsc->text());
    OptDesc->setAccessibleName(OptDesc->text());
    orderLayout->addWidget(OptAsc);
    orderLayout->addWidget(OptDesc);
    range->addWidget(order);
    top->addLayout(range);

    auto *buttons = new QHBoxLayout;
    auto button = [buttons, this](const char *name, const QString &caption, void (LogFrm::*slot)()) {
        QPushButton *b = NewButton(nullptr, name, caption);
        buttons->addWidget(b);
        connect(b, &QPushButton::clicked, this, slot);
    };
    button("RefreshBtn", QStringLiteral("Load data"), &LogFrm::RefreshBtn_Click);
    button("GraphBtn", QStringLiteral("Graph"), &LogFrm::GraphBtn_Click);
    button("ExportBtn", QStringLiteral("Export"), &LogFrm::ExportBtn_Click);
    button("CloseBtn", QStringLiteral("Close"), &LogFrm::CloseBtn_Click);
    top->addLayout(buttons);

    // The order takes effect at the next load. Any change of the buttons counts: a click, the
    // keyboard, or the toggle action of assistive technology.
    connect(OptAsc, &QRadioButton::toggled, this, [this] { viewFlags().DescOrder = !OptAsc->isChecked(); });
    connect(OptDesc, &QRadioButton::toggled, this, [this] { viewFlags().DescOrder = OptDesc->isChecked(); });

    MSFlexGrid1 = Named(new QTableView, "MSFlexGrid1");
    MSFlexGrid1->setAccessibleName(QStringLiteral("Readings"));
    m_model = new LogGridModel(this);
    MSFlexGrid1->setModel(m_model);
    MSFlexGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MSFlexGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    MSFlexGrid1->verticalHeader()->hide();
    // Fixed row heights: the view never measures 65,000 rows.
    MSFlexGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    MSFlexGrid1->verticalHeader()->setDefaultSectionSize(TwipsToPixelsY(kLogRowTwips));
    MSFlexGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    MSFlexGrid1->horizontalHeader()->setFixedHeight(TwipsToPixelsY(kLogHeaderTwips));
    MSFlexGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MSFlexGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MSFlexGrid1->hide();
    m_gridRow = new QHBoxLayout;
    m_gridRow->setContentsMargins(0, 0, 0, 0);
    m_gridRow->addSpacing(0);
    m_gridRow->addWidget(MSFlexGrid1);
    m_gridRow->addStretch(1);
    top->addLayout(m_gridRow, 1);
}

LogFrm::~LogFrm() = default;

QWidget *LogFrm::frame() { return FrameOf(this); }

void LogFrm::Form_Load()
{
    OptAsc->setChecked(!viewFlags().DescOrder);
    OptDesc->setChecked(viewFlags().DescOrder);
    LoadLog(ZeroDate(), Now());
    QWidget *f = frame();
    const int width = std::max(TwipsToPixelsX(kWidthTwips), f->minimumSizeHint().width());
    const int height = std::max(TwipsToPixelsY(kHeightTwips), f->minimumSizeHint().height());
    // The window only grows in height; the grid takes whatever height it gains (the layout
    // gives it the stretch). Its width stays while it is in its normal state, and a maximized
    // window takes the whole workspace, the grid its width (see eventFilter).
    m_normalWidth = width;
    f->setMinimumHeight(height);
    f->setMinimumWidth(width);
    f->setMaximumWidth(width);
    f->resize(width, height);
    f->installEventFilter(this);
}

bool LogFrm::eventFilter(QObject *watched, QEvent *event)
{
    QWidget *f = frame();
    if (watched == f && event->type() == QEvent::WindowStateChange) {
        // Seen before the frame acts on its new state: a maximized window may take any width;
        // back in its normal state it has its one width again once it has restored its place.
        if (f->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
            f->setMaximumWidth(QWIDGETSIZE_MAX);
        } else {
            QTimer::singleShot(0, this, [this] {
                QWidget *frame = this->frame();
                if (!(frame->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
                    frame->setMaximumWidth(m_normalWidth);
                fitGridToFrame();
            });
        }
    }
    if (watched == f && (event->type() == QEvent::Resize || event->type() == QEvent::WindowStateChange))
        fitGridToFrame();
    return QWidget::eventFilter(watched, event);
}

void LogFrm::fitGridToFrame()
{
    if (m_gridWidth == 0)
        return;
    const bool maximized = frame()->isMaximized() || frame()->isFullScreen();
    QHeaderView *header = MSFlexGrid1->horizontalHeader();
    if (maximized) {
        // The columns share the room in the proportions of their normal widths.
        MSFlexGrid1->setMinimumWidth(m_gridWidth);
        MSFlexGrid1->setMaximumWidth(QWIDGETSIZE_MAX);
        header->setSectionResizeMode(QHeaderView::Stretch);
        m_gridRow->setStretch(m_gridRow->indexOf(MSFlexGrid1), 1);
        m_gridRow->setStretch(m_gridRow->count() - 1, 0);
    } else {
        header->setSectionResizeMode(QHeaderView::Fixed);
        m_gridRow->setStretch(m_gridRow->indexOf(MSFlexGrid1), 0);
        m_gridRow->setStretch(m_gridRow->count() - 1, 1);
        MSFlexGrid1->setFixedWidth(m_gridWidth);
        const LogGridLayout layout = GridLayoutFor(m_kind);
        for (int c = 0; c < static_cast<int>(layout.columnTwips.size()); ++c)
            MSFlexGrid1->setColumnWidth(c, TwipsToPixelsX(layout.columnTwips[static_cast<size_t>(c)]));
    }
}

LoadOutcome LogFrm::LoadLog(const QDateTime &from, const QDateTime &to)
{
    BusyPointer busy;
    const QString sensor = program().selectedSensor;
    const LoadResult r = LoadLogData(logData(), sensor, from, to);
    if (r.outcome == LoadOutcome::Failed) {
        busy.release();
        ReportLoadFailure(sensor, r);
        return r.outcome;
    }
    if (r.outcome == LoadOutcome::Empty) {
        busy.release();
        MsgBox(QStringLiteral("No records to display."), QStringLiteral("No data"));
        return r.outcome;
    }
    busy.release();
    // A load the user declines to show leaves the whole window as it was, so that the
    // fields, the grid and the export always belong to one sensor and one range.
    if (!ConfirmGridFill(logData().RecCount))
        return r.outcome;
    BusyPointer filling;
    m_shown = logData();
    m_kind = r.kind;
    // The pickers show the span actually found, from the first moment of its first day (on a
    // day whose midnight the clock skips, the first hour after it) to its last second.
    StartDt->setDateTime(r.first.date().startOfDay());
    EndDt->setDateTime(QDateTime(r.last.date(), QTime(23, 59, 59)));
    fillFields();
    fillGrid();
    return r.outcome;
}

void LogFrm::fillFields()
{
    const LogData &d = m_shown;
    sIDbx->setText(d.SensorId);
    sLocBx->setText(d.Location);
    Llow->setText(PlainNumber(d.TempLo));
    Lhigh->setText(PlainNumber(d.TempHi));
    if (m_kind.hasCh2) {
        SetBackground(Hlow, Qt::white);
        SetBackground(Hhigh, Qt::white);
        Hlow->setText(PlainNumber(d.Ch2Lo));
        Hhigh->setText(PlainNumber(d.Ch2Hi));
        hLabel->setText(QLatin1String(m_kind.channel2));
    } else {
        Hlow->clear();
        Hhigh->clear();
        SetBackground(Hlow, Qt::lightGray);
        SetBackground(Hhigh, Qt::lightGray);
    }
}

void LogFrm::fillGrid()
{
    const Settings &s = program().settings;
    MSFlexGrid1->show();
    m_model->fill(m_shown, m_kind, viewFlags().DescOrder, s.CorF, s.DateFormat, s.TimeFormat);
    const LogGridLayout layout = GridLayoutFor(m_kind);
    int width = 0;
    for (int c = 0; c < static_cast<int>(layout.columnTwips.size()); ++c) {
        const int px = TwipsToPixelsX(layout.columnTwips[static_cast<size_t>(c)]);
        MSFlexGrid1->setColumnHidden(c, px == 0);
        MSFlexGrid1->setColumnWidth(c, px);
        width += px;
    }
    // Room for the vertical scroll bar and the frame.
    m_gridWidth = width + 19 + 2 * MSFlexGrid1->frameWidth();
    MSFlexGrid1->setFixedWidth(m_gridWidth);
    fitGridToFrame();
    if (QLayoutItem *edge = m_gridRow->itemAt(0); edge && edge->spacerItem()) {
        const int margin = this->layout()->contentsMargins().left();
        edge->spacerItem()->changeSize(std::max(0, TwipsToPixelsX(layout.leftTwips) - margin), 0);
        m_gridRow->invalidate();
    }
}

void LogFrm::RefreshBtn_Click() { LoadLog(StartDt->dateTime(), EndDt->dateTime()); }

void LogFrm::GraphBtn_Click()
{
    if (LoadLog(StartDt->dateTime(), EndDt->dateTime()) == LoadOutcome::Failed)
        return;
    const int count = logData().RecCount;
    if (count == 0) {
        MsgBox(QStringLiteral("Please select the data range and load data to display the graph"),
               QStringLiteral("No data loaded"));
    } else if (count <= 3) {
        MsgBox(QStringLiteral("There is not sufficient data to display the graph."),
               QStringLiteral("Not enough data"));
    } else {
        GraphWindow(AreaOf(this))->LoadGraph();
    }
}

void LogFrm::CloseBtn_Click() { frame()->close(); }

void LogFrm::ExportBtn_Click()
{
    const Settings &s = program().settings;
    delete Cdlg1;
    Cdlg1 = Named(new QFileDialog(this), "Cdlg1");
    Cdlg1->setWindowTitle(QStringLiteral("Save Log"));
    Cdlg1->setAcceptMode(QFileDialog::AcceptSave);
    Cdlg1->setFileMode(QFileDialog::AnyFile);
    Cdlg1->setNameFilters(ExportFilters());
    Cdlg1->selectNameFilter(ExportFilters().constFirst());
    // A name typed without an extension gets the one of the file type chosen.
    Cdlg1->setDefaultSuffix(QStringLiteral("csv"));
    connect(Cdlg1, &QFileDialog::filterSelected, Cdlg1, [this](const QString &filter) {
        Cdlg1->setDefaultSuffix(ExportSeparator(filter) == QLatin1Char(',') ? QStringLiteral("csv")
                                                                            : QStringLiteral("txt"));
    });
    Cdlg1->setDirectory(ExportFolder());
    Cdlg1->selectFile(ProposedExportName(m_shown.SensorId, Now().date(), s.DateFormat));
    connect(Cdlg1, &QFileDialog::fileSelected, this,
            [this](const QString &path) { writeExport(path, Cdlg1->selectedNameFilter()); });
    Cdlg1->open();
}

void LogFrm::writeExport(const QString &path, const QString &filter)
{
    const Settings &s = program().settings;
    ExportHeader h;
    h.locationName = s.LocationName;
    h.sensorId = m_shown.SensorId;
    h.scale = s.CorF;
    h.dateFormat = s.DateFormat;
    h.timeFormat = s.TimeFormat;
    h.today = Now().date();
    h.kind = m_kind;
    LastExportFolder() = QFileInfo(path).absolutePath();
    QString reason;
    if (!WriteExport(path, m_shown, h, ExportSeparator(filter), &reason)) {
        ReportExportFailure(path, reason);
        return;
    }
    QApplication::beep();
}

} // namespace clarow
