// The device control engine: selects devices by class, hardware-ID,
// compatible-ID and instance-ID patterns and enables or disables them, one
// status line per device on standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "device_pattern.h"
#include "platform/device_setup.h"

// Called for every selected device. 0 continues the walk; any other value
// stops it and becomes the result of ForEachMatchingDevice. The set and
// element are valid only during the call.
using DeviceCallback = int32_t (*)(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index,
                                   void* context);

enum DeviceEnumResult : int32_t {
  Success = 0,     // the walk reached the end (or the class name denotes no class)
  Failure = 2,     // a class lookup, set build, set detail read or allocation failed
  NoPatterns = 3,  // count was 0: nothing built, nothing called
};

class CDeviceControl {
 public:
  // Pattern text logic.
  static DevicePattern ParseDevicePattern(const char* pattern) {
    return idtext::ParseDevicePattern(pattern);
  }
  static bool MatchIdPattern(const char* id, const DevicePattern& pattern) {
    return idtext::MatchIdPattern(id, pattern);
  }
  static IdList SplitMultiString(char* buffer) { return idtext::SplitMultiString(buffer); }
  static void FreeIdList(IdList list) { idtext::FreeIdList(list); }
  static bool MatchAnyId(IdList list, const DevicePattern& pattern) {
    return idtext::MatchAnyId(list, pattern);
  }

  // SPDRP_HARDWAREID or SPDRP_COMPATIBLEIDS of one device as a list; null when
  // absent or unreadable. The caller frees it with FreeIdList.
  IdList ReadDeviceIdList(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD property);

  // Builds a device set and calls callback(set, element, index, context) for
  // every device the pattern arguments select. Arguments: an optional class
  // selector "=<class>" first, then "*" (or nothing) to select all, then
  // device patterns. Returns a DeviceEnumResult or a callback's nonzero value.
  int32_t ForEachMatchingDevice(const char* machineName, DWORD flags, int32_t count,
                                const char* const* patterns, DeviceCallback callback,
                                void* context);

  // Switch every present device the patterns select; one status line each.
  // When `outcome` is given, it receives the call's context as it ended: how
  // many devices were selected, changed, and whether one needs a restart.
  int32_t EnableDevices(int32_t count, const char* const* patterns,
                        struct DeviceStateChangeContext* outcome = nullptr);
  int32_t DisableDevices(int32_t count, const char* const* patterns,
                         struct DeviceStateChangeContext* outcome = nullptr);
};

// The state change requested of every selected device, and what came of it.
struct DeviceStateChangeContext {
  uint32_t devicesChanged;
  DWORD stateChange;  // DICS_ENABLE or DICS_DISABLE
  uint32_t restartRequired;
  const char* doneText;
  const char* restartText;
  const char* failText;
  uint32_t devicesSelected;  // every device the walk handed over, whatever came of it
};

// A fresh context for DICS_ENABLE or DICS_DISABLE, with the status words.
DeviceStateChangeContext MakeStateChangeContext(DWORD stateChange);

// Where a step of state changes runs. Changing a device's state needs an
// administrator's rights and a process of the machine's bitness: in this
// process when it has both; in the 64-bit helper, started with this
// process's own rights, when only the bitness differs. Without the rights,
// the control panel's own elevated run (one consent for the whole step)
// finds the functions of the mode again and takes one of those two routes.
enum class DeviceRoute { InProcess, Helper, ElevatedRun };
// The route by this process's bitness alone, whatever its rights.
DeviceRoute RouteByBitness();
// By bitness with the rights; the elevated run without them.
DeviceRoute ChooseDeviceRoute();

// One batch of a step: the devices its patterns select get `stateChange`.
struct StateChangeBatch {
  int32_t count;
  const char* const* patterns;
  DWORD stateChange;
  DeviceStateChangeContext outcome;  // filled by ChangeDeviceStates
  int32_t result;                    // of the walk, as ForEachMatchingDevice gives it
};

// How the helper run, or the elevated run, of a step went.
enum class HelperRunOutcome {
  NotNeeded,   // no such route, or nothing to hand to it
  Answered,    // it answered for every device
  Failed,      // it ran, but its answer is missing or wrong: every device it had reads "Fail"
  NotStarted,  // it did not start (consent refused, cannot be written or started)
};

// What goes with the batches on the elevated route: the driver mode they
// come from, which the elevated run applies and stores (it is told nothing
// else). When `runAlone`, storing the mode is reason enough for the run;
// otherwise it only runs when a device must change.
struct StateChangeStep {
  int32_t mode = -1;
  bool runAlone = false;
  HelperRunOutcome helper = HelperRunOutcome::NotNeeded;
  bool stored = false;  // the elevated run stored the mode
  DWORD startError = ERROR_SUCCESS;  // why the elevated run did not start (ERROR_CANCELLED: consent refused)
};

// Changes the batches in order, one status line per selected device in the
// walk's order, batch after batch. A device the platform reports as already
// in the state asked for is not changed again and reads as done. On the
// helper route one helper run, on the elevated route one elevated run,
// carries the whole step.
void ChangeDeviceStates(StateChangeBatch* batches, std::size_t count, DeviceRoute route, StateChangeStep* step);

// The DeviceCallback of EnableDevices and DisableDevices; always returns 0.
int32_t ApplyStateChange(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, void* context);

// Device instance IDs, terminator included.
constexpr ULONG kInstanceIdSize = 200;

// The device's instance ID; false (and an empty text) when it cannot be read.
bool ReadInstanceId(HDEVINFO set, PSP_DEVINFO_DATA element, char (&id)[kInstanceIdSize]);

// Writes "<instance ID padded to 60>: <word>\n" (or "<ID>\n" without a word)
// to standard output; "?" stands for an ID that cannot be read, and the
// result is then false.
bool PrintDeviceStatus(HDEVINFO set, PSP_DEVINFO_DATA element, const char* word);
// The same line for a device known by its instance ID.
void PrintStatusLine(const char* id, const char* word);

// Where status lines go: standard output, unless the device helper answers
// through a pipe of its own (null: standard output again).
void SetStatusOutput(std::FILE* output);
std::FILE* StatusOutput();
