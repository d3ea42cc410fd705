#include "devicecontrol/step_selection.h"

#include <cstdlib>
#include <cstring>

#include "devicecontrol/state_change.h"

int32_t StepSelection::Remember(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t, std::size_t which, DeviceIds& ids,
                                void* context) {
  List& list = static_cast<StepSelection*>(context)->lists_[which];
  if (list.count == list.capacity) {
    const std::size_t capacity = list.capacity == 0 ? 8 : list.capacity * 2;
    void* grown = std::realloc(list.devices.get(), capacity * sizeof(SelectedDevice));
    if (grown == nullptr) return CDeviceControl::Failure;
    list.devices.release();
    list.devices.reset(static_cast<SelectedDevice*>(grown));
    list.capacity = capacity;
  }
  SelectedDevice& device = list.devices.get()[list.count++];
  device.element = *element;
  device.set = set;
  std::strncpy(device.id, ids.InstanceId(), sizeof device.id - 1);
  device.id[sizeof device.id - 1] = '\0';
  device.already = AlreadyInState(element, list.stateChange);
  return 0;
}

void StepSelection::Select(const PatternList* lists, const DWORD* stateChanges, std::size_t count) {
  count_ = count < CDeviceControl::kMaxPatternLists ? count : CDeviceControl::kMaxPatternLists;
  for (std::size_t l = 0; l < count_; ++l) lists_[l].stateChange = stateChanges[l];
  CDeviceControl control;
  int32_t results[CDeviceControl::kMaxPatternLists];
  if (CDeviceControl::OneSetServes(lists, count_)) {
    lists_[0].set = control.WalkPatternLists(nullptr, DIGCF_PRESENT, lists, count_, results, Remember, this);
    for (std::size_t l = 0; l < count_; ++l) lists_[l].result = results[l];
    return;
  }
  // Each its own walk, over a set of its own (a class selector, say).
  for (std::size_t l = 0; l < count_; ++l) {
    struct One {
      StepSelection* selection;
      std::size_t which;
    } one{this, l};
    lists_[l].set = control.WalkPatternLists(
        nullptr, DIGCF_PRESENT, &lists[l], 1, &lists_[l].result,
        [](HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, std::size_t, DeviceIds& ids, void* context) {
          auto* o = static_cast<One*>(context);
          return Remember(set, element, index, o->which, ids, o->selection);
        },
        &one);
  }
}
