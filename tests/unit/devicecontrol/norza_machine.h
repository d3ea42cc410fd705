// A simulated machine with a Norza plugged in, shared by the device control tests.
#pragma once

#include <string>
#include <vector>

#include "devicecontrol/device_control.h"
#include "devicecontrol/device_status.h"
#include "devicecontrol/device_step.h"
#include "devicecontrol/state_change.h"
#include "sim_machine.h"

namespace testmachine {

inline const char kMi00[] = "USB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000";
inline const char kMi03[] = "USB\\VID_7E51&PID_0002&MI_03\\7&1A2B3C&0&0003";
inline const char kMi08[] = "USB\\VID_7E51&PID_0002&MI_08\\7&1A2B3C&0&0008";
inline const char kHdAudio[] = "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0887\\4&2F1C3B&0&0001";
inline const char kUnplugged[] = "USB\\VID_7E51&PID_0002&MI_00\\7&99&0&0000";
inline const char kKeyboard[] = "HID\\VID_046D&PID_C31C\\8&3A&0&0000";

inline const char* const kWdmPatterns[] = {"@USB\\VID_7E51&PID_0002&MI_00\\*",
                                           "@USB\\VID_7E51&PID_0002&MI_03\\*"};
inline const char* const kAsioPatterns[] = {"@USB\\VID_7E51&PID_0002&MI_08\\*"};

// Three Norza functions, an onboard codec, a keyboard, and an unplugged
// second Norza (registered, not present).
inline void Describe() {
  sim::Reset();
  sim::AddDevice(kMi00, sim::kUsbClass, {"USB\\VID_7E51&PID_0002&REV_0100&MI_00", "USB\\VID_7E51&PID_0002&MI_00"},
                 {"USB\\Class_01&SubClass_01", "USB\\Class_01"});
  sim::AddDevice(kHdAudio, sim::kMediaClass, {"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0887"});
  sim::AddDevice(kMi03, sim::kUsbClass, {"USB\\VID_7E51&PID_0002&REV_0100&MI_03", "USB\\VID_7E51&PID_0002&MI_03"},
                 {"USB\\Class_01&SubClass_03"});
  sim::AddDevice(kKeyboard, sim::kHidClass, {"HID\\VID_046D&PID_C31C"}, {"HID_DEVICE_SYSTEM_KEYBOARD"});
  sim::AddDevice(kMi08, sim::kUsbClass, {"USB\\VID_7E51&PID_0002&REV_0100&MI_08", "USB\\VID_7E51&PID_0002&MI_08"},
                 {"USB\\Class_FF&SubClass_00"});
  sim::AddDevice(kUnplugged, sim::kUsbClass, {"USB\\VID_7E51&PID_0002&REV_0100&MI_00"}).present = false;
}

// The instance ID of a device the engine hands to a callback.
inline std::string InstanceId(PSP_DEVINFO_DATA element) {
  char id[200] = "";
  if (platform::CM_Get_Device_ID_ExA(element->DevInst, id, sizeof id, 0, nullptr) != CR_SUCCESS) return "?";
  return id;
}

}  // namespace testmachine
