// The control panel's elevated run. A panel without an administrator's rights
// starts its own file through the elevation request with the mode to apply
// and the pipe that takes the answer, nothing else; started so, the panel
// shows no window, keeps out of the single-instance rule, and carries out
// the switch as an ordinary switch does.
#pragma once

// Whether the command line asks for the elevated run: its first argument
// is the option. Any other command line starts the panel itself.
bool IsElevatedSwitchStart(int argc, const char* const* argv);

// The elevated run, from its command line. Anything but exactly
// "--switch-elevated <0|1> \\.\pipe\norza-<16 hex digits>", or a pipe that
// cannot be opened or is no pipe, is refused whole before anything is
// stored, switched or written. Returns the exit code: 0 once it answered.
int ElevatedSwitchMain(int argc, const char* const* argv);

// What the elevated run does for `mode` once its answer has somewhere to go
// (StatusOutput): turns registry virtualization off and stores the mode,
// selects the Norza's functions of both modes itself, switches them on the
// route its bitness calls for (never asking for consent itself), and writes
// their status lines and whether the mode was stored.
void AnswerElevatedSwitch(int mode);
