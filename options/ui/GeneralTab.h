#pragma once

#include "options/ui/OptionsTab.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace clarow {

// The "General" page of Main Options: the location's name, the temperature scale, the date and
// time formats with their test, and the adapter's port with the port test.
class GeneralTab : public OptionsTab
{
    Q_OBJECT
public:
    explicit GeneralTab(QWidget *parent = nullptr);

    void load(const OptionsForm &f) override;
    void store(OptionsForm &f) const override;

    void TestPbtn_Click();
    void TestDTbtn_Click();

    // True from the port Test button until the port test has given its answer.
    [[nodiscard]] bool portTestRunning() const { return m_portTestRunning; }

Q_SIGNALS:
    // The port test has its answer (or could not have the port).
    void portTestDone();
    // The port test found an adapter whose firmware needs an upgrade.
    void firmwareTooOld();

private:
    // A choice of scale or format toggled.
    void choiceToggled();
    // The custom format boxes are open only while "Custom" is chosen.
    void openCustomFormats();
    void runPortTest();
    // The port test may not have the port now: says so and is ready for another try.
    void portBusy();

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

    bool m_portTestRunning = false;
};

} // namespace clarow
