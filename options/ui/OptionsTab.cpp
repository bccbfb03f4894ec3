#include "options/ui/OptionsTab.h"

#include <QCheckBox>
#include <QLineEdit>

namespace clarow {

OptionsTab::OptionsTab(QWidget *parent) : QWidget(parent) {}

QLineEdit *OptionsTab::bind(QLineEdit *box, QString OptionsForm::*field)
{
    m_texts.emplace_back(box, field);
    connect(box, &QLineEdit::textChanged, this, &OptionsTab::changed);
    return box;
}

QCheckBox *OptionsTab::bind(QCheckBox *box, bool OptionsForm::*field)
{
    m_checks.emplace_back(box, field);
    connect(box, &QCheckBox::toggled, this, &OptionsTab::changed);
    return box;
}

void OptionsTab::load(const OptionsForm &f)
{
    for (const auto &[box, field] : m_texts)
        box->setText(f.*field);
    for (const auto &[box, field] : m_checks)
        box->setChecked(f.*field);
}

void OptionsTab::store(OptionsForm &f) const
{
    for (const auto &[box, field] : m_texts)
        f.*field = box->text();
    for (const auto &[box, field] : m_checks)
        f.*field = box->isChecked();
}

} // namespace clarow
