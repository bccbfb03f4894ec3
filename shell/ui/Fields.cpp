#include "shell/ui/Fields.h"

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>

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

void SetEditable(QLineEdit *box, bool on)
{
    box->setEnabled(on);
    QPalette p = box->palette();
    p.setColor(QPalette::Base, on ? kOpen : kShut);
    p.setColor(QPalette::Disabled, QPalette::Base, kShut);
    box->setPalette(p);
}

} // namespace clarow
