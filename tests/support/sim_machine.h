// The simulated machine: a small, stateful stand-in for the platform's device
// database, driver-package store, new-device library, wave devices and session
// end. Unit tests link it in place of the Win32 realisation of platform/.
//
// A test describes a machine (sim::Reset(), then fill sim::machine()), runs
// product code, and asserts on the machine's resulting state, its call log and
// what was printed.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "drivermode/mode_store.h"

namespace sim {

// How the class installer answers a property-change request for a device.
enum class PropChange {
  Done,                // the state changes, no restart needed
  NeedsRestart,        // the state changes, DI_NEEDRESTART is set afterwards
  NeedsReboot,         // the state changes, DI_NEEDREBOOT is set afterwards
  FailAttach,          // SetupDiSetClassInstallParamsA fails
  FailClassInstaller,  // SetupDiCallClassInstaller fails
  Hangs,               // SetupDiCallClassInstaller returns (as Done) only once Machine::releaseHung is set
};

struct Device {
  std::string instanceId;
  GUID classGuid{};
  bool present = true;
  // Property values as raw bytes, exactly as stored (terminators and all, or
  // not); nullopt means the property is absent.
  std::optional<std::vector<uint8_t>> hardwareIds;
  std::optional<std::vector<uint8_t>> compatibleIds;
  DWORD hardwareIdType = REG_MULTI_SZ;
  std::optional<DWORD> configFlags;
  bool enabledGlobal = true;  // DICS_FLAG_GLOBAL scope
  bool enabledConfig = true;  // DICS_FLAG_CONFIGSPECIFIC scope
  PropChange propChange = PropChange::Done;
  bool instanceIdReadable = true;  // false: CM_Get_Device_ID_ExA fails for it
  // true: CM_Get_DevNode_Status tells whether it runs (both scopes enabled)
  // or is disabled; false: it cannot tell.
  bool statusReadable = false;
};

struct SetupClass {
  std::string name;
  GUID guid;
};

// One platform call, as the log keeps it.
struct Call {
  std::string op;      // the platform operation's name
  std::string device;  // instance ID of the element it named, if any
  DWORD a = 0;         // operation-specific: property, state change, size ...
  DWORD b = 0;         // operation-specific: scope, offered size ...
};

struct UpdateDriverCall {
  std::string hardwareId;
  std::string infPath;
  DWORD flags = 0;
  bool rebootOutputGiven = false;
};

struct CopyOemInfCall {
  std::string source;
  bool mediaLocationGiven = false;
  DWORD mediaType = 0;
  DWORD copyStyle = 0;
  bool destinationGiven = false;
};

// What the user answers when the platform asks for consent to elevate.
enum class Consent { Given, Declined };

// How the panel's elevated run goes once consent is given.
enum class ElevatedRun {
  Answers,      // it carries out its switch on this machine and answers
  CannotStart,  // Windows cannot start it (ERROR_FILE_NOT_FOUND)
  Refused,      // Windows refuses elevation without asking (a policy that denies it): ERROR_ACCESS_DENIED
  NeverEnds,    // it is given up at the panel's limit, having answered STORED and one outcome
};

// How a run of the 64-bit device helper goes.
enum class HelperRun {
  Answers,       // it carries out the request on this machine and answers
  CannotWrite,   // writing it out fails (ERROR_DISK_FULL)
  CannotStart,   // starting it fails (ERROR_ACCESS_DENIED)
  Crashes,       // it carries out the request, but dies after its first line
  AnswersGarbage,  // it ends with code 0 and writes nonsense
  ExitsStillActive,  // it answers in full, then exits with 259 (STILL_ACTIVE)
  NeverEnds,         // a class installer never returns: it is ended at the caller's limit
};

struct Machine {
  std::vector<Device> devices;
  std::vector<SetupClass> classes;

  // Injected failures of whole operations.
  bool failBuildSet = false;    // SetupDiGetClassDevs(Ex)A / CreateDeviceInfoListExA
  bool failListDetail = false;  // SetupDiGetDeviceInfoListDetailA

  // Driver-package store and new-device library.
  bool newDevPresent = true;          // newdev.dll loads from the system folder
  bool updateFunctionPresent = true;  // GetProcAddress finds the update function
  BOOL updateResult = TRUE;           // what UpdateDriverForPlugAndPlayDevicesA returns
  BOOL copyOemInfResult = TRUE;       // what SetupCopyOEMInfA returns
  std::vector<CopyOemInfCall> copiedInfs;
  std::vector<UpdateDriverCall> driverUpdates;
  int newDevLoads = 0;  // LoadLibraryExA calls that returned the library
  int newDevFrees = 0;  // FreeLibrary calls on it

