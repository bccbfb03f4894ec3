#include "options/ui/Options.h"

#include "link/Clock.h"
#include "link/SerialPort.h"
#include "monitor/AlarmMail.h"
#include "options/ui/ColourBox.h"
#include "core/DiagnosticLog.h"
#include "options/ui/NotifyTab.h"
#include "core/Errors.h"
#include "core/FindVarnex.h"
#include "core/PortLoan.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "core/Settings.h"
#include "core/ui/Fields.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace clarow {

namespace {

QCheckBox *check(QWidget *parent, const char *name, const QString &caption)
{
    auto *c = new QCheckBox(caption, parent);
    c->setObjectName(QLatin1String(name));
    return c;
}

QRadioButton *radio(QWidget *parent, const char *name, const QString &caption)
{
    auto *r = new QRadioButton(caption, parent);
    r->setObjectName(QLatin1String(name));
    return r;
}

// A short number box followed by its unit.
void addUnitBox(QHBoxLayout *row, QLineEdit *box, const QString &unit)
{
    box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 8 + 12);
    row->addWidget(box);
    row->addWidget(new QLabel(unit, box->parentWidget()));
}

} // namespace

Options::Options(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("Main Options"));

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("Tabs"));
    m_tabs->addTab(buildGeneral(), QStringLiteral("General"));
    m_tabs->setTabToolTip(0, QStringLiteral("General options"));
    m_tabs->addTab(buildLogging(), QStringLiteral("Logging and display"));
    m_tabs->setTabToolTip(1, QStringLiteral("Logging parameters and display colors"));
    m_tabs->addTab(buildAlarms(), QStringLiteral("Alarm options"));
    m_tabs->setTabToolTip(2, QStringLiteral("Alarm limits and mailing options"));
    m_notify = new NotifyTab;
    m_tabs->addTab(m_notify, QStringLiteral("Notifications"));
    m_tabs->setTabToolTip(3, QStringLiteral("Push notifications of alarms"));

    ApplyBtn = NewButton(this, "ApplyBtn", QStringLiteral("Apply"));
    CancelBtn = NewButton(this, "CancelBtn", QStringLiteral("Cancel"));
    ExitBtn = NewButton(this, "ExitBtn", QStringLiteral("OK"));
    connect(ApplyBtn, &QPushButton::clicked, this, [this] { ApplyBtn_Click(); });
    connect(CancelBtn, &QPushButton::clicked, this, &Options::CancelBtn_Click);
    connect(ExitBtn, &QPushButton::clicked, this, &Options::ExitBtn_Click);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ApplyBtn);
    buttons->addWidget(CancelBtn);
    buttons->addWidget(ExitBtn);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);

    // Every edit of a text box enables Apply; so does every click on a choice. The login
    // boxes count as edits too, or "OK" would close without storing a new password.
    for (const auto &[box, field] : textBoxes())
        connect(box, &QLineEdit::textChanged, this, &Options::MarkChanged);
    for (const auto &[box, field] : checkBoxes())
        connect(box, &QCheckBox::toggled, this, &Options::MarkChanged);
    for (QRadioButton *r : {CelsiusOpt, FahrenheitOpt, CustDopt, CustTopt, ShortDopt, ShortTopt})
        connect(r, &QRadioButton::toggled, this, &Options::MarkChanged);
    for (QLineEdit *box : {Llow, Lhigh, Hlow, Hhigh})
        box->installEventFilter(this);
    // Choices act on being toggled, not on a mouse click, so that a screen reader's toggle
    // or a key does the same as the mouse.
    connect(ShortDopt, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            CustDformat->setText(QLatin1String(kShortDate));
    });
    connect(ShortTopt, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            CustTformat->setText(QLatin1String(kShortTime));
    });
    connect(m_notify, &NotifyTab::changed, this, &Options::MarkChanged);
    connect(SendMailChk, &QCheckBox::toggled, this, &Options::enableMailSwitches);
    connect(AuthBx, &QCheckBox::toggled, this, &Options::enableLogin);
    connect(MailSecurityBx, &QComboBox::currentIndexChanged, this, &Options::MarkChanged);

    FillOptions();
    ApplyBtn->setEnabled(false);
    TestMailBtn->setEnabled(true);
    program().optionsOpen = true;
}

