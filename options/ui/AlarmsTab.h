#pragma once

#include "options/ui/OptionsTab.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace clarow {

// The "Alarm options" page of Main Options: the default alarm limits, when alarm mail goes
// out and for which alarms, the mail server and its login, the test mail and the alarm reset.
class AlarmsTab : public OptionsTab
{
    Q_OBJECT
public:
    explicit AlarmsTab(QWidget *parent = nullptr);

    void load(const OptionsForm &f) override;
    void store(OptionsForm &f) const override;

    // The test mail goes out with the applied settings only: off while edits wait.
    void setTestMailEnabled(bool on);
    void TestMailBtn_Click();
    void ResetAlBtn_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Hlow_LostFocus();
    void Hhigh_LostFocus();
    void enableMailSwitches(bool on);
    void enableLogin(bool on);

    QLineEdit *Llow = nullptr;
    QLineEdit *Lhigh = nullptr;
    QLineEdit *Hlow = nullptr;
    QLineEdit *Hhigh = nullptr;
    QLineEdit *NoConsecBx = nullptr;
    QCheckBox *SendMailChk = nullptr;
    QCheckBox *SendRTNchk = nullptr;
    QCheckBox *LowTempChk = nullptr;
    QCheckBox *HiTempChk = nullptr;
    QCheckBox *LoHuChk = nullptr;
    QCheckBox *HiHuChk = nullptr;
    QCheckBox *chkSmw = nullptr;
    QLineEdit *EmailAddBx = nullptr;
    QLineEdit *FromAddBx = nullptr;
    QLineEdit *SubjectAlarmBx = nullptr;
    QLineEdit *SubjectRTNbx = nullptr;
    QCheckBox *AddLocBx = nullptr;
    QLineEdit *MailSvrBx = nullptr;
    QLineEdit *SMTPportBx = nullptr;
    QCheckBox *AuthBx = nullptr;
    QLineEdit *UserNameBx = nullptr;
    QLineEdit *PwBx = nullptr;
    QComboBox *MailSecurityBx = nullptr;
    QPushButton *TestMailBtn = nullptr;
    QPushButton *ResetAlBtn = nullptr;
};

} // namespace clarow
