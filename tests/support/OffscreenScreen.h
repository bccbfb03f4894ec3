#pragma once

#include <QByteArray>
#include <QDir>
#include <QSaveFile>

namespace clarow::test {

// Gives the offscreen platform a screen of its own size (96 dots per inch) for a whole test
// program: declare one as a global object of the test file, so that it is made before the
// application. Under another platform (a real display) it does nothing.
class OffscreenScreen
{
public:
    OffscreenScreen(int width, int height)
    {
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        if (!platform.isEmpty() && platform != "offscreen")
            return;
        const QString path = QDir::temp().filePath(
            QStringLiteral("clarow-screen-%1x%2.json").arg(width).arg(height));
        // Test programs run side by side and share the file: it is replaced whole, never
        // rewritten in place, so that a program starting meanwhile never reads half of it.
        QSaveFile config(path);
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QStringLiteral(R"({"synchronousWindowSystemEvents": false, "windowFrameMargins": true,
 "screens": [{"name": "Screen", "x": 0, "y": 0, "width": %1, "height": %2,
              "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                         .arg(width)
                         .arg(height)
                         .toUtf8());
        if (!config.commit())
            return;
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + path.toLocal8Bit());
    }
};

} // namespace clarow::test
