#include "fake_devices.h"

const GUID kE2eMediaClass = {0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

namespace {

std::string MultiSz(const std::vector<std::string>& strings) {
  std::string bytes;
  for (const auto& s : strings) {
    bytes += s;
    bytes += '\0';
  }
  bytes += '\0';
  return bytes;
}

// Opens the device in a set of its own and runs `action` on it.
template <typename Action>
bool WithDevice(const std::string& instanceId, Action action) {
  HDEVINFO set = ::SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  bool ok = ::SetupDiOpenDeviceInfoA(set, instanceId.c_str(), nullptr, 0, &device) && action(set, &device);
  ::SetupDiDestroyDeviceInfoList(set);
  return ok;
}

}  // namespace

FakeDevice::FakeDevice(const std::string& instanceId, const GUID& classGuid,
                       const std::vector<std::string>& hardwareIds)
    : instanceId_(instanceId) {
  RemoveIfPresent(instanceId);
  HDEVINFO set = ::SetupDiCreateDeviceInfoList(&classGuid, nullptr);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  const std::string ids = MultiSz(hardwareIds);
  registered_ = ::SetupDiCreateDeviceInfoA(set, instanceId.c_str(), &classGuid, nullptr, nullptr, 0, &device) &&
                ::SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr) &&
                ::SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                    reinterpret_cast<const BYTE*>(ids.data()),
                                                    static_cast<DWORD>(ids.size()));
  ::SetupDiDestroyDeviceInfoList(set);
}

FakeDevice::~FakeDevice() { RemoveIfPresent(instanceId_); }

void FakeDevice::RemoveIfPresent(const std::string& instanceId) {
  WithDevice(instanceId, [](HDEVINFO set, SP_DEVINFO_DATA* device) {
    return ::SetupDiRemoveDevice(set, device) != FALSE;
  });
}

bool FakeDevice::SetConfigFlags(DWORD flags) const {
  return WithDevice(instanceId_, [flags](HDEVINFO set, SP_DEVINFO_DATA* device) {
    return ::SetupDiSetDeviceRegistryPropertyA(set, device, SPDRP_CONFIGFLAGS,
                                               reinterpret_cast<const BYTE*>(&flags), sizeof flags) != FALSE;
  });
}

bool FakeDevice::GetConfigFlags(DWORD* flags) const {
  return WithDevice(instanceId_, [flags](HDEVINFO set, SP_DEVINFO_DATA* device) {
    return ::SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_CONFIGFLAGS, nullptr,
                                               reinterpret_cast<PBYTE>(flags), sizeof *flags, nullptr) != FALSE;
  });
}
