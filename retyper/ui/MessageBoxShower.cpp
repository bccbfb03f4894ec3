#include "retyper/ui/MessageBoxShower.h"

#include <QMessageBox>

namespace clarow::retyper {

void MessageBoxShower::show(const QString &text, const QString &title)
{
    // The texts break lines with a carriage return; the box wants a line feed.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(QMessageBox::NoIcon, title, shown, QMessageBox::Ok);
    box.exec();
}

} // namespace clarow::retyper
