#include "views/ui/SensorOptions.h"

#include "core/DiagnosticLog.h"
#include "core/Errors.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "core/Settings.h"
#include "core/ui/Fields.h"
#include "views/SensorEdit.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace clarow {

namespace {

constexpr int kShortestId = 16;

} // namespace

SensorOptions::SensorOptions(QWidget *parent) : QWidget(parent), m_sensorId(program().selectedSensor)
{
    setObjectName(QStringLiteral("SensorOptions"));
    setWindowTitle(QStringLiteral("Sensor Options"));

    SerNoBx = NewResultBox(this, "SerNoBx", QStringLiteral("Serial number"));
    SerNoLabel = CaptionFor(QStringLiteral("Serial number"), SerNoBx, "SerNoLabel");
    SensorLoc = NewEdit(this, "SensorLoc", QStringLiteral("Sensor location"));
    SensorLocLabel = CaptionFor(QStringLiteral("Sensor location"), SensorLoc, "SensorLocLabel");

    AlarmLabel = NewLabel(this, "AlarmLabel", QStringLiteral("Alarm limits"));
    LoLabel = NewLabel(this, "LoLabel", QStringLiteral("Low"));
    HiLabel = NewLabel(this, "HiLabel", QStringLiteral("High"));
    Tlabel = NewLabel(this, "Tlabel", QStringLiteral("Temperature"));
    Llow = NewEdit(this, "Llow", QStringLiteral("Temperature, low"));
    Lhigh = NewEdit(this, "Lhigh", QStringLiteral("Temperature, high"));
    Tlabel->setBuddy(Llow);
    hLabel = NewLabel(this, "hLabel", QStringLiteral("Humidity"));
    Hlow = NewEdit(this, "Hlow", QString());
    Hhigh = NewEdit(this, "Hhigh", QString());
    hLabel->setBuddy(Hlow);

    auto [water, waterRow] = NewGroup<QHBoxLayout>(this, QStringLiteral("Water alarm behaviour"));
    WaterAfrm = Named(water, "WaterAfrm");
    const QString waterCaptions[2] = {QStringLiteral("Alarm if wet"), QStringLiteral("Alarm if dry")};
    for (int i = 0; i < 2; ++i) {
        WaterA[i] = NewOption(WaterAfrm, "WaterA", waterCaptions[i]);
        WaterA[i]->setProperty("index", i);
        waterRow->addWidget(WaterA[i]);
    }

    ApplyBtn = NewButton(this, "ApplyBtn", QStringLiteral("Apply"));
    ExitBtn = NewButton(this, "ExitBtn", QStringLiteral("OK"));
    CancelBtn = NewButton(this, "CancelBtn", QStringLiteral("Cancel"));
    DelBtn = NewButton(this, "DelBtn", QStringLiteral("Delete Sensor"));
    connect(ApplyBtn, &QPushButton::clicked, this, &SensorOptions::ApplyBtn_Click);
    connect(ExitBtn, &QPushButton::clicked, this, &SensorOptions::ExitBtn_Click);
    connect(CancelBtn, &QPushButton::clicked, this, &SensorOptions::CancelBtn_Click);
    connect(DelBtn, &QPushButton::clicked, this, &SensorOptions::DelBtn_Click);

    auto *form = new QFormLayout;
    form->addRow(SerNoLabel, SerNoBx);
    form->addRow(SensorLocLabel, SensorLoc);
    auto *limits = new QGridLayout;
    limits->addWidget(AlarmLabel, 0, 0);
    limits->addWidget(LoLabel, 0, 1);
    limits->addWidget(HiLabel, 0, 2);
    limits->addWidget(Tlabel, 1, 0);
    limits->addWidget(Llow, 1, 1);
    limits->addWidget(Lhigh, 1, 2);
    limits->addWidget(hLabel, 2, 0);
    limits->addWidget(Hlow, 2, 1);
    limits->addWidget(Hhigh, 2, 2);
    QHBoxLayout *buttons = ButtonRow({ApplyBtn, ExitBtn, CancelBtn}, {DelBtn});
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(limits);
    layout->addWidget(WaterAfrm);
    layout->addStretch();
    layout->addLayout(buttons);

    Form_Load();
}

