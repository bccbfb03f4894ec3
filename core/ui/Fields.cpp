#include "core/ui/Fields.h"

#include <QCheckBox>
#include <QColor>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>

namespace clarow {

namespace {
const QColor kOpen(0xFF, 0xFF, 0xFF);
const QColor kShut(0xE0, 0xE0, 0xE0);
// Wide enough for eight digits.
constexpr int kNumberDigits = 8;
} // namespace

QLineEdit *NewEdit(QWidget *parent, const char *name, const QString &caption)
{
    auto *box = Named(new QLineEdit(parent), name);
    box->setAccessibleName(caption);
    return box;
}

QLineEdit *NewResultBox(QWidget *parent, const char *name, const QString &caption)
{
    QLineEdit *box = NewEdit(parent, name, caption);
    box->setReadOnly(true);
    return box;
}

QLabel *NewLabel(QWidget *parent, const char *name, const QString &text)
{
    return Named(new QLabel(text, parent), name);
}

QLabel *CaptionFor(const QString &text, QWidget *field)
{
    auto *label = new QLabel(text, field->parentWidget());
    label->setBuddy(field);
    if (field->accessibleName().isEmpty())
        field->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    return label;
}

QLabel *CaptionFor(const QString &text, QWidget *field, const char *name)
{
    return Named(CaptionFor(text, field), name);
}

QPushButton *NewButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *b = Named(new QPushButton(caption, parent), name);
    b->setAutoDefault(false);
    return b;
}

QCheckBox *NewCheck(QWidget *parent, const char *name, const QString &caption)
{
    return Named(new QCheckBox(caption, parent), name);
}

QRadioButton *NewOption(QWidget *parent, const char *name, const QString &caption)
{
    return Named(new QRadioButton(caption, parent), name);
}

void AddField(QFormLayout *form, const QString &caption, QWidget *field)
{
    form->addRow(CaptionFor(caption, field), field);
}

void AddField(QFormLayout *form, const QString &caption, QWidget *field, QLayout *row)
{
    form->addRow(CaptionFor(caption, field), row);
}

void AddNumberBox(QHBoxLayout *row, QLineEdit *box, const QString &unit)
{
    box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QLatin1Char('0')) * kNumberDigits + 12);
    row->addWidget(box);
    row->addWidget(new QLabel(unit, box->parentWidget()));
}

QHBoxLayout *ButtonRow(std::initializer_list<QWidget *> right, std::initializer_list<QWidget *> left)
{
    auto *row = new QHBoxLayout;
    for (QWidget *w : left)
        row->addWidget(w);
    row->addStretch();
    for (QWidget *w : right)
        row->addWidget(w);
    return row;
}

void CloseWindow(QWidget *window)
{
    if (auto *frame = qobject_cast<QMdiSubWindow *>(window->parentWidget()))
        frame->close();
    else
        window->close();
}

void SetBackground(QLineEdit *box, const QColor &colour)
{
    QPalette p = box->palette();
    p.setColor(QPalette::Base, colour);
    box->setPalette(p);
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
