#include "app/ui/HelpAbout.h"

#include "core/Program.h"

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

    auto *product = new QLabel(QStringLiteral("Clarow"), this);
    product->setObjectName(QStringLiteral("ProductLabel"));
    QFont f = product->font();
    f.setPointSize(f.pointSize() * 2);
    f.setBold(true);
    product->setFont(f);
    auto *maker = new QLabel(QStringLiteral("Quillmark, 2005-2026"), this);
    maker->setObjectName(QStringLiteral("MakerLabel"));
    auto *version = new QLabel(versionText(), this);
    version->setObjectName(QStringLiteral("VersionLabel"));

    auto *closeBtn = new QPushButton(QStringLiteral("&Close"), this);
    closeBtn->setObjectName(QStringLiteral("CloseBtn"));
    auto *manualBtn = new QPushButton(QStringLiteral("&Manual"), this);
    manualBtn->setObjectName(QStringLiteral("ManualBtn"));
    connect(closeBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(manualBtn, &QPushButton::clicked, this, [] {
        // Nothing opens and nothing is said when the desktop has no viewer for it.
        QDesktopServices::openUrl(QUrl::fromLocalFile(ManualPath()));
    });

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(manualBtn);
    buttons->addWidget(closeBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(product);
    layout->addWidget(maker);
    layout->addWidget(version);
    layout->addStretch();
    layout->addLayout(buttons);

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
