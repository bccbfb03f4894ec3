#include "app/ui/MessageBoxPrompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace clarow {

namespace {
bool g_dismissing = false;
QPointer<QMessageBox> g_open;

QMessageBox::Icon toIcon(Icon icon)
{
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Exclamation:
        return QMessageBox::Warning;
    case Icon::Critical:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toButtons(Buttons b)
{
    switch (b) {
    case Buttons::Ok:
        return QMessageBox::Ok;
    case Buttons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case Buttons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Buttons::RetryCancel:
        return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}
} // namespace

Answer MessageBoxPrompter::ask(const QString &text, const QString &title, Buttons buttons, Icon icon)
{
    if (g_dismissing)
        return Answer::Cancel;
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(toIcon(icon), title, shown, toButtons(buttons), QApplication::activeWindow());
    g_open = &box;
    const int r = box.exec();
    g_open = nullptr;
    if (g_dismissing)
        return Answer::Cancel;
    switch (r) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Retry:
        return Answer::Retry;
    default:
        return Answer::Cancel;
    }
}

void MessageBoxPrompter::restoreCursor()
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void MessageBoxPrompter::dismissAll()
{
    g_dismissing = true;
    if (g_open)
        g_open->done(QMessageBox::Cancel);
}

} // namespace clarow
