#pragma once

#include <QObject>

class QSocketNotifier;

namespace clarow {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread, so the program closes
// down exactly as "E&xit" does instead of dying with its state half written.
class ShutdownSignals : public QObject
{
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject *parent = nullptr);
    ~ShutdownSignals() override;

Q_SIGNALS:
    void requested();

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace clarow
