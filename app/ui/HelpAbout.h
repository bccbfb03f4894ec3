#pragma once

#include <QDialog>

namespace clarow {

// The About window: product name, maker line, version and the manual.
class HelpAbout : public QDialog
{
    Q_OBJECT
public:
    explicit HelpAbout(QWidget *parent = nullptr);

    // major.minor.revision of the program version, for example 2.0.5.
    [[nodiscard]] static QString versionText();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QSize m_fixed;
};

} // namespace clarow
