#include "firmware/ui/UpdCode.h"

#include "core/PortLoan.h"
#include "core/Program.h"
#include "core/ui/Fields.h"
#include "firmware/HexImage.h"
#include "firmware/Upgrade.h"
#include "link/Clock.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace clarow {

namespace {
constexpr double kAfterTransferSeconds = 2.0;
} // namespace

UpdCode::UpdCode(SerialPort &port, QWidget *parent)
    : QWidget(parent)
    , m_port(port)
{
    setObjectName(QStringLiteral("UpdCode"));
    setWindowTitle(QStringLiteral("Update Varnex firmware"));

    QString offer = UpgradeOfferText();
    offer.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    m_message = NewLabel(this, "MessageLbl", offer);
    m_message->setWordWrap(true);
    // Wide enough for the message's longest line, whatever the font size.
    m_message->setMinimumWidth(
        m_message->fontMetrics().horizontalAdvance(offer.section(QLatin1Char('\n'), 0, 0)));

    auto *noteCaption = NewLabel(this, "NoteLbl", QStringLiteral("Note:"));
    QFont bold = noteCaption->font();
    bold.setBold(true);
    noteCaption->setFont(bold);
    auto *note = NewLabel(this, "NoteTextLbl", QLatin1String(kUpgradeNoteText));
    note->setWordWrap(true);

    m_progress = Named(new QProgressBar(this), "ProgressBar1");
    m_progress->setRange(0, kImageRecords - 1);
    m_progress->setValue(0);
    m_progress->setAccessibleName(QStringLiteral("Upgrade progress"));

    m_proceed = NewButton(this, "Proceed", QStringLiteral("Proceed"));
    m_proceed->setDefault(true);
    m_cancel = NewButton(this, "CancelBtn", QStringLiteral("Cancel"));
    connect(m_proceed, &QPushButton::clicked, this, &UpdCode::Proceed_Click);
    connect(m_cancel, &QPushButton::clicked, this, &UpdCode::CancelBtn_Click);

    auto *noteRow = new QGridLayout;
    noteRow->addWidget(noteCaption, 0, 0, Qt::AlignTop);
    noteRow->addWidget(note, 0, 1);
    noteRow->setColumnStretch(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_message);
    layout->addLayout(noteRow);
    layout->addWidget(m_progress);
    layout->addLayout(ButtonRow({m_proceed, m_cancel}));
}

void UpdCode::Proceed_Click()
{
    m_proceed->setEnabled(false);
    m_cancel->setEnabled(false);
    // Started from the Options dialog, the transfer may be asked for in the middle of a scan
    // or of a port test: it begins once that has let go of the port, never inside it.
    WhenPortFree(this, [this] { transfer(); });
}

void UpdCode::transfer()
{
    bool ok = false;
    {
        PortLoan loan;
        oPort(m_port);
        const QStringList records = m_image ? *m_image : LoadCode();
        ok = UpgradeVarnex(m_port, records, [this](int record) { m_progress->setValue(record); });
        // The windows stay as they are until the adapter has had its time to restart.
        Pause(kAfterTransferSeconds);
        program().upgrading = false;
    }
    if (ok) {
        m_monitoringAsked = true;
        Q_EMIT startMonitoring();
    }
    closeWindow();
}

void UpdCode::CancelBtn_Click()
{
    program().upgrading = false;
    closeWindow();
}

void UpdCode::closeWindow() { CloseWindow(this); }

void UpdCode::closeEvent(QCloseEvent *event)
{
    if (program().upgrading) {
        event->ignore();
        return;
    }
    event->accept();
    if (program().adapterOK && !m_monitoringAsked) {
        m_monitoringAsked = true;
        Q_EMIT startMonitoring();
    }
}

} // namespace clarow
