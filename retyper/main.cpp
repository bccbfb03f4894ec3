#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Multi-sensor type tool"));
    label.setObjectName(QStringLiteral("SensorType"));
    label.show();
    return app.exec();
}
