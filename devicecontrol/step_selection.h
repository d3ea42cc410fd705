// The devices of a step's batches, selected before any is changed: in one
// walk of one set when one set serves every batch (the Norza's two lists),
// each device's instance ID read once. Whatever route then changes them (in
// this process, the device helper, the elevated run) starts from this.
#pragma once

#include <cstddef>

#include "devicecontrol/device_control.h"
#include "devicecontrol/device_status.h"

struct SelectedDevice {
  SP_DEVINFO_DATA element;
  HDEVINFO set;                // the set that holds it, while the selection lives
  char id[kInstanceIdSize];    // "" when it could not be read
  bool already;                // already in the state its batch asks for
};

class StepSelection {
 public:
  StepSelection() = default;
  StepSelection(const StepSelection&) = delete;
  StepSelection& operator=(const StepSelection&) = delete;

  // Selects the present devices of each list (at most
  // CDeviceControl::kMaxPatternLists); stateChanges[i], DICS_ENABLE or
  // DICS_DISABLE, is what list i's devices are to become.
  void Select(const PatternList* lists, const DWORD* stateChanges, std::size_t count);

  std::size_t lists() const { return count_; }
  int32_t result(std::size_t list) const { return lists_[list].result; }  // as ForEachMatchingDevice gives it
  std::size_t devices(std::size_t list) const { return lists_[list].count; }
  SelectedDevice& device(std::size_t list, std::size_t i) { return lists_[list].devices.get()[i]; }
  const SelectedDevice& device(std::size_t list, std::size_t i) const { return lists_[list].devices.get()[i]; }

 private:
  struct List {
    DWORD stateChange = 0;
    platform::unique_malloc<SelectedDevice> devices;
    std::size_t count = 0;
    std::size_t capacity = 0;
    int32_t result = CDeviceControl::Failure;
    platform::unique_hdevinfo set;  // its own, when it did not share the first list's
  };
  static int32_t Remember(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, std::size_t which,
                          DeviceIds& ids, void* context);

  List lists_[CDeviceControl::kMaxPatternLists];
  std::size_t count_ = 0;
};
