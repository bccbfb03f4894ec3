#include "app/ui/HelpAbout.h"

#include "core/Program.h"
#include "core/ui/Fields.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <QVersionNumber>

namespace clarow {

namespace {
constexpr int kWidthTwips = 5805;
constexpr int kHeightTwips = 3435;
} // namespace

QString HelpAbout::versionText()
{
    const QVersionNumber v = QVersionNumber::fromString(QStringLiteral(CLAROW_VERSION));
    return QStringLiteral("%1.%2.%3").arg(v.majorVersion()).arg(v.minorVersion()).arg(v.microVersion());
}

HelpAbout::HelpAbout(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("HelpAbout"));
    setWindowTitle(QStringLiteral("About Clarow"));

    auto *product = NewLabel(this, "ProductLabel", QStringLiteral("Clarow"));
    QFont f = product->font();
    f.setPointSize(f.pointSize() * 2);
    f.setBold(true);
    product->setFont(f);
    auto *maker = NewLabel(this, "MakerLabel", QStringLiteral("Quillmark, 2005-2026"));
    auto *version = NewLabel(this, "VersionLabel", versionText());

    // Not NewButton: in this dialog Enter presses the button that has the focus.
    auto *closeBtn = Named(new QPushButton(QStringLiteral("&Close"), this), "CloseBtn");
    auto *manualBtn = Named(new QPushButton(QStringLiteral("&Manual"), this), "ManualBtn");
    connect(closeBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(manualBtn, &QPushButton::clicked, this, [] {
        // Nothing opens and nothing is said when the desktop has no viewer for it.
        QDesktopServices::openUrl(QUrl::fromLocalFile(ManualPath()));
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(product);
    layout->addWidget(maker);
    layout->addWidget(version);
    layout->addStretch();
    layout->addLayout(ButtonRow({manualBtn, closeBtn}));

    m_fixed = QSize(TwipsToPixelsX(kWidthTwips), TwipsToPixelsY(kHeightTwips));
    resize(m_fixed);
}

void HelpAbout::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (event->size() != m_fixed)
        resize(m_fixed);
}

} // namespace clarow
