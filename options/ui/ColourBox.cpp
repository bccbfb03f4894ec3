#include "options/ui/ColourBox.h"

#include "core/Helpers.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace clarow {

ColourBox::ColourBox(int index, const QString &caption, QWidget *parent) : QFrame(parent), m_index(index)
{
    setObjectName(QStringLiteral("ColBx"));
    setProperty("index", index);
    setAccessibleName(caption);
    setToolTip(caption);
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(36, 20);
}

void ColourBox::setColour(qint32 colour)
{
    m_colour = colour;
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor::fromRgb(StoredColourToRgb(colour)));
    setPalette(p);
}

void ColourBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    if (m_onActivate)
        m_onActivate();
}

void ColourBox::keyPressEvent(QKeyEvent *event)
{
    const int k = event->key();
    if ((k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Space) && m_onActivate) {
        event->accept();
        m_onActivate();
        return;
    }
    QFrame::keyPressEvent(event);
}

} // namespace clarow
