#include "shell/Settings.h"

#include "shell/Program.h"

namespace clarow {

// Stand-ins until the settings store lands.
void LoadOptions() {}
bool SaveOptions() { return true; }
void SaveWindowPositions() {}
void SavePortNumber(int port) { program().settings.PortNumber = static_cast<qint16>(port); }

} // namespace clarow
