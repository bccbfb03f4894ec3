#include "views/ui/LogFrm.h"

#include "link/Clock.h"
#include "shell/Program.h"
#include "shell/Prompter.h"
#include "views/LogExport.h"
#include "views/LogGrid.h"
#include "views/ui/FullGraph.h"
#include "views/ui/LogGridModel.h"
#include "views/ui/ViewWindows.h"

#include <QApplication>
#include <QDateTimeEdit>
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
#include <QVBoxLayout>

namespace clarow {

namespace {

constexpr int kWidthTwips = 8285;
constexpr int kHeightTwips = 7300;

template <class W>
W *named(W *w, const char *name)
{
    w->setObjectName(QLatin1String(name));
    return w;
}

QLineEdit *readOnlyBox(const char *name, const QString &accessible)
{
    auto *b = named(new QLineEdit, name);
    b->setReadOnly(true);
    b->setAccessibleName(accessible);
    return b;
}

void setBackground(QLineEdit *box, QRgb rgb)
{
    QPalette p = box->palette();
    p.setColor(QPalette::Base, QColor(rgb));
    box->setPalette(p);
}

// The user's documents folder, or empty text when the system does not name one.
QString DocumentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

} // namespace

LogFrm::LogFrm(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LogFrm"));
    setWindowTitle(QStringLiteral("Log"));

    auto *top = new QVBoxLayout(this);

    auto *ids = new QFormLayout;
    sIDbx = readOnlyBox("sIDbx", QStringLiteral("Sensor ID"));
    sLocBx = readOnlyBox("sLocBx", QStringLiteral("Location"));
    auto *label1 = named(new QLabel(QStringLiteral("Sensor ID")), "Label1");
    auto *label2 = named(new QLabel(QStringLiteral("Location")), "Label2");
    label1->setBuddy(sIDbx);
    label2->setBuddy(sLocBx);
    ids->addRow(label1, sIDbx);
    ids->addRow(label2, sLocBx);
    top->addLayout(ids);

    auto *limits = new QGridLayout;
    limits->addWidget(named(new QLabel(QStringLiteral("Alarm limits")), "DefaultAlarmLabel"), 0, 0);
    limits->addWidget(named(new QLabel(QStringLiteral("Low")), "LoLabel"), 0, 1, Qt::AlignCenter);
    limits->addWidget(named(new QLabel(QStringLiteral("High")), "HiLabel"), 0, 2, Qt::AlignCenter);
    auto *tLabel = named(new QLabel(QStringLiteral("Temperature")), "Tlabel");
    Llow = readOnlyBox("Llow", QStringLiteral("Temperature Low"));
    Lhigh = readOnlyBox("Lhigh", QStringLiteral("Temperature High"));
    tLabel->setBuddy(Llow);
    hLabel = named(new QLabel(QStringLiteral("Humidity")), "hLabel");
    Hlow = readOnlyBox("Hlow", QStringLiteral("Second channel Low"));
    Hhigh = readOnlyBox("Hhigh", QStringLiteral("Second channel High"));
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
        auto *p = named(new QDateTimeEdit, name);
        p->setCalendarPopup(true);
        p->setDisplayFormat(QStringLiteral("dd MMM yyyy  HH:mm:ss"));
        p->setMinimumDateTime(ZeroDate());
        p->setAccessibleName(caption);
        return p;
    };
    StartDt = picker("StartDt", QStringLiteral("Start date"));
    EndDt = picker("EndDt", QStringLiteral("End date"));
    auto *startLbl = named(new QLabel(QStringLiteral("Start date")), "DataLbl");
    auto *endLbl = named(new QLabel(QStringLiteral("End date")), "DataLbl");
    startLbl->setBuddy(StartDt);
    endLbl->setBuddy(EndDt);
    dates->addRow(startLbl, StartDt);
    dates->addRow(endLbl, EndDt);
    range->addLayout(dates);
    auto *order = named(new QGroupBox(QStringLiteral("Order")), "Frame1");
    auto *orderLayout = new QVBoxLayout(order);
    OptAsc = named(new QRadioButton(QStringLiteral("Ascending")), "OptAsc");
    OptDesc = named(new QRadioButton(QStringLiteral("Descending")), "OptDesc");
    OptAsc->setAccessibleName(OptAsc->text());
    OptDesc->setAccessibleName(OptDesc->text());
    orderLayout->addWidget(OptAsc);
    orderLayout->addWidget(OptDesc);
    range->addWidget(order);
    top->addLayout(range);

    auto *buttons = new QHBoxLayout;
    auto button = [buttons, this](const char *name, const QString &caption, void (LogFrm::*slot)()) {
        auto *b = named(new QPushButton(caption), name);
        buttons->addWidget(b);
        connect(b, &QPushButton::clicked, this, slot);
    };
    button("RefreshBtn", QStringLiteral("Load data"), &LogFrm::RefreshBtn_Click);
    button("GraphBtn", QStringLiteral("Graph"), &LogFrm::GraphBtn_Click);
    button("ExportBtn", QStringLiteral("Export"), &LogFrm::ExportBtn_Click);
    button("CloseBtn", QStringLiteral("Close"), &LogFrm::CloseBtn_Click);
    top->addLayout(buttons);

