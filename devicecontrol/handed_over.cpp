#include "handed_over.h"

#include <cstdlib>

#include "device_control.h"

namespace {

constexpr std::size_t kDone = 0, kRestart = 1, kFail = 2;  // the words of a context, in this order

template <typename T>
T* Allocate(std::size_t count) {
  return static_cast<T*>(std::malloc((count != 0 ? count : 1) * sizeof(T)));
}

}  // namespace

int32_t HandedOverStep::Remember(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t, void* context) {
  auto* selected = static_cast<Selected*>(context);
  if (selected->count == selected->capacity) {
    const std::size_t capacity = selected->capacity == 0 ? 8 : selected->capacity * 2;
    void* grown = std::realloc(selected->devices.get(), capacity * sizeof(SelectedDevice));
    if (grown == nullptr) return CDeviceControl::Failure;
    selected->devices.release();
    selected->devices.reset(static_cast<SelectedDevice*>(grown));
    selected->capacity = capacity;
  }
  SelectedDevice& device = selected->devices.get()[selected->count++];
  ReadInstanceId(set, element, device.id);
  device.already = AlreadyInState(element, selected->stateChange);
  return 0;
}

HandedOverStep::HandedOverStep(StateChangeBatch* batches, std::size_t count)
    : batches_(batches), count_(count < helper::kMaxBatches ? count : helper::kMaxBatches) {
  BeginStep(batches_, count_);
  CDeviceControl control;
  for (std::size_t b = 0; b < count_; ++b) {
    const DeviceStateChangeContext& context = batches_[b].outcome;
    words_[b][kDone] = context.doneText;
    words_[b][kRestart] = context.restartText;
    words_[b][kFail] = context.failText;
    selected_[b].stateChange = batches_[b].stateChange;
    batches_[b].result = control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, batches_[b].count,
                                                       batches_[b].patterns, Remember, &selected_[b]);
  }
}

std::size_t HandedOverStep::selected() const {
  std::size_t n = 0;
  for (std::size_t b = 0; b < count_; ++b) n += selected_[b].count;
  return n;
}

std::size_t HandedOverStep::toChange() const {
  std::size_t n = 0;
  for (std::size_t b = 0; b < count_; ++b) {
    for (std::size_t i = 0; i < selected_[b].count; ++i) n += ToBeChanged(device(b, i)) ? 1 : 0;
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
    for (std::size_t i = 0; i < selected_[b].count; ++i) {
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
    for (std::size_t i = 0; i < selected_[b].count; ++i) {
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
