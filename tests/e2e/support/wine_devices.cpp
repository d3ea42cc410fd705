#include "wine_devices.h"

#include <setupapi.h>

namespace e2e {

const GUID kUsbClassGuid = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

const GUID kMediaClassGuid = {0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

namespace {

std::vector<BYTE> MultiSz(const std::vector<std::string>& strings) {
  std::vector<BYTE> bytes;
  for (const auto& s : strings) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return bytes;
}

// Opens the device in a set of its own and runs `action` on it.
template <typename Action>
bool WithDevice(const std::string& instanceId, Action action) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA element{};
  element.cbSize = sizeof(element);
  bool ok = SetupDiOpenDeviceInfoA(set, instanceId.c_str(), nullptr, 0, &element) && action(set, &element);
  SetupDiDestroyDeviceInfoList(set);
  return ok;
}

void RemoveOne(const std::string& instanceId) {
  WithDevice(instanceId, [](HDEVINFO set, PSP_DEVINFO_DATA element) {
    return SetupDiRemoveDevice(set, element) != FALSE;
  });
}

bool RegisterOne(const FakeDevice& device) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&device.classGuid, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA element{};
  element.cbSize = sizeof(element);
  bool ok = SetupDiCreateDeviceInfoA(set, device.instanceId.c_str(), &device.classGuid, nullptr, nullptr, 0,
                                     &element) &&
            SetupDiRegisterDeviceInfo(set, &element, 0, nullptr, nullptr, nullptr);
  if (ok && !device.hardwareIds.empty()) {
    auto bytes = MultiSz(device.hardwareIds);
    ok = SetupDiSetDeviceRegistryPropertyA(set, &element, SPDRP_HARDWAREID, bytes.data(),
                                           static_cast<DWORD>(bytes.size()));
  }
  if (ok && !device.compatibleIds.empty()) {
    auto bytes = MultiSz(device.compatibleIds);
    ok = SetupDiSetDeviceRegistryPropertyA(set, &element, SPDRP_COMPATIBLEIDS, bytes.data(),
                                           static_cast<DWORD>(bytes.size()));
  }
  SetupDiDestroyDeviceInfoList(set);
  return ok;
}

}  // namespace

std::vector<FakeDevice> NorzaFunctions() {
  std::vector<FakeDevice> devices;
  for (const char* mi : {"00", "03", "08"}) {
    std::string fn = std::string("MI_") + mi;
    devices.push_back(FakeDevice{"USB\\VID_7E51&PID_0002&" + fn + "\\7&1A2B3C&0&00" + mi,
                                 kUsbClassGuid,
                                 {"USB\\VID_7E51&PID_0002&REV_0100&" + fn, "USB\\VID_7E51&PID_0002&" + fn},
                                 {"USB\\Class_01&SubClass_01", "USB\\Class_01"}});
  }
  return devices;
}

bool RegisterDevices(const std::vector<FakeDevice>& devices) {
  bool ok = true;
  for (const auto& d : devices) {
    RemoveOne(d.instanceId);
    ok = RegisterOne(d) && ok;
  }
  return ok;
}

void RemoveDevices(const std::vector<FakeDevice>& devices) {
  for (const auto& d : devices) RemoveOne(d.instanceId);
}

bool SetConfigFlags(const std::string& instanceId, DWORD flags) {
  return WithDevice(instanceId, [flags](HDEVINFO set, PSP_DEVINFO_DATA element) {
    return SetupDiSetDeviceRegistryPropertyA(set, element, SPDRP_CONFIGFLAGS, reinterpret_cast<const BYTE*>(&flags),
                                             sizeof flags) != FALSE;
  });
}

bool GetConfigFlags(const std::string& instanceId, DWORD* flags) {
  return WithDevice(instanceId, [flags](HDEVINFO set, PSP_DEVINFO_DATA element) {
    return SetupDiGetDeviceRegistryPropertyA(set, element, SPDRP_CONFIGFLAGS, nullptr, reinterpret_cast<PBYTE>(flags),
                                             sizeof *flags, nullptr) != FALSE;
  });
}

RegisteredDevices::RegisteredDevices(std::vector<FakeDevice> devices)
    : devices_(std::move(devices)), ok_(RegisterDevices(devices_)) {}

RegisteredDevices::~RegisteredDevices() { RemoveDevices(devices_); }

}  // namespace e2e
