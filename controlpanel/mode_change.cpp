#include "controlpanel/mode_change.h"

#include "controlpanel/default_endpoints.h"
#include "controlpanel/sound_devices.h"
#include "elevation/panel_side.h"

namespace controlpanel {

using drivermode::DriverMode;
using drivermode::SwitchOutcome;

bool StoreMode(DriverMode mode, bool storeAllowed) { return storeAllowed && drivermode::WriteAudioMode(mode); }

SwitchOutcome Switch(DriverMode mode, bool storeAlone) {
  return drivermode::ChooseRoute() == drivermode::Route::ThroughElevatedRun
             ? elevation::SwitchInElevatedRun(mode, storeAlone)
             : drivermode::ApplyDriverMode(mode);
}

SwitchOutcome Reapply(DriverMode mode, bool storeAllowed) {
  // Without the rights, storing the mode again rides along with an elevated
  // run the switch needs, and never asks for consent alone.
  SwitchOutcome outcome = Switch(mode, false);
  if (!outcome.stored) outcome.stored = StoreMode(mode, storeAllowed);
  return outcome;
}

ModeChange BeginModeChange(DriverMode selected, int current, bool storeAllowed) {
  ModeChange change;
  change.mode = selected;
  change.changed = selected != current;
  change.storeInRun = change.changed && drivermode::ChooseRoute() == drivermode::Route::ThroughElevatedRun;
  change.stored = !change.storeInRun && StoreMode(selected, storeAllowed);
  if (change.changed) {
    ReassignDefaultSoundDevices();
    ReassignDefaultAudioEndpoints();
  }
  return change;
}

SwitchOutcome FinishModeChange(ModeChange& change) {
  const SwitchOutcome outcome = Switch(change.mode, true);
  if (change.storeInRun) change.stored = outcome.stored;
  return outcome;
}

}  // namespace controlpanel