Options::~Options() { program().optionsOpen = false; }

QWidget *Options::buildGeneral()
{
    auto *page = new QWidget;
    CoName = NewEdit(page, "CoName", QStringLiteral("Company or location"));
    DefaultLoc = NewEdit(page, "DefaultLoc", QStringLiteral("Default sensor location"));

    auto *scale = new QGroupBox(QStringLiteral("Temperature scale"), page);
    CelsiusOpt = radio(scale, "CelsiusOpt", QStringLiteral("Celsius"));
    FahrenheitOpt = radio(scale, "FahrenheitOpt", QStringLiteral("Fahrenheit"));
    auto *scaleRow = new QHBoxLayout(scale);
    scaleRow->addWidget(CelsiusOpt);
    scaleRow->addWidget(FahrenheitOpt);
    scaleRow->addStretch();

    auto *formats = new QGroupBox(QStringLiteral("Date and time formats"), page);
    auto *fg = new QGridLayout(formats);
    auto *dateGroup = new QWidget(formats);
    ShortDopt = radio(dateGroup, "ShortDopt", QStringLiteral("Short Date"));
    CustDopt = radio(dateGroup, "CustDopt", QStringLiteral("Custom"));
    CustDformat = NewEdit(formats, "CustDformat", QStringLiteral("Date Format"));
    auto *timeGroup = new QWidget(formats);
    ShortTopt = radio(timeGroup, "ShortTopt", QStringLiteral("Short Time"));
    CustTopt = radio(timeGroup, "CustTopt", QStringLiteral("Custom"));
    CustTformat = NewEdit(formats, "CustTformat", QStringLiteral("Time Format"));
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
    TestDT = NewEdit(formats, "TestDT", QStringLiteral("Test time and date formats"));
    TestDT->setReadOnly(true);
    fg->addWidget(CaptionFor(QStringLiteral("Test time and date formats"), TestDT), 2, 0);
    fg->addWidget(TestDTbtn, 2, 1);
    fg->addWidget(TestDT, 2, 2);
    connect(TestDTbtn, &QPushButton::clicked, this, &Options::TestDTbtn_Click);

    PortNoBx = NewEdit(page, "PortNoBx", QStringLiteral("COM port number for Varnex"));
    TestPbtn = NewButton(page, "TestPbtn", QStringLiteral("Test"));
    TestPbtn->setAccessibleName(QStringLiteral("Test the COM port"));
    VarnexFoundBx = NewEdit(page, "VarnexFoundBx", QStringLiteral("Port test result"));
    VarnexFoundBx->setReadOnly(true);
    connect(TestPbtn, &QPushButton::clicked, this, &Options::TestPbtn_Click);
    auto *portRow = new QHBoxLayout;
    addUnitBox(portRow, PortNoBx, QString());
    portRow->addWidget(TestPbtn);
    portRow->addWidget(VarnexFoundBx);
    AutoScanChk = check(page, "AutoScanChk", QStringLiteral("Automatically scan COM ports to find Varnex"));

    auto *form = new QFormLayout;
    form->addRow(CaptionFor(QStringLiteral("Company or location"), CoName), CoName);
    form->addRow(scale);
    form->addRow(formats);
    form->addRow(CaptionFor(QStringLiteral("Default sensor location"), DefaultLoc), DefaultLoc);
    form->addRow(CaptionFor(QStringLiteral("COM port number for Varnex"), PortNoBx), portRow);
    form->addRow(AutoScanChk);
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addStretch();
    return page;
}

