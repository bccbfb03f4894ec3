#include "options/ui/AlarmsTab.h"

#include "core/Program.h"
#include "core/Prompter.h"
#include "core/Settings.h"
#include "core/ui/Fields.h"
#include "monitor/AlarmMail.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

namespace clarow {

AlarmsTab::AlarmsTab(QWidget *parent) : OptionsTab(parent)
{
    setObjectName(QStringLiteral("AlarmsTab"));
    auto [limits, ll] = NewGroup<QGridLayout>(this, QStringLiteral("Default alarm limits"));
    Llow = bind(NewEdit(limits, "Llow", QStringLiteral("Temperature, low")), &OptionsForm::Llow);
    Lhigh = bind(NewEdit(limits, "Lhigh", QStringLiteral("Temperature, high")), &OptionsForm::Lhigh);
    Hlow = bind(NewEdit(limits, "Hlow", QStringLiteral("Humidity or light, low")), &OptionsForm::Hlow);
    Hhigh = bind(NewEdit(limits, "Hhigh", QStringLiteral("Humidity or light, high")), &OptionsForm::Hhigh);
    ll->addWidget(new QLabel(QStringLiteral("Low"), limits), 0, 1);
    ll->addWidget(new QLabel(QStringLiteral("High"), limits), 0, 2);
    ll->addWidget(CaptionFor(QStringLiteral("Temperature"), Llow), 1, 0);
    ll->addWidget(Llow, 1, 1);
    ll->addWidget(Lhigh, 1, 2);
    ll->addWidget(CaptionFor(QStringLiteral("Humidity or light"), Hlow), 2, 0);
    ll->addWidget(Hlow, 2, 1);
    ll->addWidget(Hhigh, 2, 2);
    ll->addWidget(new QLabel(QStringLiteral("Configure individual sensors using Sensor Options"), limits), 3, 0, 1, 3);
    for (QLineEdit *box : {Llow, Lhigh, Hlow, Hhigh})
        box->installEventFilter(this);

    NoConsecBx = bind(NewEdit(this, "NoConsecBx",
                              QStringLiteral("Time in alarm or return to normal before sending email (minutes)")),
                      &OptionsForm::NoConsecBx);
    auto *consec = new QHBoxLayout;
    consec->addWidget(CaptionFor(NoConsecBx->accessibleName(), NoConsecBx));
    AddNumberBox(consec, NoConsecBx, QString());
    consec->addStretch();

    auto [mail, ml] = NewGroup<QGridLayout>(this, QStringLiteral("Mail"));
    SendMailChk = bind(NewCheck(mail, "SendMailChk", QStringLiteral("Send mail on alarm or sensor failure")),
                       &OptionsForm::SendMailChk);
    SendRTNchk = bind(NewCheck(mail, "SendRTNchk", QStringLiteral("Send mail on return to normal")),
                      &OptionsForm::SendRTNchk);
    LowTempChk = bind(NewCheck(mail, "LowTempChk", QStringLiteral("Low temperature")), &OptionsForm::LowTempChk);
    HiTempChk = bind(NewCheck(mail, "HiTempChk", QStringLiteral("High temperature")), &OptionsForm::HiTempChk);
    LoHuChk = bind(NewCheck(mail, "LoHuChk", QStringLiteral("Low humidity or light")), &OptionsForm::LoHuChk);
    HiHuChk = bind(NewCheck(mail, "HiHuChk", QStringLiteral("High humidity or light")), &OptionsForm::HiHuChk);
    chkSmw = bind(NewCheck(mail, "chkSmw", QStringLiteral("Send mail on water alarms")), &OptionsForm::chkSmw);
    for (QCheckBox *c : {LowTempChk, HiTempChk, LoHuChk, HiHuChk})
        c->setAccessibleName(QStringLiteral("Send mail on alarm: ") + c->text());
    ml->addWidget(SendMailChk, 0, 0, 1, 2);
    ml->addWidget(SendRTNchk, 1, 0, 1, 2);
    ml->addWidget(new QLabel(QStringLiteral("Send mail on alarm:"), mail), 2, 0, 1, 2);
    ml->addWidget(LowTempChk, 3, 0);
    ml->addWidget(HiTempChk, 3, 1);
    ml->addWidget(LoHuChk, 4, 0);
    ml->addWidget(HiHuChk, 4, 1);
    ml->addWidget(chkSmw, 5, 0, 1, 2);

    const auto edit = [this](const char *name, const QString &caption, QString OptionsForm::*field) {
        return bind(NewEdit(this, name, caption), field);
    };
    EmailAddBx = edit("EmailAddBx", QStringLiteral("To address for email notifications"), &OptionsForm::EmailAddBx);
    FromAddBx = edit("FromAddBx", QStringLiteral("From address for email notifications"), &OptionsForm::FromAddBx);
    SubjectAlarmBx =
        edit("SubjectAlarmBx", QStringLiteral("Subject line for alarm messages"), &OptionsForm::SubjectAlarmBx);
    SubjectRTNbx =
        edit("SubjectRTNbx", QStringLiteral("Subject line for return to normal"), &OptionsForm::SubjectRTNbx);
    AddLocBx = bind(NewCheck(this, "AddLocBx", QStringLiteral("Add location to subject")), &OptionsForm::AddLocBx);
    MailSvrBx = edit("MailSvrBx", QStringLiteral("Mail (SMTP) server"), &OptionsForm::MailSvrBx);
    SMTPportBx = edit("SMTPportBx", QStringLiteral("Port"), &OptionsForm::SMTPportBx);
    AuthBx = bind(NewCheck(this, "AuthBx", QStringLiteral("Authentication required?")), &OptionsForm::AuthBx);
    // The login boxes count as edits too, or "OK" would close without storing a new password.
    UserNameBx = edit("UserNameBx", QStringLiteral("User name"), &OptionsForm::UserNameBx);
    PwBx = edit("PwBx", QStringLiteral("Password"), &OptionsForm::PwBx);
    PwBx->setEchoMode(QLineEdit::Password);
    auto *server = new QHBoxLayout;
    server->addWidget(MailSvrBx, 1);
    server->addWidget(CaptionFor(QStringLiteral("Port"), SMTPportBx));
    AddNumberBox(server, SMTPportBx, QString());
    // Each choice's text says what it does; the stored text rides along as the item's data.
    MailSecurityBx = Named(new QComboBox(this), "MailSecurityBx");
    MailSecurityBx->setAccessibleName(QStringLiteral("Connection security"));
    MailSecurityBx->addItem(QStringLiteral("Auto: encrypt when offered, no password in clear over a network"),
                            QStringLiteral("Auto"));
    MailSecurityBx->addItem(QStringLiteral("STARTTLS: always encrypt"), QStringLiteral("STARTTLS"));
    MailSecurityBx->addItem(QStringLiteral("TLS: encrypted from the start (port 465)"), QStringLiteral("TLS"));
    MailSecurityBx->addItem(QStringLiteral("None: never encrypt"), QStringLiteral("None"));
    MailSecurityBx->setToolTip(QStringLiteral("Auto sends a password only over an encrypted connection, "
                                              "unless the mail server runs on this computer"));

    auto *form = new QFormLayout;
    for (QLineEdit *box : {EmailAddBx, FromAddBx, SubjectAlarmBx, SubjectRTNbx})
        AddField(form, box->accessibleName(), box);
    form->addRow(AddLocBx);
    AddField(form, MailSvrBx->accessibleName(), MailSvrBx, server);
    AddField(form, MailSecurityBx->accessibleName(), MailSecurityBx);
    form->addRow(AuthBx);
    AddField(form, QStringLiteral("User name"), UserNameBx);
    AddField(form, QStringLiteral("Password"), PwBx);

    TestMailBtn = NewButton(this, "TestMailBtn", QStringLiteral("Test email"));
    ResetAlBtn = NewButton(this, "ResetAlBtn", QStringLiteral("Reset alarms"));
    connect(TestMailBtn, &QPushButton::clicked, this, &AlarmsTab::TestMailBtn_Click);
    connect(ResetAlBtn, &QPushButton::clicked, this, &AlarmsTab::ResetAlBtn_Click);

    auto *top = new QHBoxLayout;
    top->addWidget(limits);
    top->addWidget(mail);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(consec);
    layout->addLayout(form);
    layout->addLayout(ButtonRow({TestMailBtn, ResetAlBtn}));
    layout->addStretch();

    connect(SendMailChk, &QCheckBox::toggled, this, &AlarmsTab::enableMailSwitches);
    connect(AuthBx, &QCheckBox::toggled, this, &AlarmsTab::enableLogin);
    connect(MailSecurityBx, &QComboBox::currentIndexChanged, this, &AlarmsTab::changed);
}

void AlarmsTab::load(const OptionsForm &f)
{
    OptionsTab::load(f);
    enableMailSwitches(f.MailSwitchesEnabled);
    enableLogin(f.AuthBx);
    MailSecurityBx->setCurrentIndex(qMax(0, MailSecurityBx->findData(f.MailSecurityBx)));
}

void AlarmsTab::store(OptionsForm &f) const
{
    OptionsTab::store(f);
    f.MailSwitchesEnabled = SendRTNchk->isEnabled();
    f.MailSecurityBx = MailSecurityBx->currentData().toString();
}

void AlarmsTab::setTestMailEnabled(bool on) { TestMailBtn->setEnabled(on); }

void AlarmsTab::enableMailSwitches(bool on)
{
    for (QCheckBox *c : {SendRTNchk, LowTempChk, HiTempChk, LoHuChk, HiHuChk, chkSmw})
        c->setEnabled(on);
}

void AlarmsTab::enableLogin(bool on)
{
    SetEditable(UserNameBx, on);
    SetEditable(PwBx, on);
}

bool AlarmsTab::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == Hhigh)
            Hhigh_LostFocus();
        else if (watched == Hlow)
            Hlow_LostFocus();
        else if (watched == Llow || watched == Lhigh)
            Q_EMIT changed();
    }
    return OptionsTab::eventFilter(watched, event);
}

void AlarmsTab::Hhigh_LostFocus()
{
    if (const auto text = LeaveHumidityHigh(Hlow->text(), Hhigh->text()))
        Hhigh->setText(*text);
    Q_EMIT changed();
}

void AlarmsTab::Hlow_LostFocus()
{
    if (const auto text = LeaveHumidityLow(Hlow->text(), Hhigh->text()))
        Hlow->setText(*text);
    Q_EMIT changed();
}

void AlarmsTab::TestMailBtn_Click()
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

void AlarmsTab::ResetAlBtn_Click()
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

} // namespace clarow
