#include "options/ui/NotifyTab.h"

#include "core/ui/Fields.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace clarow {

NotifyTab::NotifyTab(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("NotifyTab"));
    WebhookUrlBx = NewEdit(this, "WebhookUrlBx", QStringLiteral("Webhook address"));
    WebhookUrlBx->setPlaceholderText(QStringLiteral("https://ntfy.sh/my-topic (empty: off)"));
    WebhookFormatBx = Named(new QComboBox(this), "WebhookFormatBx");
    WebhookFormatBx->setAccessibleName(QStringLiteral("Webhook format"));
    WebhookFormatBx->addItem(QStringLiteral("JSON"), QStringLiteral("json"));
    WebhookFormatBx->addItem(QStringLiteral("ntfy"), QStringLiteral("ntfy"));
    WebhookFormatBx->addItem(QStringLiteral("Slack, Teams, Mattermost"), QStringLiteral("slack"));
    WebhookTokenBx = NewEdit(this, "WebhookTokenBx", QStringLiteral("Access token (optional)"));
    WebhookTokenBx->setEchoMode(QLineEdit::Password);
    TestWebhookBtn = NewButton(this, "TestWebhookBtn", QStringLiteral("Test"));
    TestWebhookBtn->setAccessibleName(QStringLiteral("Send a test notification"));
    WebhookResultBx = NewResultBox(this, "WebhookResultBx", QStringLiteral("Test result"));

    auto *test = new QHBoxLayout;
    test->addWidget(TestWebhookBtn);
    test->addWidget(WebhookResultBx, 1);
    auto *form = new QFormLayout;
    AddField(form, QStringLiteral("Webhook address"), WebhookUrlBx);
    AddField(form, QStringLiteral("Format"), WebhookFormatBx);
    AddField(form, QStringLiteral("Access token (optional)"), WebhookTokenBx);
    AddField(form, QStringLiteral("Test result"), WebhookResultBx, test);
    auto *hint = new QLabel(QStringLiteral("Every alarm and every return to normal is also sent here, one message "
                                           "per sensor, after as many scans as the alarm mail waits, whether mail is on "
                                           "or not. A message that cannot be delivered is "
                                           "tried again at each scan. Home Assistant and other MQTT subscribers "
                                           "are set up in section [Mqtt] of the settings file."),
                            this);
    hint->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addStretch();

    connect(WebhookUrlBx, &QLineEdit::textChanged, this, &NotifyTab::changed);
    connect(WebhookTokenBx, &QLineEdit::textChanged, this, &NotifyTab::changed);
    connect(WebhookFormatBx, &QComboBox::currentIndexChanged, this, &NotifyTab::changed);
    connect(TestWebhookBtn, &QPushButton::clicked, this, &NotifyTab::TestWebhookBtn_Click);
    load();
}

void NotifyTab::load()
{
    const NotifySettings s = LoadNotifySettings();
    WebhookUrlBx->setText(s.webhookUrl);
    const int index = WebhookFormatBx->findData(s.webhookFormat);
    WebhookFormatBx->setCurrentIndex(index < 0 ? 0 : index);
    WebhookTokenBx->setText(s.webhookToken);
}

NotifySettings NotifyTab::values() const
{
    return {WebhookUrlBx->text().trimmed(), WebhookFormatBx->currentData().toString(), WebhookTokenBx->text().trimmed()};
}

void NotifyTab::save() const { SaveNotifySettings(values()); }

void NotifyTab::TestWebhookBtn_Click()
{
    TestWebhookBtn->setEnabled(false);
    WebhookResultBx->setText(QStringLiteral("Sending..."));
    const WebhookResult r = SendTestNotification(values());
    WebhookResultBx->setText(r.ok ? QStringLiteral("Sent: the receiver answered HTTP %1.").arg(r.status)
                                  : QStringLiteral("Failed: ") + r.error);
    WebhookResultBx->setCursorPosition(0);
    TestWebhookBtn->setEnabled(true);
}

} // namespace clarow