QWidget *Options::buildLogging()
{
    auto *page = new QWidget;
    DefaultIntBx[0] = NewEdit(page, "DefaultIntBx", QStringLiteral("Logging interval, minutes"));
    DefaultIntBx[0]->setProperty("index", 0);
    DefaultIntBx[1] = NewEdit(page, "DefaultIntBx", QStringLiteral("Logging interval, seconds"));
    DefaultIntBx[1]->setProperty("index", 1);
    auto *interval = new QHBoxLayout;
    addUnitBox(interval, DefaultIntBx[0], QStringLiteral("minutes"));
    addUnitBox(interval, DefaultIntBx[1], QStringLiteral("seconds"));
    interval->addStretch();

    KeepDaysBx = NewEdit(page, "KeepDaysBx", QStringLiteral("Length of time to store data, days"));
    KeepHrsBx = NewEdit(page, "KeepHrsBx", QStringLiteral("Length of time to store data, hours"));
    KeepAllChk = check(page, "KeepAllChk", QStringLiteral("Keep all data"));
    auto *keep = new QHBoxLayout;
    addUnitBox(keep, KeepDaysBx, QStringLiteral("days"));
    addUnitBox(keep, KeepHrsBx, QStringLiteral("hours"));
    keep->addWidget(KeepAllChk);
    keep->addStretch();

    HistDaysBx = NewEdit(page, "HistDaysBx", QStringLiteral("Log history to display, days"));
    HistHrsBx = NewEdit(page, "HistHrsBx", QStringLiteral("Log history to display, hours"));
    auto *hist = new QHBoxLayout;
    addUnitBox(hist, HistDaysBx, QStringLiteral("days"));
    addUnitBox(hist, HistHrsBx, QStringLiteral("hours"));
    hist->addStretch();

    auto *form = new QFormLayout;
    form->addRow(CaptionFor(QStringLiteral("Logging interval"), DefaultIntBx[0]), interval);
    form->addRow(CaptionFor(QStringLiteral("Length of time to store data"), KeepDaysBx), keep);
    form->addRow(CaptionFor(QStringLiteral("Log history to display"), HistDaysBx), hist);

    // Grid colours, then the graph's: one row per curve, plot and limit lines across.
    const QString names[8] = {
        QStringLiteral("Grid colors, Normal"),
        QStringLiteral("Grid colors, Alarm"),
        QStringLiteral("Graph colors, Temperature, Plot"),
        QStringLiteral("Graph colors, Temperature, Low limit"),
        QStringLiteral("Graph colors, Temperature, High limit"),
        QStringLiteral("Graph colors, Humidity, light, Plot"),
        QStringLiteral("Graph colors, Humidity, light, Low limit"),
        QStringLiteral("Graph colors, Humidity, light, High limit"),
    };
    for (int i = 0; i < 8; ++i) {
        ColBx[i] = new ColourBox(i, names[i], page);
        ColBx[i]->setOnActivate([this, i] { ColBx_DblClick(i); });
    }
    auto *grid = new QGroupBox(QStringLiteral("Grid colors"), page);
    auto *gl = new QGridLayout(grid);
    gl->addWidget(new QLabel(QStringLiteral("Normal"), grid), 0, 0);
    gl->addWidget(ColBx[0], 0, 1);
    gl->addWidget(new QLabel(QStringLiteral("Alarm"), grid), 1, 0);
    gl->addWidget(ColBx[1], 1, 1);
    auto *graph = new QGroupBox(QStringLiteral("Graph colors"), page);
    auto *rl = new QGridLayout(graph);
    rl->addWidget(new QLabel(QStringLiteral("Plot"), graph), 0, 1);
    rl->addWidget(new QLabel(QStringLiteral("Low limit"), graph), 0, 2);
    rl->addWidget(new QLabel(QStringLiteral("High limit"), graph), 0, 3);
    rl->addWidget(new QLabel(QStringLiteral("Temperature"), graph), 1, 0);
    rl->addWidget(new QLabel(QStringLiteral("Humidity, light"), graph), 2, 0);
    for (int i = 0; i < 6; ++i)
        rl->addWidget(ColBx[2 + i], 1 + i / 3, 1 + i % 3);
    auto *colours = new QHBoxLayout;
    colours->addWidget(grid);
    colours->addWidget(graph);
    ResetColBtn = NewButton(page, "ResetColBtn", QStringLiteral("Set colors to default"));
    connect(ResetColBtn, &QPushButton::clicked, this, &Options::ResetColBtn_Click);
    auto *colourHint = new QHBoxLayout;
    colourHint->addWidget(new QLabel(QStringLiteral("Double-click color boxes to change colors"), page));
    colourHint->addStretch();
    colourHint->addWidget(ResetColBtn);

    auto *debug = new QGroupBox(QStringLiteral("Debug options"), page);
    chkDebug[0] = check(debug, "chkDebug", QStringLiteral("Store error details"));
    chkDebug[0]->setProperty("index", 0);
    chkDebug[1] = check(debug, "chkDebug", QStringLiteral("Store successful reads"));
    chkDebug[1]->setProperty("index", 1);
    auto *dl = new QVBoxLayout(debug);
    dl->addWidget(chkDebug[0]);
    dl->addWidget(chkDebug[1]);
    dl->addWidget(new QLabel(QStringLiteral("Debug data is saved as files named [date].log"), debug));

    auto *layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addLayout(colours);
    layout->addLayout(colourHint);
    layout->addWidget(debug);
    layout->addStretch();
    return page;
}

