#pragma once

#include "options/OptionsForm.h"

#include <QWidget>

#include <utility>
#include <vector>

class QCheckBox;
class QLineEdit;

namespace clarow {

// A page of Main Options that shows part of OptionsForm: its text boxes and check boxes are
// bound to their fields, so that loading and storing them is one rule for every page. A page
// with other controls extends load and store.
class OptionsTab : public QWidget
{
    Q_OBJECT
public:
    // The form's values into the controls.
    virtual void load(const OptionsForm &f);
    // The controls' values into the form.
    virtual void store(OptionsForm &f) const;

Q_SIGNALS:
    // Any edit, any choice toggled (by a click, a key or a screen reader).
    void changed();

protected:
    explicit OptionsTab(QWidget *parent = nullptr);

    // The box shows field; its edits are changes.
    QLineEdit *bind(QLineEdit *box, QString OptionsForm::*field);
    QCheckBox *bind(QCheckBox *box, bool OptionsForm::*field);

private:
    std::vector<std::pair<QLineEdit *, QString OptionsForm::*>> m_texts;
    std::vector<std::pair<QCheckBox *, bool OptionsForm::*>> m_checks;
};

} // namespace clarow
