// retyper: lists the multi-sensors on the adapter's bus and rewrites the type code of one.
#include "retyper/Messages.h"
#include "retyper/ui/MessageBoxShower.h"
#include "retyper/ui/SensorType.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("retyper"));
    QApplication::setApplicationVersion(QStringLiteral(CLAROW_VERSION));

    // Unattended runs (scripts, the demo without a display) write boxes to standard error.
    clarow::retyper::MessageBoxShower boxes;
    if (qEnvironmentVariableIsEmpty("CLAROW_UNATTENDED"))
        clarow::retyper::setMessages(&boxes);

    clarow::retyper::SensorType window;
    window.show();
    // The first scan runs once the window is on screen, so its status texts can be seen.
    QTimer::singleShot(0, &window, [&window] {
        if (!window.load())
            QApplication::exit(1);
    });
    const int rc = QApplication::exec();
    clarow::retyper::setMessages(nullptr);
    return rc;
}
