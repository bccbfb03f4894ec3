#pragma once

#include <span>

namespace clarow {

// One step of the program's close-down, named for the developer log.
struct CloseDownStep
{
    const char *name;
    void (*run)();
};

// The close-down, in order: save the window positions, close the serial port, reset the
// sensors' alarm and mail states, close the database. Each step runs even when the one before
// failed, so the database is always closed at the end.
[[nodiscard]] std::span<const CloseDownStep> CloseDownSteps();

// Runs every close-down step; a step that fails is logged and the next one runs. Never throws.
void CloseDown();

} // namespace clarow
