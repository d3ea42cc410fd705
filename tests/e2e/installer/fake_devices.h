// Devices registered in the prefix's device database through the real setup
// API, removed again when the owner goes.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

class FakeDevice {
 public:
  FakeDevice(const std::string& instanceId, const GUID& classGuid, const std::vector<std::string>& hardwareIds);
  ~FakeDevice();
  FakeDevice(const FakeDevice&) = delete;
  FakeDevice& operator=(const FakeDevice&) = delete;

  bool registered() const { return registered_; }
  const std::string& instanceId() const { return instanceId_; }

  // SPDRP_CONFIGFLAGS, read or written through a fresh set.
  bool SetConfigFlags(DWORD flags) const;
  bool GetConfigFlags(DWORD* flags) const;

  // Removes a device left behind by an earlier, interrupted run.
  static void RemoveIfPresent(const std::string& instanceId);

 private:
  std::string instanceId_;
  bool registered_ = false;
};

extern const GUID kE2eMediaClass;
