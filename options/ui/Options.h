#pragma once

#include "options/OptionsForm.h"

#include <QWidget>

#include <array>
#include <functional>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace clarow {

class ColourBox;
class NotifyTab;

// The Main Options window: every program-wide setting, with the port, format and mail tests
// and the alarm reset. It shows and collects; the rules are those of OptionsForm.
class Options : public QWidget
{
    Q_OBJECT
public:
    explicit Options(QWidget *parent = nullptr);
    ~Options() override;

    // Called after the settings changed in a way the status grid shows (its colours).
    void setRebuildGrid(std::function<void()> rebuild) { m_rebuildGrid = std::move(rebuild); }
    // Called when the port test finds an adapter whose firmware needs an upgrade.
    void setOpenFirmwareUpdate(std::function<void()> open) { m_openFirmwareUpdate = std::move(open); }

    // The settings into the controls, and the controls' values as the form holds them.
    void FillOptions();
    [[nodiscard]] OptionsForm form() const;
    // Every edit: which custom format box is open, Apply on, the test mail off until applied.
    void MarkChanged();

    // True when the settings were taken and stored.
    bool ApplyBtn_Click();
    void ExitBtn_Click();
    void CancelBtn_Click();
    void TestPbtn_Click();
    void TestDTbtn_Click();
    void TestMailBtn_Click();
    void ResetAlBtn_Click();
    void ResetColBtn_Click();
    // Opens the colour picker for one of the eight colour boxes.
    void ColBx_DblClick(int index);
    void Hlow_LostFocus();
    void Hhigh_LostFocus();

    // True from the Test button until the port test has given its answer.
    [[nodiscard]] bool portTestRunning() const { return m_portTestRunning; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildGeneral();
    QWidget *buildLogging();
    QWidget *buildAlarms();
    // Each text box and check box with the field of the form it shows.
    [[nodiscard]] std::vector<std::pair<QLineEdit *, QString OptionsForm::*>> textBoxes() const;
    [[nodiscard]] std::vector<std::pair<QCheckBox *, bool OptionsForm::*>> checkBoxes() const;
    void showForm(const OptionsForm &f);
    void runPortTest();
    // The port test may not have the port now: says so and is ready for another try.
    void portBusy();
    void applyFailed(int number, const QString &description);
    void closeWindow();
    void rebuildGrid();
    void enableMailSwitches(bool on);
    void enableLogin(bool on);

    QTabWidget *m_tabs = nullptr;
    // General
    QLineEdit *CoName = nullptr;
    QLineEdit *DefaultLoc = nullptr;
    QRadioButton *CelsiusOpt = nullptr;
    QRadioButton *FahrenheitOpt = nullptr;
    QRadioButton *ShortDopt = nullptr;
    QRadioButton *CustDopt = nullptr;
    QLineEdit *CustDformat = nullptr;
    QRadioButton *ShortTopt = nullptr;
    QRadioButton *CustTopt = nullptr;
    QLineEdit *CustTformat = nullptr;
    QPushButton *TestDTbtn = nullptr;
    QLineEdit *TestDT = nullptr;
    QLineEdit *PortNoBx = nullptr;
    QPushButton *TestPbtn = nullptr;
    QLineEdit *VarnexFoundBx = nullptr;
    QCheckBox *AutoScanChk = nullptr;
    // Logging and display
    std::array<QLineEdit *, 2> DefaultIntBx{};
    QLineEdit *KeepDaysBx = nullptr;
    QLineEdit *KeepHrsBx = nullptr;
    QCheckBox *KeepAllChk = nullptr;
    QLineEdit *HistDaysBx = nullptr;
    QLineEdit *HistHrsBx = nullptr;
    std::array<ColourBox *, 8> ColBx{};
    QPushButton *ResetColBtn = nullptr;
    std::array<QCheckBox *, 2> chkDebug{};
    // Alarm options
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
    // Below the tabs
    QPushButton *ApplyBtn = nullptr;
    QPushButton *CancelBtn = nullptr;
    QPushButton *ExitBtn = nullptr;
    NotifyTab *m_notify = nullptr; // the Notifications page

    std::function<void()> m_rebuildGrid;
    std::function<void()> m_openFirmwareUpdate;
    bool m_portTestRunning = false;
    bool m_closeAfterPortTest = false;
};

} // namespace clarow
