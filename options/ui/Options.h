#pragma once

#include "options/OptionsForm.h"

#include <QWidget>

#include <functional>
#include <utility>

class QPushButton;
class QTabWidget;

namespace clarow {

class AlarmsTab;
class GeneralTab;
class LoggingTab;
class NotifyTab;

// The Main Options window: every program-wide setting on its pages, with OK, Cancel and
// Apply below them. Apply takes the pages all together or not at all; the rules are those
// of OptionsForm, the controls those of the pages.
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
    // Every edit: Apply on, the test mail off until applied.
    void MarkChanged();

    // True when the settings were taken and stored.
    bool ApplyBtn_Click();
    void ExitBtn_Click();
    void CancelBtn_Click();
    // Opens the colour picker for one of the eight colour boxes.
    void ColBx_DblClick(int index);

    // True from the port Test button until the port test has given its answer.
    [[nodiscard]] bool portTestRunning() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void applyFailed(int number, const QString &description);
    void closeWindow();
    void rebuildGrid();

    QTabWidget *m_tabs = nullptr;
    GeneralTab *m_general = nullptr;
    LoggingTab *m_logging = nullptr;
    AlarmsTab *m_alarms = nullptr;
    NotifyTab *m_notify = nullptr;
    QPushButton *ApplyBtn = nullptr;
    QPushButton *CancelBtn = nullptr;
    QPushButton *ExitBtn = nullptr;

    std::function<void()> m_rebuildGrid;
    std::function<void()> m_openFirmwareUpdate;
    bool m_closeAfterPortTest = false;
};

} // namespace clarow
