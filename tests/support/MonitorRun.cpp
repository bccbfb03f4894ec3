#include "MonitorRun.h"

#include "core/Program.h"
#include "link/Clock.h"
#include "monitor/ui/Collection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QSettings>

namespace clarow::test {

void StoreSettings(const QList<QPair<QString, QString>> &values)
{
    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    for (const auto &[key, value] : values)
        s.setValue(QStringLiteral("ClarowMon/") + key, value);
    s.sync();
}

QList<QPair<QString, QString>> AlarmMailSettings(int port)
{
    return {{QStringLiteral("SendMailAlarm"), QStringLiteral("True")},
            {QStringLiteral("SendMailRtn"), QStringLiteral("True")},
            {QStringLiteral("MinsConsecutive"), QStringLiteral("1")},
            {QStringLiteral("MailAddress"), QStringLiteral("operator@cold.store")},
            {QStringLiteral("MailFrom"), QStringLiteral("clarow@cold.store")},
            {QStringLiteral("MailServer"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("MailPort"), QString::number(port)},
            {QStringLiteral("MailSubjectA"), QStringLiteral("Sensor alarm")},
            {QStringLiteral("MailSubjectR"), QStringLiteral("Sensors back to normal")}};
}

MonitorRun::MonitorRun() : m_main(std::make_unique<MainMDI>()) {}

MonitorRun::~MonitorRun()
{
    m_main->close();
}

bool MonitorRun::start()
{
    if (!m_main->startUp())
        return false;
    m_monitor = m_main->collection();
    if (!m_monitor)
        return false;
    auto *status = m_monitor->findChild<QLineEdit *>(QStringLiteral("StatusBx"));
    if (!status)
        return false;
    QObject::connect(status, &QLineEdit::textChanged, status, [this](const QString &t) { m_statuses << t; });
    return true;
}

int MonitorRun::scans() const
{
    return m_monitor ? m_monitor->cycle().scanCount() : 0;
}

bool MonitorRun::runScans(int count, int ms)
{
    if (!m_monitor)
        return false;
    const int target = scans() + count;
    return RunUntil(
        [&] {
            const bool busy = m_monitor->cycle().scanning();
            // A whole minute behind: a scan is due at once, and its reading is logged.
            if (!busy)
                program().nextScan = NowWholeSeconds().addSecs(-60);
            return scans() >= target && !busy;
        },
        ms);
}

std::string MonitorRun::statusText() const
{
    return "statuses: " + m_statuses.join(QStringLiteral(" | ")).toStdString();
}

} // namespace clarow::test