QWidget *Options::buildAlarms()
{
    auto *page = new QWidget;
    auto *limits = new QGroupBox(QStringLiteral("Default alarm limits"), page);
    Llow = NewEdit(limits, "Llow", QStringLiteral("Temperature, low"));
    Lhigh = NewEdit(limits, "Lhigh", QStringLiteral("Temperature, high"));
    Hlow = NewEdit(limits, "Hlow", QStringLiteral("Humidity or light, low"));
    Hhigh = NewEdit(limits, "Hhigh", QStringLiteral("Humidity or light, high"));
    auto *ll = new QGridLayout(limits);
    ll->addWidget(new QLabel(QStringLiteral("Low"), limits), 0, 1);
    ll->addWidget(new QLabel(QStringLiteral("High"), limits), 0, 2);
    ll->addWidget(CaptionFor(QStringLiteral("Temperature"), Llow), 1, 0);
    ll->addWidget(Llow, 1, 1);
    ll->addWidget(Lhigh, 1, 2);
    ll->addWidget(CaptionFor(QStringLiteral("Humidity or light"), Hlow), 2, 0);
    ll->addWidget(Hlow, 2, 1);
    ll->addWidget(Hhigh, 2, 2);
    ll->addWidget(new QLabel(QStringLiteral("Configure individual sensors using Sensor Options"), limits), 3, 0, 1, 3);

    NoConsecBx = NewEdit(page, "NoConsecBx",
                         QStringLiteral("Time in alarm or return to normal before sending email (minutes)"));
    auto *consec = new QHBoxLayout;
    consec->addWidget(CaptionFor(NoConsecBx->accessibleName(), NoConsecBx));
    addUnitBox(consec, NoConsecBx, QString());
    consec->addStretch();

    auto *mail = new QGroupBox(QStringLiteral("Mail"), page);
    SendMailChk = check(mail, "SendMailChk", QStringLiteral("Send mail on alarm or sensor failure"));
    SendRTNchk = check(mail, "SendRTNchk", QStringLiteral("Send mail on return to normal"));
    LowTempChk = check(mail, "LowTempChk", QStringLiteral("Low temperature"));
    HiTempChk = check(mail, "HiTempChk", QStringLiteral("High temperature"));
    LoHuChk = check(mail, "LoHuChk", QStringLiteral("Low humidity or light"));
    HiHuChk = check(mail, "HiHuChk", QStringLiteral("High humidity or light"));
    chkSmw = check(mail, "chkSmw", QStringLiteral("Send mail on water alarms"));
    for (QCheckBox *c : {LowTempChk, HiTempChk, LoHuChk, HiHuChk})
        c->setAccessibleName(QStringLiteral("Send mail on alarm: ") + c->text());
    auto *ml = new QGridLayout(mail);
    ml->addWidget(SendMailChk, 0, 0, 1, 2);
    ml->addWidget(SendRTNchk, 1, 0, 1, 2);
    ml->addWidget(new QLabel(QStringLiteral("Send mail on alarm:"), mail), 2, 0, 1, 2);
    ml->addWidget(LowTempChk, 3, 0);
    ml->addWidget(HiTempChk, 3, 1);
    ml->addWidget(LoHuChk, 4, 0);
    ml->addWidget(HiHuChk, 4, 1);
    ml->addWidget(chkSmw, 5, 0, 1, 2);

    EmailAddBx = NewEdit(page, "EmailAddBx", QStringLiteral("To address for email notifications"));
    FromAddBx = NewEdit(page, "FromAddBx", QStringLiteral("From address for email notifications"));
    SubjectAlarmBx = NewEdit(page, "SubjectAlarmBx", QStringLiteral("Subject line for alarm messages"));
    SubjectRTNbx = NewEdit(page, "SubjectRTNbx", QStringLiteral("Subject line for return to normal"));
    AddLocBx = check(page, "AddLocBx", QStringLiteral("Add location to subject"));
    MailSvrBx = NewEdit(page, "MailSvrBx", QStringLiteral("Mail (SMTP) server"));
    SMTPportBx = NewEdit(page, "SMTPportBx", QStringLiteral("Port"));
    AuthBx = check(page, "AuthBx", QStringLiteral("Authentication required?"));
    UserNameBx = NewEdit(page, "UserNameBx", QStringLiteral("User name"));
    PwBx = NewEdit(page, "PwBx", QStringLiteral("Password"));
    PwBx->setEchoMode(QLineEdit::Password);
    auto *server = new QHBoxLayout;
    server->addWidget(MailSvrBx, 1);
    server->addWidget(CaptionFor(QStringLiteral("Port"), SMTPportBx));
    addUnitBox(server, SMTPportBx, QString());
    // Each choice's text says what it does; the stored text rides along as the item's data.
    MailSecurityBx = new QComboBox(page);
    MailSecurityBx->setObjectName(QStringLiteral("MailSecurityBx"));
    MailSecurityBx->setAccessibleName(QStringLiteral("Connection security"));
    MailSecurityBx->addItem(QStringLiteral("Auto: encrypt when offered, no password in clear over a network"),
                            QStringLiteral("Auto"));
    MailSecurityBx->addItem(QStringLiteral("STARTTLS: always encrypt"), QStringLiteral("STARTTLS"));
    MailSecurityBx->addItem(QStringLiteral("TLS: encrypted from the start (port 465)"), QStringLiteral("TLS"));
    MailSecurityBx->addItem(QStringLiteral("None: never encrypt"), QStringLiteral("None"));
    MailSecurityBx->setToolTip(QStringLiteral("Auto sends a password only over an encrypted connection, "
                                              "unless the mail server runs on this computer"));

    auto *form = new QFormLayout;
    form->addRow(CaptionFor(EmailAddBx->accessibleName(), EmailAddBx), EmailAddBx);
    form->addRow(CaptionFor(FromAddBx->accessibleName(), FromAddBx), FromAddBx);
    form->addRow(CaptionFor(SubjectAlarmBx->accessibleName(), SubjectAlarmBx), SubjectAlarmBx);
    form->addRow(CaptionFor(SubjectRTNbx->accessibleName(), SubjectRTNbx), SubjectRTNbx);
    form->addRow(AddLocBx);
    form->addRow(CaptionFor(MailSvrBx->accessibleName(), MailSvrBx), server);
    form->addRow(CaptionFor(MailSecurityBx->accessibleName(), MailSecurityBx), MailSecurityBx);
    form->addRow(AuthBx);
    form->addRow(CaptionFor(QStringLiteral("User name"), UserNameBx), UserNameBx);
    form->addRow(CaptionFor(QStringLiteral("Password"), PwBx), PwBx);

    TestMailBtn = NewButton(page, "TestMailBtn", QStringLiteral("Test email"));
    ResetAlBtn = NewButton(page, "ResetAlBtn", QStringLiteral("Reset alarms"));
    connect(TestMailBtn, &QPushButton::clicked, this, &Options::TestMailBtn_Click);
    connect(ResetAlBtn, &QPushButton::clicked, this, &Options::ResetAlBtn_Click);
    auto *actions = new QHBoxLayout;
    actions->addStretch();
    actions->addWidget(TestMailBtn);
    actions->addWidget(ResetAlBtn);

    auto *top = new QHBoxLayout;
    top->addWidget(limits);
    top->addWidget(mail);
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addLayout(consec);
    layout->addLayout(form);
    layout->addLayout(actions);
    layout->addStretch();
    return page;
}

