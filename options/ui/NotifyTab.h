#pragma once

#include "monitor/Notify.h"

#include <QWidget>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace clarow {

// The "Notifications" page of Main Options: where push notifications go (a webhook, an ntfy
// topic or a chat's incoming hook), in which format, with which token, and a test. It shows
// and collects; the rules and the sending are those of Notify.
class NotifyTab : public QWidget
{
    Q_OBJECT
public:
    explicit NotifyTab(QWidget *parent = nullptr);

    // The stored settings into the controls.
    void load();
    // The settings as the controls hold them.
    [[nodiscard]] NotifySettings values() const;
    // What is wrong with them, for the user; empty when they will do.
    [[nodiscard]] QString problem() const { return NotifySettingsProblem(values()); }
    // Stores them; throws ClarowError when the settings file cannot be written.
    void save() const;
    // Sends a test notification with what the controls hold and shows the outcome.
    void TestWebhookBtn_Click();

Q_SIGNALS:
    // Any edit.
    void changed();

private:
    QLineEdit *WebhookUrlBx = nullptr;
    QComboBox *WebhookFormatBx = nullptr;
    QLineEdit *WebhookTokenBx = nullptr;
    QPushButton *TestWebhookBtn = nullptr;
    QLineEdit *WebhookResultBx = nullptr;
};

} // namespace clarow
