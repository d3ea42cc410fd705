// The elevated run's side: the control panel started by its own elevation
// request. It shows no window, keeps out of the single-instance rule, and
// carries out the switch as an ordinary switch does.
#pragma once

namespace elevation {

// The elevated run, from its command line (elevation_protocol.h). Anything
// but exactly that form, or a pipe that cannot be opened or is no pipe, is
// refused whole before anything is stored, switched or written. Returns the
// exit code: 0 once it answered.
int ElevatedRunMain(int argc, const char* const* argv);

// What the elevated run does for `mode` once its answer has somewhere to go
// (the status output): turns registry virtualization off and stores the
// mode, switches the Norza's functions of both modes on the route its
// bitness calls for (never asking for consent itself), and writes their
// status lines and whether the mode was stored.
void AnswerElevatedRun(int mode);

}  // namespace elevation