std::vector<std::pair<QLineEdit *, QString OptionsForm::*>> Options::textBoxes() const
{
    return {
        {CoName, &OptionsForm::CoName},
        {DefaultLoc, &OptionsForm::DefaultLoc},
        {CustDformat, &OptionsForm::CustDformat},
        {CustTformat, &OptionsForm::CustTformat},
        {PortNoBx, &OptionsForm::PortNoBx},
        {DefaultIntBx[0], &OptionsForm::Minutes},
        {DefaultIntBx[1], &OptionsForm::Seconds},
        {KeepDaysBx, &OptionsForm::KeepDaysBx},
        {KeepHrsBx, &OptionsForm::KeepHrsBx},
        {HistDaysBx, &OptionsForm::HistDaysBx},
        {HistHrsBx, &OptionsForm::HistHrsBx},
        {Llow, &OptionsForm::Llow},
        {Lhigh, &OptionsForm::Lhigh},
        {Hlow, &OptionsForm::Hlow},
        {Hhigh, &OptionsForm::Hhigh},
        {NoConsecBx, &OptionsForm::NoConsecBx},
        {EmailAddBx, &OptionsForm::EmailAddBx},
        {FromAddBx, &OptionsForm::FromAddBx},
        {SubjectAlarmBx, &OptionsForm::SubjectAlarmBx},
        {SubjectRTNbx, &OptionsForm::SubjectRTNbx},
        {MailSvrBx, &OptionsForm::MailSvrBx},
        {SMTPportBx, &OptionsForm::SMTPportBx},
        {UserNameBx, &OptionsForm::UserNameBx},
        {PwBx, &OptionsForm::PwBx},
    };
}

