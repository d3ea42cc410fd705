// The line protocol a 32-bit Norza program speaks with the 64-bit device
// helper it starts, with its own rights, on 64-bit Windows. No platform
// headers: both sides build and read it alike, and it is tested natively.
//
// Request (the helper's standard input), one of:
//   NORZA-DEVICE-HELPER 1              NORZA-DEVICE-HELPER 1
//   STATE <1 enable|2 disable>         INSTALL <button id>
//   ID <hex>   (one per device)        DIR <hex>
//   STATE ...  (a second batch)        NAME <hex>
//   ID <hex>                           HWID <hex>
//   END                                END
// A state-change request changes its batches in order. Texts travel as
// hexadecimal bytes (wire/text.h).
//
// Answer (the helper's standard output, then exit code 0):
//   DEVICE <hex id> <status> <error>, per device,     INSTALLED <0|1> <error>
//     in request order (wire/status_line.h)
//   END                                               END
// (an installation's error is 0 or kRestartNeeded after a success)
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/status_line.h"
#include "wire/text.h"

namespace wire {

// More devices than this in one request is not a request of ours.
constexpr std::size_t kMaxDevices = 4096;
// Enabling one mode's functions, then disabling the other's.
constexpr std::size_t kMaxBatches = 2;

enum class RequestKind { None, StateChange, Install };
// Which request the input begins as; None for anything else. Its parser
// decides whether it is exactly one.
RequestKind KindOfRequest(const char* data, std::size_t size);

// Devices to change, in batches. What a request may hold is checked here,
// as it is built or read: at most kMaxBatches batches, each with a state
// change of 1 or 2 and at least one device, at most kMaxDevices devices, each
// named by 1 to kMaxText bytes without a NUL.
class StateChangeRequest {
 public:
  struct Batch {
    uint32_t stateChange = 0;  // 1 enable, 2 disable
    std::size_t first = 0;     // its devices: id(first) ... id(first + count - 1)
    std::size_t count = 0;
  };

  StateChangeRequest() = default;
  StateChangeRequest(const StateChangeRequest&) = delete;
  StateChangeRequest& operator=(const StateChangeRequest&) = delete;

  bool BeginBatch(uint32_t stateChange);
  bool AddDevice(const char* id);
  // Something to do, and no batch without a device.
  bool Complete() const { return batchCount_ != 0 && batches_[batchCount_ - 1].count != 0; }

  std::size_t batchCount() const { return batchCount_; }
  const Batch& batch(std::size_t b) const { return batches_[b]; }
  std::size_t deviceCount() const { return ids_.size(); }
  const char* id(std::size_t i) const { return ids_[i].text; }

 private:
  Batch batches_[kMaxBatches];
  std::size_t batchCount_ = 0;
  struct IdText {
    char text[wire::kTextSize];
  };
  wire::Growing<IdText> ids_;
};

// One installation: InstallDev's arguments. Texts of at most kMaxText bytes.
struct InstallRequest {
  int32_t buttonId = 0;
  char infDir[wire::kTextSize] = {};
  char infName[wire::kTextSize] = {};
  char hardwareId[wire::kTextSize] = {};
};

// Writers; a request that was read is written back byte for byte as it was.
void WriteStateChangeRequest(wire::Text& out, const StateChangeRequest& request);
void WriteInstallRequest(wire::Text& out, const InstallRequest& request);
// Readers: false, for anything that is not exactly one such request.
bool ParseStateChangeRequest(const char* data, std::size_t size, StateChangeRequest& out);
bool ParseInstallRequest(const char* data, std::size_t size, InstallRequest& out);

// Reads a state-change answer into `slots` (ReadOutcomes), then the end
// line and nothing more. False for anything else.
bool ParseStateChangeAnswer(const char* data, std::size_t size, DeviceOutcome* const* slots, std::size_t count);

// ERROR_SUCCESS_REBOOT_REQUIRED: the installation succeeded, and Windows
// needs a restart to finish it.
constexpr uint32_t kRestartNeeded = 3010;

void WriteInstallAnswer(wire::Text& out, bool installed, uint32_t error);
// Reads an installation answer. A success carries error 0 or kRestartNeeded,
// a failure an error other than those; false for anything else.
bool ParseInstallAnswer(const char* data, std::size_t size, bool* installed, uint32_t* error);

}  // namespace wire
