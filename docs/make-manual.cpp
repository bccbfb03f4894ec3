// Builds ClarowManual.pdf: the operator's manual written in docs/manual.md, with pictures of
// the program's real windows taken offscreen, printed with Qt's own PDF writer.
//
//   make-manual MANUAL.md DEMO-DATABASE-FOLDER OUTPUT.pdf
//
// The folder holds a clarowdata.mdb with demo sensors and history; it serves as the program
// folder while the windows are open, with a settings store of its own.
#include "app/Startup.h"
#include "app/ui/HelpAbout.h"
#include "app/ui/MainMDI.h"
#include "core/Database.h"
#include "core/Program.h"
#include "core/Prompter.h"
#include "firmware/ui/UpdCode.h"
#include "link/Clock.h"
#include "link/SerialPort.h"
#include "monitor/ui/Collection.h"
#include "options/ui/Options.h"
#include "retyper/ui/SensorType.h"
#include "views/ui/SensorOptions.h"
#include "views/ui/ViewWindows.h"

#include <QApplication>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPageLayout>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>

#include <cstdio>

using namespace clarow;

namespace {

constexpr int kWidestPicture = 560; // pixels; wider windows are scaled down to the page

// Every picture the manual refers to, by the name used in manual.md.
QList<QPair<QString, QImage>> g_pictures;

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

void keep(const QString &name, QWidget *w)
{
    settle();
    QImage image = w->grab().toImage();
    if (image.width() > kWidestPicture)
        image = image.scaledToWidth(kWidestPicture, Qt::SmoothTransformation);
    g_pictures.append({name, image});
}

template <class Window>
void keepAlone(const QString &name, Window *w)
{
    w->show();
    keep(name, w);
    w->close();
    delete w;
}

void takePictures()
{
    LoadSettingsAndDatabase();
    ApplyMdiFallbacks(program().settings);
    program().selectedSensor = QStringLiteral("28FF4A1C62160344");
    // The demo sensors were read just now, and one of them is too warm.
    Exec(QStringLiteral("UPDATE Sensors SET LastR=?"), {ToSerial(Now())});
    Exec(QStringLiteral("UPDATE Sensors SET cTmp=52.5, InAlarm=1, AlType=1 WHERE SensorID=?"),
         {QStringLiteral("28FF0B7D63160321")});

    MainMDI main;
    main.resize(1100, 520);
    main.show();
    main.dColl_Click();
    if (Collection *c = main.collection()) {
        c->cycle().stop();
        c->BuildFgrid();
        keep(QStringLiteral("main.png"), &main);
        keep(QStringLiteral("monitoring.png"), c);
    }

    keepAlone(QStringLiteral("options.png"), new Options);
    keepAlone(QStringLiteral("sensor-options.png"), new SensorOptions);
    keepAlone(QStringLiteral("about.png"), new HelpAbout);
    const auto port = MakeSerialPort();
    keepAlone(QStringLiteral("firmware.png"), new UpdCode(*port));
    keepAlone(QStringLiteral("retyper.png"), new retyper::SensorType);

    // The log and the graph open in the workspace, as from the "&Data" menu.
    main.mdiArea()->closeAllSubWindows();
    OpenLogView(main.mdiArea());
    if (QMdiSubWindow *sub = main.mdiArea()->activeSubWindow())
        keep(QStringLiteral("log.png"), sub->widget());
    main.mdiArea()->closeAllSubWindows();
    OpenGraphView(main.mdiArea());
    if (QMdiSubWindow *sub = main.mdiArea()->activeSubWindow()) {
        sub->resize(760, 480);
        keep(QStringLiteral("graph.png"), sub->widget());
    }
    main.mdiArea()->closeAllSubWindows();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc != 4) {
        std::fputs("usage: make-manual MANUAL.md DEMO-FOLDER OUTPUT.pdf\n", stderr);
        return 2;
    }
    qputenv("CLAROW_HOME", argv[2]);
    qputenv("XDG_CONFIG_HOME", QByteArray(argv[2]) + "/config");
    QApplication app(argc, argv);

    QFile text(QString::fromLocal8Bit(argv[1]));
    if (!text.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "make-manual: cannot read %s\n", argv[1]);
        return 1;
    }
    try {
        takePictures();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make-manual: the windows could not be opened: %s\n", e.what());
        return 1;
    }

    QTextDocument doc;
    doc.setMarkdown(QString::fromUtf8(text.readAll()));
    // After the text: setting the text drops the resources added before.
    for (const auto &[name, image] : g_pictures)
        doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("images/") + name), image);
    doc.setMetaInformation(QTextDocument::DocumentTitle, QStringLiteral("Clarow manual"));

    QPdfWriter pdf(QString::fromLocal8Bit(argv[3]));
    pdf.setTitle(QStringLiteral("Clarow manual"));
    pdf.setCreator(QStringLiteral("Clarow " CLAROW_VERSION));
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
    doc.print(&pdf);
    return 0;
}
