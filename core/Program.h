#pragma once

#include "core/Settings.h"

#include <QDateTime>
#include <QString>

namespace clarow {

class SerialPort;

// The values that live for the whole run of the program.
struct Program
{
    Settings settings;
    QString selectedSensor;   // sensor picked in the status grid, as the views see it
    int lastViewChoice = 0;   // 0 graph, 1 sensor options, 2 data log
    bool adapterOK = false;   // an adapter with suitable firmware was found or upgraded
    bool upgrading = false;   // a firmware transfer runs; windows refuse to close
    bool optionsOpen = false; // the Options dialog is loaded
    bool closing = false;     // the program is closing down: long waits give up early
    bool portBusy = false;    // a scan's exchange uses the serial port
    int portLoans = 0;        // windows that borrowed the serial port: no scan starts
    int longPortLoans = 0;    // of those, the long ones (the search of all ports)
    QDateTime scanSlot;       // start of the current logging slot; invalid until the first tick
    QDateTime nextScan;       // the next reading at or after this time goes to the history
    QString mailFailure;          // the alarm mail failure last logged; empty while mail works
    QDateTime mailFailureLogged;  // when that failure was last written to the log
    QDateTime mailFailingSince;   // when alarm mail started failing
    int errorContext = 0;     // where the start-up was when it failed
    double twipsPerPixelX = 15.0;
    double twipsPerPixelY = 15.0;
    SerialPort *port = nullptr; // the one serial port, owned by the main window
};

Program &program();
// Back to the values of a fresh start (tests).
void resetProgram();

// The screen's twips per pixel (15 until the start-up has read the screen), and lengths in
// twips (1/1440 inch, as positions and sizes are stored) as whole pixels.
[[nodiscard]] double TwipsPerPixelX();
[[nodiscard]] double TwipsPerPixelY();
[[nodiscard]] int TwipsToPixelsX(double twips);
[[nodiscard]] int TwipsToPixelsY(double twips);
// Records a length in pixels in a stored length in twips. The stored value stays while it
// still gives the same pixels, so that a window opened and closed again does not creep.
void RecordPixelsX(qint32 &twips, int px);
void RecordPixelsY(qint32 &twips, int px);

// The program folder: $CLAROW_HOME when set, else the folder of the executable when a
// clarowdata.mdb lies beside it (a build or a copied folder), else the user's data folder
// (an installed program, whose own folder is not writable). It holds clarowdata.mdb and the
// daily .log files.
[[nodiscard]] QString ProgramFolder();
// The folder of an installed program's shared files (the empty database, the manual):
// ../share/clarow beside the executable's folder.
[[nodiscard]] QString SharedFilesFolder();
// Makes the user's data folder of an installed program ready at its first start: creates it
// and puts a copy of the empty database there. Does nothing for $CLAROW_HOME or a folder
// that has its database. Empty when all is well, else what went wrong.
[[nodiscard]] QString PrepareProgramFolder();
// The manual: ClarowManual.pdf in the program folder, beside the executable, or among the
// installed shared files, whichever is found first.
[[nodiscard]] QString ManualPath();
// The database file in the program folder.
[[nodiscard]] QString DatabasePath();

} // namespace clarow
