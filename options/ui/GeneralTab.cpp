#include "options/ui/GeneralTab.h"

#include "core/FindVarnex.h"
#include "core/PortLoan.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "core/Settings.h"
#include "core/ui/Fields.h"
#include "link/Clock.h"
#include "link/SerialPort.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <exception>

namespace clarow {

GeneralTab::GeneralTab(QWidget *parent) : OptionsTab(parent)
{
    setObjectName(QStringLiteral("GeneralTab"));
    CoName = bind(NewEdit(this, "CoName", QStringLiteral("Company or location")), &OptionsForm::CoName);
    DefaultLoc = bind(NewEdit(this, "DefaultLoc", QStringLiteral("Default sensor location")), &OptionsForm::DefaultLoc);

    auto [scale, scaleRow] = NewGroup<QHBoxLayout>(this, QStringLiteral("Temperature scale"));
    CelsiusOpt = NewOption(scale, "CelsiusOpt", QStringLiteral("Celsius"));
    FahrenheitOpt = NewOption(scale, "FahrenheitOpt", QStringLiteral("Fahrenheit"));
    scaleRow->addWidget(CelsiusOpt);
    scaleRow->addWidget(FahrenheitOpt);
    scaleRow->addStretch();

    auto [formats, fg] = NewGroup<QGridLayout>(this, QStringLiteral("Date and time formats"));
    auto *dateGroup = new QWidget(formats);
    ShortDopt = NewOption(dateGroup, "ShortDopt", QStringLiteral("Short Date"));
    CustDopt = NewOption(dateGroup, "CustDopt", QStringLiteral("Custom"));
    CustDformat = bind(NewEdit(formats, "CustDformat", QStringLiteral("Date Format")), &OptionsForm::CustDformat);
    auto *timeGroup = new QWidget(formats);
    ShortTopt = NewOption(timeGroup, "ShortTopt", QStringLiteral("Short Time"));
    CustTopt = NewOption(timeGroup, "CustTopt", QStringLiteral("Custom"));
    CustTformat = bind(NewEdit(formats, "CustTformat", QStringLiteral("Time Format")), &OptionsForm::CustTformat);
    auto *dateRow = new QHBoxLayout(dateGroup);
    dateRow->setContentsMargins(0, 0, 0, 0);
    dateRow->addWidget(ShortDopt);
    dateRow->addWidget(CustDopt);
    auto *timeRow = new QHBoxLayout(timeGroup);
    timeRow->setContentsMargins(0, 0, 0, 0);
    timeRow->addWidget(ShortTopt);
    timeRow->addWidget(CustTopt);
    fg->addWidget(CaptionFor(QStringLiteral("Date Format"), CustDformat), 0, 0);
    fg->addWidget(dateGroup, 0, 1);
    fg->addWidget(CustDformat, 0, 2);
    fg->addWidget(CaptionFor(QStringLiteral("Time Format"), CustTformat), 1, 0);
    fg->addWidget(timeGroup, 1, 1);
    fg->addWidget(CustTformat, 1, 2);
    TestDTbtn = NewButton(formats, "TestDTbtn", QStringLiteral("Test"));
    TestDTbtn->setAccessibleName(QStringLiteral("Test time and date formats"));
    TestDT = NewResultBox(formats, "TestDT", QStringLiteral("Test time and date formats"));
    fg->addWidget(CaptionFor(QStringLiteral("Test time and date formats"), TestDT), 2, 0);
    fg->addWidget(TestDTbtn, 2, 1);
    fg->addWidget(TestDT, 2, 2);
    connect(TestDTbtn, &QPushButton::clicked, this, &GeneralTab::TestDTbtn_Click);

    PortNoBx = bind(NewEdit(this, "PortNoBx", QStringLiteral("COM port number for Varnex")), &OptionsForm::PortNoBx);
    TestPbtn = NewButton(this, "TestPbtn", QStringLiteral("Test"));
    TestPbtn->setAccessibleName(QStringLiteral("Test the COM port"));
    VarnexFoundBx = NewResultBox(this, "VarnexFoundBx", QStringLiteral("Port test result"));
    connect(TestPbtn, &QPushButton::clicked, this, &GeneralTab::TestPbtn_Click);
    auto *portRow = new QHBoxLayout;
    AddNumberBox(portRow, PortNoBx, QString());
    portRow->addWidget(TestPbtn);
    portRow->addWidget(VarnexFoundBx);
    AutoScanChk = bind(NewCheck(this, "AutoScanChk", QStringLiteral("Automatically scan COM ports to find Varnex")),
                       &OptionsForm::AutoScanChk);

    auto *form = new QFormLayout;
    AddField(form, QStringLiteral("Company or location"), CoName);
    form->addRow(scale);
    form->addRow(formats);
    AddField(form, QStringLiteral("Default sensor location"), DefaultLoc);
    AddField(form, QStringLiteral("COM port number for Varnex"), PortNoBx, portRow);
    form->addRow(AutoScanChk);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();

    // Choices act on being toggled, not on a mouse click, so that a screen reader's toggle
    // or a key does the same as the mouse.
    for (QRadioButton *r : {CelsiusOpt, FahrenheitOpt, CustDopt, CustTopt, ShortDopt, ShortTopt})
        connect(r, &QRadioButton::toggled, this, &GeneralTab::choiceToggled);
    connect(ShortDopt, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            CustDformat->setText(QLatin1String(kShortDate));
    });
    connect(ShortTopt, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            CustTformat->setText(QLatin1String(kShortTime));
    });
}

