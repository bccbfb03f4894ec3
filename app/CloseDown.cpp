#include "app/CloseDown.h"

#include "core/Database.h"
#include "core/Logging.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/SerialPort.h"

#include <array>
#include <exception>

namespace clarow {

namespace {

void closePort()
{
    if (program().port && program().port->isOpen())
        program().port->close();
}

} // namespace

std::span<const CloseDownStep> CloseDownSteps()
{
    static const std::array<CloseDownStep, 4> steps = {{
        {"save windows", &SaveWindowPositions},
        {"close the port", &closePort},
        {"reset states", &ResetSensorStates},
        {"close the database", &CloseConnection},
    }};
    return steps;
}

void CloseDown()
{
    for (const CloseDownStep &step : CloseDownSteps()) {
        try {
            step.run();
            qCDebug(lcApp, "close-down: %s done", step.name);
        } catch (const std::exception &e) {
            qCWarning(lcApp, "close-down: %s failed: %s", step.name, e.what());
        }
    }
}

} // namespace clarow
