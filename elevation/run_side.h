// The elevated run's side: the control panel started by its own elevation
// request. It shows no window, keeps out of the single-instance rule, and
// carries out the switch as an ordinary switch does.
#pragma once

#include "drivermode/mode_store.h"

namespace elevation {

// The elevated run, from its command line (elevation_protocol.h). Anything
// but exactly that form, or a pipe that cannot be opened or is no pipe, is
// refused whole before anything is stored, switched or written. Returns the
// exit code: 0 once it answered, ERROR_TIMEOUT when its switch was cut short
// at its limit (what it did not report is not known).
int ElevatedRunMain(int argc, const char* const* argv);

// What the elevated run does for `mode` once its answer has somewhere to go
// (the status output, in the wire's form): turns registry virtualization
// off, stores the mode and says whether it did, switches the Norza's
// functions of both modes on the route its bitness calls for (never asking
// for consent itself), each function's outcome going to the panel as it
// comes, and ends the answer. False when the switch was cut short.
bool AnswerElevatedRun(drivermode::DriverMode mode);

}  // namespace elevation
