#pragma once

#include "options/ui/OptionsTab.h"

#include <array>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace clarow {

class ColourBox;

// The "Logging and display" page of Main Options: the logging interval, how long readings are
// kept and shown, the colours of the status grid and the graph, and the debug files.
class LoggingTab : public OptionsTab
{
    Q_OBJECT
public:
    explicit LoggingTab(QWidget *parent = nullptr);

    void load(const OptionsForm &f) override;
    void store(OptionsForm &f) const override;

    // Opens the colour picker for one of the eight colour boxes.
    void ColBx_DblClick(int index);
    void ResetColBtn_Click();

Q_SIGNALS:
    // The colours were set back to the defaults in the settings in use.
    void coloursReset();

private:
    std::array<QLineEdit *, 2> DefaultIntBx{};
    QLineEdit *KeepDaysBx = nullptr;
    QLineEdit *KeepHrsBx = nullptr;
    QCheckBox *KeepAllChk = nullptr;
    QLineEdit *HistDaysBx = nullptr;
    QLineEdit *HistHrsBx = nullptr;
    std::array<ColourBox *, 8> ColBx{};
    QPushButton *ResetColBtn = nullptr;
    std::array<QCheckBox *, 2> chkDebug{};
};

} // namespace clarow