  // Wave devices, by product name, identifiers from 0.
  std::vector<std::string> waveIn;
  std::vector<std::string> waveOut;

  // A 32-bit process on 64-bit Windows: state changes and driver updates
  // fail with ERROR_IN_WOW64, except inside the device helper.
  bool wow64 = false;
  DWORD updateError = ERROR_GEN_FAILURE;  // the update's error when updateResult is FALSE
  bool updateNeedsRestart = false;        // a successful update says Windows needs a restart
  HelperRun helperRun = HelperRun::Answers;
  std::vector<std::string> helperRequests;  // what each helper run was given
  // Runs as each helper run starts: the messages that the wait for the helper
  // dispatches on the calling thread.
  void (*duringHelperRun)() = nullptr;
  // Runs as each state change reaches the class installer (on the thread
  // that asks), outside the device helper.
  void (*duringStateChange)() = nullptr;

  // The process's token. Without elevation (a standard user's rights, as
  // User Account Control gives even an administrator's programs), state
  // changes, driver updates and writes under HKEY_LOCAL_MACHINE are refused
  // with ERROR_ACCESS_DENIED, except in the panel's elevated run started
  // with consent (and the helper that run starts); while `virtualized`, such
  // writes go to the user's VirtualStore instead.
  bool elevated = true;
  bool virtualized = false;
  bool virtualizationStuck = false;  // it cannot be turned off
  bool valueWritesFail = false;      // RegSetValueExA fails (ERROR_WRITE_FAULT)
  Consent consent = Consent::Given;  // asked once per elevated run
  ElevatedRun elevatedRunGoes = ElevatedRun::Answers;
  int elevatedRuns = 0;              // elevated runs started with consent
  std::vector<int> elevatedModes;    // the mode each elevated run was asked to apply
  // The panel's elevated run, as the panel carries it out once started (a
  // test of the panel sets it); null: the start fails.
  bool (*elevatedRun)(drivermode::DriverMode mode) = nullptr;

  // Audio endpoints (Windows Vista and later), in the platform's order.
  struct AudioEndpoint {
    std::wstring id;
    int flow = 0;             // EDataFlow: eRender 0, eCapture 1
    std::wstring deviceName;  // the friendly name of the device it belongs to
    DWORD state = 1;          // DEVICE_STATE_ACTIVE
  };
  std::vector<AudioEndpoint> audioEndpoints;
  // The default endpoints' IDs by data flow, then role (eConsole,
  // eMultimedia, eCommunications); missing or empty: none.
  std::vector<std::vector<std::wstring>> defaultEndpoints;
  // How setting a default fails, if it does; REGDB_E_CLASSNOTREG: the
  // platform has no policy-configuration interface.
  HRESULT setDefaultEndpoint = S_OK;

  // Set by a test (an event) to let a hanging class installer's call return;
  // hungReturned is set as it does.
  HANDLE releaseHung = nullptr;
  HANDLE hungReturned = nullptr;

  // The window hooks set, by thread (0: the whole desktop); whether they are refused.
  std::vector<DWORD> hookThreads;
  bool hooksRefused = false;

  // Session end requests (flags, reason).
  std::vector<std::pair<UINT, DWORD>> exitRequests;

  // Device sets: how many are open now, how many were ever built.
  int openSets = 0;
  int setsBuilt = 0;
  std::vector<Call> calls;
};

Machine& machine();

// A new machine: no devices, the standard setup classes (Media, USB,
// HIDClass, System), nothing logged.
void Reset();

// Adds a device and returns it for further description.
Device& AddDevice(const std::string& instanceId, const GUID& classGuid,
                  std::initializer_list<std::string> hardwareIds,
                  std::initializer_list<std::string> compatibleIds = {});

// The bytes of a multi-string: each string with its NUL, then the closing NUL.
std::vector<uint8_t> MultiSz(std::initializer_list<std::string> strings);

// Calls of one operation, in order.
std::vector<Call> CallsOf(const std::string& op);
// The operation names of the log, in order, optionally only those naming a device.
std::vector<std::string> CallNames();

const Device* FindDevice(const std::string& instanceId);

extern const GUID kMediaClass;   // {4D36E96C-E325-11CE-BFC1-08002BE10318}
extern const GUID kUsbClass;     // {36FC9E60-C465-11CF-8056-444553540000}
extern const GUID kHidClass;     // {745A17A0-74D3-11D0-B6FE-00A0C90F57DA}
extern const GUID kSystemClass;  // {4D36E97D-E325-11CE-BFC1-08002BE10318}

}  // namespace sim
