// The simulated machine itself: its state, how a test describes it, and its call log.
#include "sim_state.h"

#include <cstring>

namespace sim {

const GUID kMediaClass = {0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kUsbClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID kHidClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
const GUID kSystemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

Machine g_machine;
bool g_inHelper = false;
bool g_inElevatedRun = false;

bool RefusedInWow64() {
  if (!g_machine.wow64 || g_inHelper) return false;
  SetLastError(ERROR_IN_WOW64);
  return true;
}

bool HasRights() { return g_machine.elevated || g_inElevatedRun; }

bool RefusedWithoutRights() {
  if (HasRights()) return false;
  SetLastError(ERROR_ACCESS_DENIED);
  return true;
}

bool EqualNoCase(const std::string& a, const char* b) {
  return b != nullptr && lstrcmpiA(a.c_str(), b) == 0;
}

void Log(const char* op, const std::string& device, DWORD a, DWORD b) {
  g_machine.calls.push_back(Call{op, device, a, b});
}

Machine& machine() { return g_machine; }

void Reset() {
  ResetDeviceSets();
  g_inHelper = false;
  g_inElevatedRun = false;
  g_machine = Machine{};
  g_machine.classes = {
      {"MEDIA", kMediaClass}, {"USB", kUsbClass}, {"HIDClass", kHidClass}, {"System", kSystemClass}};
}

std::vector<uint8_t> MultiSz(std::initializer_list<std::string> strings) {
  std::vector<uint8_t> bytes;
  for (const auto& s : strings) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return bytes;
}

Device& AddDevice(const std::string& instanceId, const GUID& classGuid,
                  std::initializer_list<std::string> hardwareIds,
                  std::initializer_list<std::string> compatibleIds) {
  Device d;
  d.instanceId = instanceId;
  d.classGuid = classGuid;
  if (hardwareIds.size() != 0) d.hardwareIds = MultiSz(hardwareIds);
  if (compatibleIds.size() != 0) d.compatibleIds = MultiSz(compatibleIds);
  g_machine.devices.push_back(d);
  return g_machine.devices.back();
}

std::vector<Call> CallsOf(const std::string& op) {
  std::vector<Call> out;
  for (const auto& c : g_machine.calls) {
    if (c.op == op) out.push_back(c);
  }
  return out;
}

std::vector<std::string> CallNames() {
  std::vector<std::string> out;
  for (const auto& c : g_machine.calls) out.push_back(c.op);
  return out;
}

const Device* FindDevice(const std::string& instanceId) {
  for (const auto& d : g_machine.devices) {
    if (d.instanceId == instanceId) return &d;
  }
  return nullptr;
}

}  // namespace sim
