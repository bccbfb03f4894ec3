#include "core/ui/Fields.h"

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPalette>
#include <QPushButton>

namespace clarow {

namespace {
const QColor kOpen(0xFF, 0xFF, 0xFF);
const QColor kShut(0xE0, 0xE0, 0xE0);
} // namespace

QLineEdit *NewEdit(QWidget *parent, const char *name, const QString &caption)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(caption);
    return box;
}

QLabel *CaptionFor(const QString &text, QWidget *field)
{
    auto *label = new QLabel(text, field->parentWidget());
    label->setBuddy(field);
    if (field->accessibleName().isEmpty())
        field->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    return label;
}

QPushButton *NewButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

void CloseWindow(QWidget *window)
{
    if (auto *frame = qobject_cast<QMdiSubWindow *>(window->parentWidget()))
        frame->close();
    else
        window->close();
}

void SetEditable(QLineEdit *box, bool on)
{
    box->setEnabled(on);
    QPalette p = box->palette();
    p.setColor(QPalette::Base, on ? kOpen : kShut);
    p.setColor(QPalette::Disabled, QPalette::Base, kShut);
    box->setPalette(p);
}

} // namespace clarow
