#pragma once

#include <QFrame>

#include <functional>

namespace clarow {

// A box that shows one of the program's colours (0x00BBGGRR, red in the low byte). A
// double-click, or Enter or Space while it has the focus, asks for another colour.
class ColourBox : public QFrame
{
    Q_OBJECT
public:
    ColourBox(int index, const QString &caption, QWidget *parent = nullptr);

    void setColour(qint32 colour);
    [[nodiscard]] qint32 colour() const { return m_colour; }
    [[nodiscard]] int index() const { return m_index; }
    void setOnActivate(std::function<void()> f) { m_onActivate = std::move(f); }

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    int m_index;
    qint32 m_colour = 0;
    std::function<void()> m_onActivate;
};

} // namespace clarow
