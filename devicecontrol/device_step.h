// A step of state changes: the batches of one switch (one mode's functions
// enabled, then the other's disabled), their devices selected in one walk
// before any is changed, and what came of each. Every route takes a step:
// in this process (here), through the device helper (helper_step.h), through
// the control panel's elevated run (elevation/).
#pragma once

#include <cstddef>
#include <cstdint>

#include "devicecontrol/device_walk.h"
#include "devicecontrol/state_change.h"
#include "wire/growing.h"
#include "wire/status_line.h"

namespace devicecontrol {

// A step enables one mode's functions, then disables the other's.
constexpr std::size_t kMaxStepBatches = kMaxPatternLists;

// One batch of a step: the devices its patterns select get `stateChange`.
struct StateChangeBatch {
  int32_t count;
  const char* const* patterns;
  DWORD stateChange;
  DeviceStateChangeContext outcome;  // filled by the step
  int32_t result;                    // of the walk, as ForEachMatchingDevice gives it
};

struct StepDevice {
  SP_DEVINFO_DATA element;
  uint32_t batch;               // the batch that selected it
  bool already;                 // in the state its batch asks for, as selected
  wire::DeviceOutcome outcome;  // its ID as read; what came of it (Failed until known)
};

// The step's devices, selected batch by batch: the first batch's in the
// walk's order, then the second's.
class Step : platform::noncopyable {
 public:
  // Readies the batches' outcomes and selects their present devices.
  Step(StateChangeBatch* batches, std::size_t count);

  std::size_t batchCount() const { return count_; }
  StateChangeBatch& batch(std::size_t b) { return batches_[b]; }
  std::size_t deviceCount() const { return devices_.size(); }
  StepDevice& device(std::size_t i) { return devices_[i]; }
  // A device another process can be handed: one whose ID could be read and
  // that is not already in its state.
  bool ToChange(std::size_t i) const { return devices_[i].outcome.id[0] != '\0' && !devices_[i].already; }
  std::size_t ToChangeCount() const;

  // Changes each device here, batch after batch, one line each as it goes.
  void ChangeAll();
  // The outcomes of the devices another process is handed, in the step's
  // order, for its answer to fill: every device, or only those ToChange.
  bool HandOver(bool everyDevice, wire::Growing<wire::DeviceOutcome*>* slots);
  // After such an answer (`answered`: it gave every handed device's
  // outcome) or none: a device without one reads as done when it was
  // selected in its state, and otherwise as failed with `error`
  // (ERROR_NOT_FOUND for one whose ID could not be read).
  void Settle(bool everyDevice, bool answered, DWORD error);
  // For an outcome another process gave: each device's line, batch after
  // batch, counted into its batch's outcome.
  void Report();

 private:
  static int32_t Remember(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, std::size_t which,
                          DeviceIds& ids, void* context);

  StateChangeBatch* batches_;
  std::size_t count_;
  wire::Growing<StepDevice> devices_;
  HDEVINFO sets_[kMaxStepBatches] = {};  // each batch's set, which the elements belong to
  platform::unique_hdevinfo shared_;
  platform::unique_hdevinfo own_[kMaxStepBatches];
};

// The step in this process: selected and changed on a thread of its own, for
// at most `limit` milliseconds, while this thread's messages go on (a class
// installer's call may never return). False when the limit cut it short:
// then what became of the devices it did not report is not known (the
// outcomes are empty), and it prints no more; the process is expected to end
// before long, and that thread with it.
bool ChangeInProcess(StateChangeBatch* batches, std::size_t count, DWORD limit);

}  // namespace devicecontrol
