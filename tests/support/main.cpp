// The main of every test program: an offscreen QApplication, UTC as the local time zone so
// that virtual dates never meet a daylight-saving jump, and a private settings folder so
// that no test reads or writes the developer's own settings. The ports are looked up as the
// programs do, in section [Ports] of that folder's store.
#include "core/Settings.h"
#include "link/SerialPort.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ctime>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "UTC");
    tzset();
    QTemporaryDir config;
    if (qEnvironmentVariableIsEmpty("CLAROW_TEST_KEEP_CONFIG"))
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());

    QApplication app(argc, argv);
    clarow::SetPortMap(clarow::StoredPortDevice);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
