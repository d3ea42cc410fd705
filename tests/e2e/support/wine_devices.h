// Registers stand-in devices in the Wine prefix's device database through the
// real setup API, and removes them again, for tests of the shipped code.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

struct FakeDevice {
  std::string instanceId;
  GUID classGuid;
  std::vector<std::string> hardwareIds;
  std::vector<std::string> compatibleIds;
};

// The three USB functions of a Norza, in the USB class.
std::vector<FakeDevice> NorzaFunctions();

extern const GUID kUsbClassGuid;
extern const GUID kMediaClassGuid;

// Registers the devices (replacing any left behind by an earlier run).
// Returns false when one could not be registered.
bool RegisterDevices(const std::vector<FakeDevice>& devices);
// Removes them; those not registered are skipped.
void RemoveDevices(const std::vector<FakeDevice>& devices);

// A registered device's SPDRP_CONFIGFLAGS, written or read through a set of
// its own.
bool SetConfigFlags(const std::string& instanceId, DWORD flags);
bool GetConfigFlags(const std::string& instanceId, DWORD* flags);

// Holds devices registered for the lifetime of a test.
class RegisteredDevices {
 public:
  explicit RegisteredDevices(std::vector<FakeDevice> devices);
  ~RegisteredDevices();
  RegisteredDevices(const RegisteredDevices&) = delete;
  RegisteredDevices& operator=(const RegisteredDevices&) = delete;
  bool ok() const { return ok_; }

 private:
  std::vector<FakeDevice> devices_;
  bool ok_;
};

}  // namespace e2e
