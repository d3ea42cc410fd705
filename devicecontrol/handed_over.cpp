#include "devicecontrol/handed_over.h"

#include <cstdlib>

#include "devicecontrol/device_control.h"

namespace {

constexpr std::size_t kDone = 0, kRestart = 1, kFail = 2;  // the words of a context, in this order

template <typename T>
T* Allocate(std::size_t count) {
  return static_cast<T*>(std::malloc((count != 0 ? count : 1) * sizeof(T)));
}

}  // namespace

HandedOverStep::HandedOverStep(StateChangeBatch* batches, std::size_t count)
    : batches_(batches), count_(count < kMaxStepBatches ? count : kMaxStepBatches) {
  BeginStep(batches_, count_);
  PatternList lists[kMaxStepBatches];
  DWORD changes[kMaxStepBatches];
  for (std::size_t b = 0; b < count_; ++b) {
    const DeviceStateChangeContext& context = batches_[b].outcome;
    words_[b][kDone] = context.doneText;
    words_[b][kRestart] = context.restartText;
    words_[b][kFail] = context.failText;
    lists[b] = PatternList{batches_[b].count, batches_[b].patterns};
    changes[b] = batches_[b].stateChange;
  }
  selection_.Select(lists, changes, count_);
  for (std::size_t b = 0; b < count_; ++b) batches_[b].result = selection_.result(b);
}

std::size_t HandedOverStep::selected() const {
  std::size_t n = 0;
  for (std::size_t b = 0; b < count_; ++b) n += selection_.devices(b);
  return n;
}

std::size_t HandedOverStep::toChange() const {
  std::size_t n = 0;
  for (std::size_t b = 0; b < count_; ++b) {
    for (std::size_t i = 0; i < devices(b); ++i) n += ToBeChanged(device(b, i)) ? 1 : 0;
  }
  return n;
}

bool HandedOverStep::Expect(bool everyDevice) {
  everyDevice_ = everyDevice;
  const std::size_t lines = selected();
  expected_.reset(Allocate<ExpectedLine>(lines));
  answers_.reset(Allocate<std::size_t>(lines));
  if (!expected_ || !answers_) return false;
  std::size_t n = 0;
  for (std::size_t b = 0; b < count_; ++b) {
    for (std::size_t i = 0; i < devices(b); ++i) {
      const SelectedDevice& d = device(b, i);
      if (everyDevice || ToBeChanged(d)) expected_.get()[n++] = ExpectedLine{d.id[0] != '\0' ? d.id : "?", words_[b]};
    }
  }
  expectedCount_ = n;
  return true;
}

void HandedOverStep::Report(bool answered) {
  // Without an answer, what needed no change still reads as done.
  const bool everyDevice = everyDevice_ && answered;
  std::size_t next = 0;
  for (std::size_t b = 0; b < count_; ++b) {
    DeviceStateChangeContext& context = batches_[b].outcome;
    for (std::size_t i = 0; i < devices(b); ++i) {
      const SelectedDevice& d = device(b, i);
      ++context.devicesSelected;
      std::size_t word = kFail;
      if (everyDevice || ToBeChanged(d)) {
        const std::size_t answer = next++;
        if (answered && answers_) word = answers_.get()[answer];
      } else if (d.id[0] != '\0' && d.already) {
        word = kDone;
      }
      PrintStatusLine(d.id[0] != '\0' ? d.id : "?", words_[b][word]);
      if (word == kFail) continue;
      ++context.devicesChanged;
      if (word == kRestart) context.restartRequired = 1;
    }
  }
}