std::vector<std::pair<QCheckBox *, bool OptionsForm::*>> Options::checkBoxes() const
{
    return {
        {AutoScanChk, &OptionsForm::AutoScanChk},
        {KeepAllChk, &OptionsForm::KeepAllChk},
        {chkDebug[0], &OptionsForm::LogErrors},
        {chkDebug[1], &OptionsForm::LogComms},
        {SendMailChk, &OptionsForm::SendMailChk},
        {SendRTNchk, &OptionsForm::SendRTNchk},
        {LowTempChk, &OptionsForm::LowTempChk},
        {HiTempChk, &OptionsForm::HiTempChk},
        {LoHuChk, &OptionsForm::LoHuChk},
        {HiHuChk, &OptionsForm::HiHuChk},
        {chkSmw, &OptionsForm::chkSmw},
        {AddLocBx, &OptionsForm::AddLocBx},
        {AuthBx, &OptionsForm::AuthBx},
    };
}

void Options::showForm(const OptionsForm &f)
{
    for (const auto &[box, field] : textBoxes())
        box->setText(f.*field);
    for (const auto &[box, field] : checkBoxes())
        box->setChecked(f.*field);
    // A selected option button cannot be unselected, only its partner selected.
    (f.FahrenheitOpt ? FahrenheitOpt : CelsiusOpt)->setChecked(true);
    (f.ShortDopt ? ShortDopt : CustDopt)->setChecked(true);
    (f.ShortTopt ? ShortTopt : CustTopt)->setChecked(true);
    KeepDaysBx->setEnabled(f.KeepBoxesEnabled);
    KeepHrsBx->setEnabled(f.KeepBoxesEnabled);
    for (int i = 0; i < 8; ++i)
        ColBx[i]->setColour(f.ColBx[i]);
    enableMailSwitches(f.MailSwitchesEnabled);
    enableLogin(f.AuthBx);
    MailSecurityBx->setCurrentIndex(qMax(0, MailSecurityBx->findData(f.MailSecurityBx)));
}