void GeneralTab::load(const OptionsForm &f)
{
    OptionsTab::load(f);
    // A selected option button cannot be unselected, only its partner selected.
    (f.FahrenheitOpt ? FahrenheitOpt : CelsiusOpt)->setChecked(true);
    (f.ShortDopt ? ShortDopt : CustDopt)->setChecked(true);
    (f.ShortTopt ? ShortTopt : CustTopt)->setChecked(true);
    openCustomFormats();
}

void GeneralTab::store(OptionsForm &f) const
{
    OptionsTab::store(f);
    f.FahrenheitOpt = FahrenheitOpt->isChecked();
    f.ShortDopt = ShortDopt->isChecked();
    f.ShortTopt = ShortTopt->isChecked();
}

void GeneralTab::choiceToggled()
{
    openCustomFormats();
    Q_EMIT changed();
}

void GeneralTab::openCustomFormats()
{
    CustTformat->setEnabled(CustTopt->isChecked());
    CustDformat->setEnabled(CustDopt->isChecked());
}

void GeneralTab::TestPbtn_Click()
{
    TestPbtn->setEnabled(false);
    VarnexFoundBx->clear();
    const std::optional<int> number = PortToTest(PortNoBx->text());
    if (!number) {
        program().adapterOK = false;
        VarnexFoundBx->setText(QStringLiteral("Invalid port number"));
        TestPbtn->setEnabled(true);
        return;
    }
    // A firmware transfer or the start-up's search of the ports has the port for a long
    // while: the test is not run into it, and says so.
    if (PortHeldLong()) {
        portBusy();
        return;
    }
    program().settings.PortNumber = static_cast<qint16>(*number);
    m_portTestRunning = true;
    // A scan under way keeps the port until it is over; the test then borrows it.
    QPointer<GeneralTab> self(this);
    WhenPortFree(
        this,
        [self] {
            if (self)
                self->runPortTest();
        },
        [self] {
            if (self)
                self->portBusy();
        });
}

void GeneralTab::portBusy()
{
    m_portTestRunning = false;
    VarnexFoundBx->setText(QLatin1String(kAdapterBusyText));
    TestPbtn->setEnabled(true);
    Q_EMIT portTestDone();
}

void GeneralTab::runPortTest()
{
    int result = NoVarnex;
    {
        PortLoan loan;
        try {
            if (SerialPort *port = program().port)
                result = FindVarnex(*port, true);
        } catch (const std::exception &) {
            // A port that fails half-way counts as no adapter.
        }
    }
    m_portTestRunning = false;
    switch (result) {
    case VarnexTooOld:
        VarnexFoundBx->setText(QStringLiteral("Varnex found"));
        Q_EMIT firmwareTooOld();
        break;
    case VarnexReady:
        VarnexFoundBx->setText(QStringLiteral("Varnex found"));
        program().adapterOK = true;
        break;
    default:
        VarnexFoundBx->setText(QStringLiteral("Varnex not detected"));
        program().adapterOK = false;
        // A device this user may not open is no missing adapter: say what to do.
        if (const QString denied = PortAccessProblem(program().settings.PortNumber); !denied.isEmpty()) {
            VarnexFoundBx->setText(QStringLiteral("No permission"));
            VarnexFoundBx->setToolTip(denied);
            MsgBox(denied, QStringLiteral("Port not accessible"));
        }
        break;
    }
    TestPbtn->setEnabled(true);
    Q_EMIT portTestDone();
}

void GeneralTab::TestDTbtn_Click()
{
    if (CustTformat->text() != QLatin1String(kShortTime))
        CustTformat->setText(RewriteTimeFormat(CustTformat->text()));
    if (CustDformat->text() != QLatin1String(kShortDate))
        CustDformat->setText(RewriteDateFormat(CustDformat->text()));
    TestDT->setText(FormatPreview(Now(), CustDformat->text(), CustTformat->text()));
}

} // namespace clarow
