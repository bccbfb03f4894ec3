#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("clarow"));
    app.setApplicationVersion(QStringLiteral(CLAROW_VERSION));
    return 0;
}