OptionsForm Options::form() const
{
    OptionsForm f;
    for (const auto &[box, field] : textBoxes())
        f.*field = box->text();
    for (const auto &[box, field] : checkBoxes())
        f.*field = box->isChecked();
    f.FahrenheitOpt = FahrenheitOpt->isChecked();
    f.ShortDopt = ShortDopt->isChecked();
    f.ShortTopt = ShortTopt->isChecked();
    f.KeepBoxesEnabled = KeepDaysBx->isEnabled();
    for (int i = 0; i < 8; ++i)
        f.ColBx[i] = ColBx[i]->colour();
    f.MailSwitchesEnabled = SendRTNchk->isEnabled();
    f.MailSecurityBx = MailSecurityBx->currentData().toString();
    return f;
}

void Options::FillOptions()
{
    showForm(clarow::FillOptions(program().settings));
    MarkChanged();
}

void Options::MarkChanged()
{
    CustTformat->setEnabled(CustTopt->isChecked());
    CustDformat->setEnabled(CustDopt->isChecked());
    ApplyBtn->setEnabled(true);
    // A test mail goes out with the applied settings, never with half-edited ones.
    TestMailBtn->setEnabled(false);
}

void Options::enableMailSwitches(bool on)
{
    for (QCheckBox *c : {SendRTNchk, LowTempChk, HiTempChk, LoHuChk, HiHuChk, chkSmw})
        c->setEnabled(on);
}

void Options::enableLogin(bool on)
{
    SetEditable(UserNameBx, on);
    SetEditable(PwBx, on);
}

bool Options::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == Hhigh)
            Hhigh_LostFocus();
        else if (watched == Hlow)
            Hlow_LostFocus();
        else if (watched == Llow || watched == Lhigh)
            MarkChanged();
    }
    return QWidget::eventFilter(watched, event);
}

void Options::Hhigh_LostFocus()
{
    if (const auto text = LeaveHumidityHigh(Hlow->text(), Hhigh->text()))
        Hhigh->setText(*text);
    MarkChanged();
}

void Options::Hlow_LostFocus()
{
    if (const auto text = LeaveHumidityLow(Hlow->text(), Hhigh->text()))
        Hlow->setText(*text);
    MarkChanged();
}

void Options::rebuildGrid()
{
    if (m_rebuildGrid)
        m_rebuildGrid();
}

bool Options::ApplyBtn_Click()
{
    // A failed Apply changes nothing: the settings in use stay, and the boxes keep what was
    // typed so that it can be mended.
    OptionsForm f = form();
    if (const QString problem = m_notify->problem(); !problem.isEmpty()) {
        m_tabs->setCurrentWidget(m_notify);
        MsgBox(problem, QStringLiteral("Notifications"));
        return false;
    }
    try {
        ApplyAndSaveOptions(f, program(), Now());
        m_notify->save();
    } catch (const ClarowError &e) {
        applyFailed(e.number(), e.description());
        return false;
    } catch (const std::exception &e) {
        applyFailed(kErrDatabase, QString::fromLocal8Bit(e.what()));
        return false;
    }
    FillOptions();
    rebuildGrid();
    ApplyBtn->setEnabled(false);
    TestMailBtn->setEnabled(true);
    return true;
}

void Options::applyFailed(int number, const QString &description)
{
    if (program().settings.LogErrors)
        WriteLog(QStringLiteral("Error applying options: ") + description);
    ShowError(number, description);
}

