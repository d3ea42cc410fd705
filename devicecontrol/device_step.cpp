#include "devicecontrol/device_step.h"

#include <cstdlib>
#include <cstring>

#include "platform/pumping_wait.h"

namespace devicecontrol {

namespace {

struct Walk {
  Step* step;
  wire::Growing<StepDevice>* walked;
  std::size_t which;  // a walk of one list: the batch it is
};

}  // namespace

Step::Step(StateChangeBatch* batches, std::size_t count)
    : batches_(batches), count_(count < kMaxStepBatches ? count : kMaxStepBatches) {
  PatternList lists[kMaxStepBatches];
  for (std::size_t b = 0; b < count_; ++b) {
    batches_[b].outcome = MakeStateChangeContext(batches_[b].stateChange);
    lists[b] = PatternList{batches_[b].count, batches_[b].patterns};
  }
  int32_t results[kMaxStepBatches];
  wire::Growing<StepDevice> walked;  // in the walk's order, each with the batch that selected it
  Walk walk{this, &walked, kMaxStepBatches};
  if (OneSetServes(lists, count_)) {
    shared_ = WalkPatternLists(nullptr, DIGCF_PRESENT, lists, count_, results, Remember, &walk);
    for (std::size_t b = 0; b < count_; ++b) sets_[b] = shared_.get();
  } else {
    // Each its own walk, over a set of its own (a class selector, say).
    for (std::size_t b = 0; b < count_; ++b) {
      walk.which = b;
      own_[b] = WalkPatternLists(nullptr, DIGCF_PRESENT, &lists[b], 1, &results[b], Remember, &walk);
      sets_[b] = own_[b].get();
    }
  }
  for (std::size_t b = 0; b < count_; ++b) {
    batches_[b].result = results[b];
    for (std::size_t i = 0; i < walked.size(); ++i) {
      if (walked[i].batch == b && !devices_.Add(walked[i])) batches_[b].result = Failure;
    }
  }
}

int32_t Step::Remember(HDEVINFO, PSP_DEVINFO_DATA element, uint32_t, std::size_t which, DeviceIds& ids,
                       void* context) {
  auto* walk = static_cast<Walk*>(context);
  if (walk->which != kMaxStepBatches) which = walk->which;
  StepDevice device{*element, static_cast<uint32_t>(which),
                    AlreadyInState(element, walk->step->batches_[which].stateChange), wire::DeviceOutcome{}};
  std::strncpy(device.outcome.id, ids.InstanceId(), sizeof device.outcome.id - 1);
  return walk->walked->Add(device) ? 0 : Failure;
}

std::size_t Step::ToChangeCount() const {
  std::size_t n = 0;
  for (std::size_t i = 0; i < devices_.size(); ++i) n += ToChange(i) ? 1 : 0;
  return n;
}

void Step::ChangeAll() {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    StepDevice& d = devices_[i];
    StateChangeBatch& batch = batches_[d.batch];
    d.outcome = ChangeState(sets_[d.batch], &d.element, d.outcome.id, batch.stateChange);
    Record(d.outcome, &batch.outcome);
  }
}

bool Step::HandOver(bool everyDevice, wire::Growing<wire::DeviceOutcome*>* slots) {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if ((everyDevice || ToChange(i)) && !slots->Add(&devices_[i].outcome)) return false;
  }
  return true;
}

void Step::Settle(bool everyDevice, bool answered, DWORD error) {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (answered && (everyDevice || ToChange(i))) continue;
    wire::DeviceOutcome& d = devices_[i].outcome;
    const bool done = devices_[i].already && d.id[0] != '\0';
    d.status = done ? wire::DeviceStatus::Done : wire::DeviceStatus::Failed;
    d.error = done ? 0 : d.id[0] != '\0' ? error : ERROR_NOT_FOUND;
  }
}

void Step::Report() {
  for (std::size_t i = 0; i < devices_.size(); ++i) Record(devices_[i].outcome, &batches_[devices_[i].batch].outcome);
}

namespace {

// A step on a thread of its own, with its own copy of the batches: given up,
// it may still run after its caller has returned. Whichever of the two is
// done with it last frees it.
struct ThreadStep {
  LONG references;
  std::size_t count;
  StateChangeBatch batches[kMaxStepBatches];
};

void Release(ThreadStep* step) {
  if (::InterlockedDecrement(&step->references) == 0) std::free(step);
}

DWORD WINAPI RunThreadStep(void* context) {
  auto* job = static_cast<ThreadStep*>(context);
  {
    Step step(job->batches, job->count);
    step.ChangeAll();
  }
  UnmuteStatusLines(::GetCurrentThreadId());
  Release(job);
  return 0;
}

}  // namespace

bool ChangeInProcess(StateChangeBatch* batches, std::size_t count, DWORD limit) {
  if (count > kMaxStepBatches) count = kMaxStepBatches;
  auto* job = static_cast<ThreadStep*>(std::malloc(sizeof(ThreadStep)));
  platform::unique_kernel_handle thread;
  if (job != nullptr) {
    job->references = 2;
    job->count = count;
    for (std::size_t b = 0; b < count; ++b) job->batches[b] = batches[b];
    thread.reset(::CreateThread(nullptr, 0, RunThreadStep, job, 0, nullptr));
  }
  if (!thread) {  // no room for a thread: the step runs here, without a limit
    std::free(job);
    Step(batches, count).ChangeAll();
    return true;
  }
  const bool finished = platform::WaitPumpingMessages(thread.get(), limit);
  if (finished) {
    for (std::size_t b = 0; b < count; ++b) batches[b] = job->batches[b];
  } else {
    // What it did not report by now is not known; what it reports later
    // must not reach an answer that has ended.
    MuteStatusLines(::GetThreadId(thread.get()));
    for (std::size_t b = 0; b < count; ++b) batches[b].outcome = MakeStateChangeContext(batches[b].stateChange);
  }
  Release(job);
  return finished;
}

}  // namespace devicecontrol