    // The order takes effect at the next load.
    connect(OptAsc, &QRadioButton::clicked, this, [this] { viewFlags().DescOrder = !OptAsc->isChecked(); });
    connect(OptDesc, &QRadioButton::clicked, this, [this] { viewFlags().DescOrder = OptDesc->isChecked(); });

    MSFlexGrid1 = named(new QTableView, "MSFlexGrid1");
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
    // The window only grows in height.
    f->setMinimumHeight(height);
    // The grid takes whatever height the window gains (the layout gives it the stretch).
    f->setFixedWidth(width);
    f->resize(width, height);
}

void LogFrm::LoadLog(const QDateTime &from, const QDateTime &to)
{
    BusyPointer busy;
    const QString sensor = program().selectedSensor;
    const LoadResult r = LoadLogData(logData(), sensor, from, to);
    m_kind = r.kind;
    if (r.outcome == LoadOutcome::Failed)
        return;
    if (r.outcome == LoadOutcome::Empty) {
        busy.release();
        MsgBox(QStringLiteral("No records to display."), QStringLiteral("No data"));
        return;
    }
    // The pickers show the span actually found.
    StartDt->setDateTime(QDateTime(r.first.date(), QTime(0, 0)));
    EndDt->setDateTime(QDateTime(r.last.date(), QTime(23, 59, 59)));
    fillFields();
    busy.release();
    if (!ConfirmGridFill(logData().RecCount))
        return;
    BusyPointer filling;
    fillGrid();
}

void LogFrm::fillFields()
{
    const LogData &d = logData();
    sIDbx->setText(program().selectedSensor);
    sLocBx->setText(d.Location);
    Llow->setText(PlainNumber(d.TempLo));
    Lhigh->setText(PlainNumber(d.TempHi));
    if (m_kind.hasCh2) {
        setBackground(Hlow, 0xFFFFFF);
        setBackground(Hhigh, 0xFFFFFF);
        Hlow->setText(PlainNumber(d.Ch2Lo));
        Hhigh->setText(PlainNumber(d.Ch2Hi));
        hLabel->setText(Ch2Name(m_kind.type));
    } else {
        Hlow->clear();
        Hhigh->clear();
        setBackground(Hlow, 0xC0C0C0);
        setBackground(Hhigh, 0xC0C0C0);
    }
}

void LogFrm::fillGrid()
{
    const Settings &s = program().settings;
    MSFlexGrid1->show();
    m_model->fill(logData(), m_kind, viewFlags().DescOrder, s.CorF, s.DateFormat, s.TimeFormat);
    const LogGridLayout layout = GridLayoutFor(m_kind);
    int width = 0;
    for (int c = 0; c < static_cast<int>(layout.columnTwips.size()); ++c) {
        const int px = TwipsToPixelsX(layout.columnTwips[static_cast<size_t>(c)]);
        MSFlexGrid1->setColumnHidden(c, px == 0);
        MSFlexGrid1->setColumnWidth(c, px);
        width += px;
    }
    // Room for the vertical scroll bar and the frame.
    MSFlexGrid1->setFixedWidth(width + 19 + 2 * MSFlexGrid1->frameWidth());
    if (QLayoutItem *edge = m_gridRow->itemAt(0); edge && edge->spacerItem()) {
        const int margin = this->layout()->contentsMargins().left();
        edge->spacerItem()->changeSize(std::max(0, TwipsToPixelsX(layout.leftTwips) - margin), 0);
        m_gridRow->invalidate();
    }
}

void LogFrm::RefreshBtn_Click() { LoadLog(StartDt->dateTime(), EndDt->dateTime()); }

void LogFrm::GraphBtn_Click()
{
    LoadLog(StartDt->dateTime(), EndDt->dateTime());
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
    Cdlg1 = named(new QFileDialog(this), "Cdlg1");
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
    const QString folder = DocumentsFolder();
    if (!folder.isEmpty())
        Cdlg1->setDirectory(folder);
    Cdlg1->selectFile(ProposedExportName(program().selectedSensor, Now().date(), s.DateFormat));
    connect(Cdlg1, &QFileDialog::fileSelected, this,
            [this](const QString &path) { writeExport(path, Cdlg1->selectedNameFilter()); });
    Cdlg1->open();
}

void LogFrm::writeExport(const QString &path, const QString &filter)
{
    const Settings &s = program().settings;
    ExportHeader h;
    h.locationName = s.LocationName;
    h.sensorId = program().selectedSensor;
    h.scale = s.CorF;
    h.dateFormat = s.DateFormat;
    h.timeFormat = s.TimeFormat;
    h.today = Now().date();
    h.kind = m_kind;
    if (WriteExport(path, logData(), h, ExportSeparator(filter)))
        QApplication::beep();
}

} // namespace clarow
