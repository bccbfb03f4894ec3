#include "retyper/ui/SensorType.h"

#include "link/TypeCodes.h"
#include "retyper/Inventory.h"
#include "retyper/Messages.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>
#include <new>

namespace clarow::retyper {

namespace {
constexpr int kErrOutOfMemory = 7;
constexpr int kErrInternal = 51;

template <typename T>
T *named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A drop-down list carries its caption for screen readers as well as its buddy label.
QComboBox *captioned(QComboBox *box, QLabel *caption)
{
    caption->setBuddy(box);
    box->setAccessibleName(caption->text());
    return box;
}
} // namespace

SensorType::SensorType(QWidget *parent)
    : QMainWindow(parent), m_MSCommStype(MakeSerialPort()), m_tool(*m_MSCommStype)
{
    setObjectName(QStringLiteral("SensorType"));
    setWindowTitle(QStringLiteral("Multi sensor configuration"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto *content = new QWidget(this);
    content->setObjectName(QStringLiteral("SensorTypeContent"));
    setCentralWidget(content);

    m_label2 = named(new QLabel(QStringLiteral("Port Number"), content), "Label2");
    m_portNoBx = captioned(named(new QComboBox(content), "PortNoBx"), m_label2);
    m_scanBtn = named(new QPushButton(QStringLiteral("Scan"), content), "ScanBtn");
    m_sensorLabel = named(new QLabel(QStringLiteral("Sensor"), content), "SensorLabel");
    m_sensorListBx = captioned(named(new QComboBox(content), "SensorListBx"), m_sensorLabel);
    // Wide enough from the start for the longest entry: a sensor line and the longest suffix.
    qsizetype longestSuffix = 0;
    for (const TypeCode &t : TypeCodes())
        longestSuffix = std::max(longestSuffix, TypeSuffix(QLatin1String(t.code)).size());
    m_sensorListBx->setMinimumContentsLength(kSensorLineLength + int(longestSuffix));
    m_sensorListBx->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_label1 = named(new QLabel(QStringLiteral("Change to type"), content), "Label1");
    m_sensorTypeBx = captioned(named(new QComboBox(content), "SensorTypeBx"), m_label1);
    m_applyBtn = named(new QPushButton(QStringLiteral("Apply"), content), "ApplyBtn");
    m_exitBtn = named(new QPushButton(QStringLiteral("Exit"), content), "ExitBtn");
    // The status text itself is what is read: no name of its own stands in front of it.
    m_statusLabel = named(new QLabel(content), "StatusLabel");

    auto *grid = new QGridLayout(content);
    grid->addWidget(m_label2, 0, 0);
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(m_portNoBx);
    portRow->addWidget(m_scanBtn);
    portRow->addStretch();
    grid->addLayout(portRow, 0, 1, 1, 2);
    grid->addWidget(m_sensorLabel, 1, 0);
    grid->addWidget(m_sensorListBx, 1, 1, 1, 2);
    grid->addWidget(m_label1, 2, 0);
    grid->addWidget(m_sensorTypeBx, 2, 1, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_applyBtn);
    buttons->addWidget(m_exitBtn);
    grid->addLayout(buttons, 3, 0, 1, 3);
    grid->addWidget(m_statusLabel, 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    m_tool.onStatus([this](const QString &text) { m_statusLabel->setText(text); });
    m_tool.onList([this](const QStringList &entries, int selected) { showList(entries, selected); });

    connect(m_portNoBx, &QComboBox::currentIndexChanged, this, &SensorType::PortNoBx_Click);
    connect(m_scanBtn, &QPushButton::clicked, this, &SensorType::ScanBtn_Click);
    connect(m_applyBtn, &QPushButton::clicked, this, &SensorType::ApplyBtn_Click);
    connect(m_exitBtn, &QPushButton::clicked, this, &SensorType::ExitBtn_Click);
    connect(m_sensorListBx, &QComboBox::currentIndexChanged, this, &SensorType::SensorListBx_Click);
    connect(m_sensorTypeBx, &QComboBox::currentIndexChanged, this, &SensorType::SensorTypeBx_Click);
}

SensorType::~SensorType() = default;

bool SensorType::load()
{
    try {
        {
            const QSignalBlocker blockPorts(m_portNoBx);
            m_portNoBx->clear();
            for (int n = kFirstPort; n <= kLastPort; ++n)
                m_portNoBx->addItem(QString::number(n));
            m_portNoBx->setCurrentIndex(0);
        }
        PortNoBx_Click();
        {
            const QSignalBlocker blockTypes(m_sensorTypeBx);
            m_sensorTypeBx->clear();
            m_sensorTypeBx->addItems(TypeEntries());
            m_sensorTypeBx->setCurrentIndex(0);
        }
        m_statusLabel->clear();
        updateApply();
        ScanBtn_Click();
        return true;
    } catch (const std::bad_alloc &) {
        messages().show(LoadErrorText(kErrOutOfMemory, QStringLiteral("Out of memory")), windowTitle());
    } catch (const std::exception &e) {
        messages().show(LoadErrorText(kErrInternal, QString::fromLocal8Bit(e.what())), windowTitle());
    }
    return false;
}

void SensorType::PortNoBx_Click()
{
    m_tool.choosePort(m_portNoBx->currentText().toInt());
    showPortDevice();
}

void SensorType::showPortDevice()
{
    m_portNoBx->setToolTip(QStringLiteral("Device: ") + PortDeviceName(m_tool.portNumber()));
}

void SensorType::ScanBtn_Click()
{
    if (m_tool.scan())
        afterExchange();
}

void SensorType::ApplyBtn_Click()
{
    if (m_tool.busy())
        return;
    m_applyBtn->setEnabled(false);
    if (m_tool.apply(m_sensorListBx->currentText(), m_sensorTypeBx->currentText()))
        afterExchange();
}

void SensorType::SensorListBx_Click() { updateApply(); }

void SensorType::SensorTypeBx_Click() { updateApply(); }

void SensorType::ExitBtn_Click() { close(); }

void SensorType::showList(const QStringList &entries, int selected)
{
    {
        const QSignalBlocker block(m_sensorListBx);
        m_sensorListBx->clear();
        m_sensorListBx->addItems(entries);
        m_sensorListBx->setCurrentIndex(selected);
    }
    updateApply();
}

void SensorType::updateApply()
{
    m_applyBtn->setEnabled(ApplyAllowed(m_sensorListBx->currentText(), m_sensorTypeBx->currentText()));
}

void SensorType::afterExchange()
{
    if (m_closePending)
        close();
}

void SensorType::closeEvent(QCloseEvent *event)
{
    // The exchange that is waiting further up must end before the window goes.
    if (m_tool.busy()) {
        m_closePending = true;
        m_tool.stop();
        event->ignore();
        return;
    }
    m_tool.closePort();
    event->accept();
}

} // namespace clarow::retyper
