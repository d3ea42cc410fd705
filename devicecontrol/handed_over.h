// A step of state changes handed to another process: the device helper, or
// the control panel's elevated run. The devices are selected here, as an
// ordinary switch selects them; the other process answers with their status
// lines, which are read back against what was expected and printed here in
// the walk's order.
#pragma once

#include <cstddef>

#include "devicecontrol/device_status.h"
#include "wire/helper_protocol.h"
#include "platform/unique_handle.h"
#include "devicecontrol/state_change.h"
#include "devicecontrol/step_selection.h"
#include "wire/status_answer.h"

// How the other process's part of a step went.
enum class RunOutcome {
  NotNeeded,   // nothing to hand to it
  Answered,    // it answered for every device
  Failed,      // it ran, but its answer is missing or wrong: every device it had reads "Fail"
  NotStarted,  // it did not start
  TimedOut,    // it was ended at its limit: what it did is not known, and every device it had reads "Fail"
};

// Devices the platform names can be handed over; those already in state need not be.
inline bool ToBeChanged(const SelectedDevice& device) { return device.id[0] != '\0' && !device.already; }

// The devices of a step's batches, in the walk's order, and the words each
// batch's lines carry.
class HandedOverStep {
 public:
  // Begins the step and selects the devices of every batch (each walk's
  // result goes to its batch).
  HandedOverStep(StateChangeBatch* batches, std::size_t count);
  HandedOverStep(const HandedOverStep&) = delete;
  HandedOverStep& operator=(const HandedOverStep&) = delete;

  std::size_t batchCount() const { return count_; }
  const StateChangeBatch& batch(std::size_t b) const { return batches_[b]; }
  std::size_t devices(std::size_t b) const { return selection_.devices(b); }
  const SelectedDevice& device(std::size_t b, std::size_t i) const { return selection_.device(b, i); }
  // Every device selected, and those of them that must change.
  std::size_t selected() const;
  std::size_t toChange() const;

  // The line the other process owes each device it is handed: every selected
  // one (`everyDevice`: it finds them again itself), or those to change.
  // False when there is no memory for them.
  bool Expect(bool everyDevice);
  const ExpectedLine* expected() const { return expected_.get(); }
  std::size_t expectedCount() const { return expectedCount_; }
  // Where the answer's word for each expected line goes.
  std::size_t* answers() const { return answers_.get(); }

  // Prints the step's lines and counts them into the batches' outcomes as an
  // ordinary switch does. A device without its answer, or that cannot be
  // named to the other process, reads "Fail"; one already in state and not
  // handed over reads as done.
  void Report(bool answered);

 private:
  StateChangeBatch* batches_;
  std::size_t count_;
  StepSelection selection_;
  const char* words_[kMaxStepBatches][kStatusWords] = {};
  bool everyDevice_ = false;
  platform::unique_malloc<ExpectedLine> expected_;
  platform::unique_malloc<std::size_t> answers_;
  std::size_t expectedCount_ = 0;
};
