#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <memory>

class QLockFile;

namespace clarow {

struct Settings;
class SerialPort;

// A main window stored at zero position or size opens at 200, 200, 9000 × 6800 twips.
void ApplyMdiFallbacks(Settings &s);

// "Error " + context + CR + number + CR + description: the start-up failure message.
[[nodiscard]] QString StartupErrorText(int context, int number, const QString &description);

// Where a failure of the start-up happened, as its message gives it.
inline constexpr int kStartupContext = 25;

// The first steps of every start, with windows or without: the settings, then the database
// (an installed program first makes its data folder ready). Throws as OpenDatabase does.
void LoadSettingsAndDatabase();
// The "Error loading Clarow" text for a failure of the start-up, at program().errorContext.
[[nodiscard]] QString StartupFailureText(const std::exception &e);

// Looks for the adapter as the start-up does: one pass over the ports, and a second one when
// the first found nothing. 0 none, 1 firmware too old, 2 ready.
int FindAdapterAtStartup(SerialPort &port, const std::function<void(int)> &trying = {});

// Keeps a second clarow off the same program folder: both would fight over the adapter's
// port and the database file.
class InstanceLock
{
public:
    InstanceLock();
    ~InstanceLock();
    // True when this process now holds the program folder.
    [[nodiscard]] bool acquire();

private:
    std::unique_ptr<QLockFile> m_lock;
};

inline constexpr const char *kAlreadyRunningText =
    "Clarow is already running with this program folder.";

} // namespace clarow
