#include "retyper/Messages.h"

#include "link/ConsoleBox.h"

namespace clarow::retyper {

namespace {
class StderrShower final : public MessageShower
{
public:
    void show(const QString &text, const QString &title) override { WriteBoxToStderr(title, text); }
};

MessageShower *g_shower = nullptr;
} // namespace

MessageShower &messages()
{
    static StderrShower fallback;
    return g_shower ? *g_shower : fallback;
}

void setMessages(MessageShower *shower) { g_shower = shower; }

QString LoadErrorText(int number, const QString &description)
{
    return QStringLiteral("Error loading program.\r") + QString::number(number) + QLatin1Char('\r')
           + description;
}

} // namespace clarow::retyper
