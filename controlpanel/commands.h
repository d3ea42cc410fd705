// The control panel's commands for scripts (command_line.h): a mode's
// switch without the dialog, and the functions' state. Status lines and
// messages go to the status output.
#pragma once

#include <cstdint>

#include "controlpanel/command_line.h"

namespace controlpanel {

// One control panel switching at a time, in the session: the dialog holds
// it from its start, --mode while it runs.
constexpr char kInstanceMutex[] = "QuorvinNorzaControlPanel";

// Runs a command other than Dialog and returns the process's exit code.
uint32_t RunCommand(const Command& command);

}  // namespace controlpanel
