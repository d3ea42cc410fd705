#include "devicecontrol/device_control.h"

namespace devicecontrol {

namespace {

int32_t ChangeDevices(int32_t count, const char* const* patterns, DWORD stateChange,
                      DeviceStateChangeContext* outcome) {
  DeviceStateChangeContext context = MakeStateChangeContext(stateChange);
  const int32_t result =
      CDeviceControl().ForEachMatchingDevice(nullptr, DIGCF_PRESENT, count, patterns, ApplyStateChange, &context);
  if (outcome != nullptr) *outcome = context;
  return result;
}

}  // namespace

int32_t CDeviceControl::ForEachMatchingDevice(const char* machineName, DWORD flags, int32_t count,
                                              const char* const* patterns, DeviceCallback callback,
                                              void* context) {
  if (callback == nullptr) return Failure;
  struct Forward {
    DeviceCallback callback;
    void* context;
  } forward{callback, context};
  const PatternList list{count, patterns};
  int32_t result = Failure;
  WalkPatternLists(machineName, flags, &list, 1, &result,
                   [](HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, std::size_t, DeviceIds&, void* c) {
                     auto* f = static_cast<Forward*>(c);
                     return f->callback(set, element, index, f->context);
                   },
                   &forward);
  return result;
}

int32_t CDeviceControl::EnableDevices(int32_t count, const char* const* patterns, DeviceStateChangeContext* outcome) {
  return ChangeDevices(count, patterns, DICS_ENABLE, outcome);
}

int32_t CDeviceControl::DisableDevices(int32_t count, const char* const* patterns,
                                      DeviceStateChangeContext* outcome) {
  return ChangeDevices(count, patterns, DICS_DISABLE, outcome);
}

}  // namespace devicecontrol
