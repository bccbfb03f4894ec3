#pragma once

#include <QStringList>
#include <QWidget>

#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace clarow {

class SerialPort;

// "Update Varnex firmware": offers to replace an adapter's outdated firmware with the image
// built into the program, carries out the transfer with a progress bar, and asks for the
// monitoring window once the adapter is up to date. While the transfer runs it cannot be
// closed, nor can the main and monitoring windows.
class UpdCode : public QWidget
{
    Q_OBJECT
public:
    // port: the program's serial port, on which the transfer runs.
    explicit UpdCode(SerialPort &port, QWidget *parent = nullptr);

    // Sends these records instead of the built-in image (a shorter image for trials).
    void setImage(QStringList records) { m_image = std::move(records); }

    void Proceed_Click();
    void CancelBtn_Click();

Q_SIGNALS:
    // The adapter is ready for data collection: the monitoring window should open.
    void startMonitoring();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void transfer();
    void closeWindow();

    SerialPort &m_port;
    std::optional<QStringList> m_image;
    QLabel *m_message = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_proceed = nullptr;
    QPushButton *m_cancel = nullptr;
    bool m_monitoringAsked = false;
};

} // namespace clarow