void SensorOptions::Form_Load()
{
    if (m_sensorId.size() < kShortestId) {
        MsgBox(QStringLiteral("Unable to load sensor details"), QStringLiteral("No sensor"));
        QTimer::singleShot(0, this, &SensorOptions::closeWindow);
        return;
    }
    const SensorKind kind = KindOf(m_sensorId);
    m_hasCh2 = kind.hasCh2;
    m_hasWater = kind.hasWater;
    if (m_hasCh2)
        hLabel->setText(QLatin1String(kind.caption));
    Hlow->setAccessibleName(hLabel->text() + QStringLiteral(", low"));
    Hhigh->setAccessibleName(hLabel->text() + QStringLiteral(", high"));

    // A table that cannot be read or holds no such row leaves the fields empty; saving and
    // deleting then find no row either.
    std::optional<SensorValues> row;
    try {
        row = LoadSensor(m_sensorId);
    } catch (const std::exception &) {
    }
    SerNoBx->setText(m_sensorId);
    if (row) {
        SensorLoc->setText(row->location);
        Llow->setText(row->tempLo);
        Lhigh->setText(row->tempHi);
    }
    SetEditable(Hlow, m_hasCh2);
    SetEditable(Hhigh, m_hasCh2);
    if (m_hasCh2 && row) {
        Hlow->setText(row->ch2Lo);
        Hhigh->setText(row->ch2Hi);
    }
    const bool waterChoice = m_hasWater && program().settings.SendMailWtr;
    WaterAfrm->setEnabled(waterChoice);
    if (waterChoice) {
        const bool dry = row && row->aWtDr == 2;
        WaterA[dry ? 1 : 0]->setChecked(true);
    }
}

bool SensorOptions::SaveSensor()
{
    SensorEdits e;
    e.location = SensorLoc->text();
    e.tempLo = Llow->text();
    e.tempHi = Lhigh->text();
    e.ch2Lo = Hlow->text();
    e.ch2Hi = Hhigh->text();
    if (WaterAfrm->isEnabled())
        e.alarmIfDry = WaterA[1]->isChecked();
    m_busy = true;
    QString failure;
    const bool saved = clarow::SaveSensor(m_sensorId, e, &failure);
    m_busy = false;
    if (!saved && program().settings.LogErrors)
        WriteLog(QStringLiteral("Error saving sensor options for ") + m_sensorId + QStringLiteral(": ") + failure);
    return saved;
}

bool SensorOptions::saveOrSay()
{
    QPointer<SensorOptions> self(this);
    const bool saved = SaveSensor();
    // The typed values stay on screen, so the operator can mend them and try again.
    if (!saved && self)
        MsgBox(QStringLiteral("The change for this sensor was not successful"), QStringLiteral("Change failed"));
    return saved;
}

void SensorOptions::ApplyBtn_Click()
{
    if (m_busy)
        return;
    QPointer<SensorOptions> self(this);
    saveOrSay();
    if (self && m_closeAfter)
        closeWindow();
}

void SensorOptions::ExitBtn_Click()
{
    if (m_busy)
        return;
    QPointer<SensorOptions> self(this);
    // A failed save keeps the window open: closing would lose the edit without a trace.
    const bool saved = saveOrSay();
    if (self && (saved || m_closeAfter))
        closeWindow();
}

void SensorOptions::CancelBtn_Click() { closeWindow(); }

void SensorOptions::DelBtn_Click()
{
    if (m_busy)
        return;
    if (MsgBox(QStringLiteral("Do you really want to delete this sensor\rfrom the system?"), QStringLiteral("Delete"),
               Buttons::YesNo)
        != Answer::Yes)
        return;
    try {
        DeleteSensor(m_sensorId);
    } catch (const ClarowError &e) {
        ShowError(e.number(), e.description());
    }
    rebuildGrid();
    closeWindow();
}

void SensorOptions::rebuildGrid()
{
    if (m_rebuildGrid)
        m_rebuildGrid();
}

void SensorOptions::closeWindow() { CloseWindow(this); }

void SensorOptions::closeEvent(QCloseEvent *event)
{
    // A save between its attempts: the window goes once the save has its answer.
    if (m_busy) {
        m_closeAfter = true;
        event->ignore();
        return;
    }
    event->accept();
    rebuildGrid();
}

} // namespace clarow