void Options::ExitBtn_Click()
{
    // A failed Apply keeps the window open: the typed values are not lost.
    if (ApplyBtn->isEnabled() && !ApplyBtn_Click())
        return;
    closeWindow();
}

void Options::CancelBtn_Click() { closeWindow(); }

void Options::closeWindow() { CloseWindow(this); }

void Options::closeEvent(QCloseEvent *event)
{
    // The port test holds the port: the window goes once it has its answer.
    if (m_portTestRunning && !program().closing) {
        m_closeAfterPortTest = true;
        event->ignore();
        return;
    }
    // Never close the port under another exchange: a scan, or a firmware transfer started
    // from this window's port test, which goes on after the window has closed.
    SerialPort *port = program().port;
    if (port && port->isOpen() && !PortInUse())
        port->close();
    program().optionsOpen = false;
    event->accept();
}

void Options::TestPbtn_Click()
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
    QPointer<Options> self(this);
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

void Options::portBusy()
{
    m_portTestRunning = false;
    VarnexFoundBx->setText(QLatin1String(kAdapterBusyText));
    TestPbtn->setEnabled(true);
    if (m_closeAfterPortTest)
        QTimer::singleShot(0, this, &Options::closeWindow);
}

void Options::runPortTest()
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
        if (m_openFirmwareUpdate)
            m_openFirmwareUpdate();
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
    if (m_closeAfterPortTest)
        QTimer::singleShot(0, this, &Options::closeWindow);
}

void Options::TestDTbtn_Click()
{
    if (CustTformat->text() != QLatin1String(kShortTime))
        CustTformat->setText(RewriteTimeFormat(CustTformat->text()));
    if (CustDformat->text() != QLatin1String(kShortDate))
        CustDformat->setText(RewriteDateFormat(CustDformat->text()));
    TestDT->setText(FormatPreview(Now(), CustDformat->text(), CustTformat->text()));
}

void Options::TestMailBtn_Click()
{
    // Addresses stored before they were checked are refused here, where the user can mend
    // them; the test message goes out only with addresses that all can be used.
    const Settings &s = program().settings;
    if (const auto problem = MailAddressProblem(s.MailAddress, s.MailFrom)) {
        MsgBox(*problem, QStringLiteral("Test message"), Buttons::Ok, Icon::Exclamation);
        return;
    }
    TestMail();
    MsgBox(QStringLiteral("A test message is being sent to ") + program().settings.MailAddress + QLatin1Char('.'),
           QStringLiteral("Test message"));
}

void Options::ResetAlBtn_Click()
{
    if (MsgBox(QStringLiteral("Do you want to reset the alarm status of all sensors?"), QStringLiteral("Reset alarms"),
               Buttons::OkCancel)
        != Answer::Ok)
        return;
    try {
        ResetAllAlarms();
    } catch (const std::exception &) {
        // The next scan evaluates the alarms again in any case.
    }
}

void Options::ResetColBtn_Click()
{
    // Only the colour boxes: edits waiting on the other tabs stay as typed.
    SetDefaultColours(program().settings);
    const std::array<qint32, 8> colours = DefaultColours();
    for (int i = 0; i < 8; ++i)
        ColBx[i]->setColour(colours[i]);
    MarkChanged();
    rebuildGrid();
}

void Options::ColBx_DblClick(int index)
{
    ColourBox *box = ColBx.at(index);
    auto *dialog = new QColorDialog(ColourBox::toQColor(box->colour()), this);
    dialog->setObjectName(QStringLiteral("ColourDialog"));
    dialog->setWindowTitle(QStringLiteral("Select colour"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<ColourBox> target(box);
    connect(dialog, &QColorDialog::colorSelected, this, [this, target](const QColor &c) {
        if (!target)
            return;
        target->setColour(ColourBox::fromQColor(c));
        MarkChanged();
    });
    dialog->open();
}

} // namespace clarow
