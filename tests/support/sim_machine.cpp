// The simulated machine's realisation of the platform boundary.
#include "sim_machine.h"

#include "capture_stdout.h"
#include "elevation/elevated_run.h"
#include "devicehelper/helper_requests.h"
#include "helperrun/device_helper_run.h"
#include "platform/wow64.h"
#include "platform/device_setup.h"
#include "platform/rights.h"
#include "platform/session.h"
#include "platform/system_library.h"
#include "platform/wave_devices.h"
#include "platform/window_hooks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace sim {

const GUID kMediaClass = {0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kUsbClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID kHidClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
const GUID kSystemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

namespace {

struct DeviceSet {
  bool hasClass = false;
  GUID classGuid{};
  std::vector<size_t> members;  // indices into machine().devices
  std::map<size_t, SP_PROPCHANGE_PARAMS> classInstallParams;
  std::map<size_t, DWORD> installFlags;
};

Machine g_machine;
std::vector<std::unique_ptr<DeviceSet>> g_sets;
bool g_inHelper = false;       // the device helper's 64-bit process is running
bool g_inElevatedRun = false;  // the panel's run started with consent (and what it starts)

// What a 32-bit process on 64-bit Windows is refused.
bool RefusedInWow64() {
  if (!g_machine.wow64 || g_inHelper) return false;
  SetLastError(ERROR_IN_WOW64);
  return true;
}

bool HasRights() { return g_machine.elevated || g_inElevatedRun; }

// What a process without an administrator's rights is refused.
bool RefusedWithoutRights() {
  if (HasRights()) return false;
  SetLastError(ERROR_ACCESS_DENIED);
  return true;
}

int g_newDevToken;  // its address is the simulated library's handle
HMODULE NewDevHandle() { return reinterpret_cast<HMODULE>(&g_newDevToken); }

bool EqualNoCase(const std::string& a, const char* b) {
  return b != nullptr && lstrcmpiA(a.c_str(), b) == 0;
}

void Log(const char* op, const std::string& device = std::string(), DWORD a = 0, DWORD b = 0) {
  g_machine.calls.push_back(Call{op, device, a, b});
}

DeviceSet* FindSet(HDEVINFO set) {
  for (auto& s : g_sets) {
    if (s.get() == set) return s.get();
  }
  return nullptr;
}

HDEVINFO NewSet(const GUID* classGuid) {
  auto s = std::make_unique<DeviceSet>();
  if (classGuid != nullptr) {
    s->hasClass = true;
    s->classGuid = *classGuid;
  }
  HDEVINFO h = s.get();
  g_sets.push_back(std::move(s));
  ++g_machine.openSets;
  ++g_machine.setsBuilt;
  return h;
}

void FillElement(DeviceSet* set, size_t device, PSP_DEVINFO_DATA data) {
  data->ClassGuid = g_machine.devices[device].classGuid;
  data->DevInst = static_cast<DEVINST>(device + 1);
  data->Reserved = reinterpret_cast<ULONG_PTR>(set);
}

// The device an element names, after the checks the platform makes.
bool ResolveElement(HDEVINFO h, PSP_DEVINFO_DATA data, DeviceSet** set, size_t* device) {
  *set = FindSet(h);
  if (*set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return false;
  }
  size_t index = data->DevInst - 1;
  if (data->Reserved != reinterpret_cast<ULONG_PTR>(*set) || data->DevInst == 0 ||
      std::find((*set)->members.begin(), (*set)->members.end(), index) == (*set)->members.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *device = index;
  return true;
}

const std::optional<std::vector<uint8_t>>* PropertyBytes(Device& d, DWORD property, DWORD* type,
                                                         std::optional<std::vector<uint8_t>>* scratch) {
  switch (property) {
    case SPDRP_HARDWAREID:
      *type = d.hardwareIdType;
      return &d.hardwareIds;
    case SPDRP_COMPATIBLEIDS:
      *type = REG_MULTI_SZ;
      return &d.compatibleIds;
    case SPDRP_CONFIGFLAGS:
      *type = REG_DWORD;
      if (d.configFlags) {
        std::vector<uint8_t> bytes(4);
        std::memcpy(bytes.data(), &*d.configFlags, 4);
        *scratch = bytes;
      } else {
        scratch->reset();
      }
      return scratch;
    default:
      return nullptr;
  }
}

BOOL WINAPI SimUpdateDriver(HWND, LPCSTR hardwareId, LPCSTR fullInfPath, DWORD flags, PBOOL reboot) {
  Log("UpdateDriverForPlugAndPlayDevicesA", hardwareId ? hardwareId : "", flags);
  g_machine.driverUpdates.push_back(
      UpdateDriverCall{hardwareId ? hardwareId : "", fullInfPath ? fullInfPath : "", flags, reboot != nullptr});
  if (RefusedInWow64() || RefusedWithoutRights()) return FALSE;
  if (!g_machine.updateResult) SetLastError(g_machine.updateError);
  if (reboot != nullptr) *reboot = g_machine.updateResult && g_machine.updateNeedsRestart;
  return g_machine.updateResult;
}

}  // namespace

Machine& machine() { return g_machine; }

void Reset() {
  g_sets.clear();
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

// ---------------------------------------------------------------------------
// The platform operations, as the simulated machine answers them.

namespace platform {

using sim::g_machine;
using sim::Log;

BOOL SetupDiClassGuidsFromNameExA(PCSTR ClassName, LPGUID ClassGuidList, DWORD ClassGuidListSize,
                                  PDWORD RequiredSize, PCSTR, PVOID) {
  Log("SetupDiClassGuidsFromNameExA", ClassName ? ClassName : "", ClassGuidListSize);
  if (ClassName == nullptr || RequiredSize == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD found = 0;
  for (const auto& c : g_machine.classes) {
    if (sim::EqualNoCase(c.name, ClassName)) {
      if (found < ClassGuidListSize && ClassGuidList != nullptr) ClassGuidList[found] = c.guid;
      ++found;
    }
  }
  *RequiredSize = found;
  if (found > ClassGuidListSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  return TRUE;
}

HDEVINFO SetupDiGetClassDevsExA(const GUID* ClassGuid, PCSTR Enumerator, HWND, DWORD Flags,
                                HDEVINFO DeviceInfoSet, PCSTR, PVOID) {
  Log("SetupDiGetClassDevsExA", Enumerator != nullptr ? Enumerator : "", Flags);
  if (g_machine.failBuildSet || DeviceInfoSet != nullptr ||
      (ClassGuid == nullptr && !(Flags & DIGCF_ALLCLASSES))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  bool allClasses = (Flags & DIGCF_ALLCLASSES) != 0;
  HDEVINFO h = sim::NewSet(allClasses ? nullptr : ClassGuid);
  auto* set = sim::FindSet(h);
  for (size_t i = 0; i < g_machine.devices.size(); ++i) {
    const auto& d = g_machine.devices[i];
    if (!allClasses && !IsEqualGUID(d.classGuid, *ClassGuid)) continue;
    if ((Flags & DIGCF_PRESENT) && !d.present) continue;
    // An enumerator: the devices whose instance ID it begins, whole, before the first backslash.
    if (Enumerator != nullptr && (d.instanceId.find('\\') != std::strlen(Enumerator) ||
                                  _strnicmp(d.instanceId.c_str(), Enumerator, std::strlen(Enumerator)) != 0)) {
      continue;
    }
    set->members.push_back(i);
  }
  return h;
}

HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags) {
  Log("SetupDiGetClassDevsA", "", Flags);
  auto before = g_machine.calls.size();
  HDEVINFO h = platform::SetupDiGetClassDevsExA(ClassGuid, Enumerator, hwndParent, Flags, nullptr, nullptr, nullptr);
  g_machine.calls.resize(before);  // one log entry per platform call
  return h;
}

HDEVINFO SetupDiCreateDeviceInfoListExA(const GUID* ClassGuid, HWND, PCSTR, PVOID) {
  Log("SetupDiCreateDeviceInfoListExA");
  if (g_machine.failBuildSet) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  return sim::NewSet(ClassGuid);
}

BOOL SetupDiOpenDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId, HWND, DWORD,
                            PSP_DEVINFO_DATA DeviceInfoData) {
  Log("SetupDiOpenDeviceInfoA", DeviceInstanceId ? DeviceInstanceId : "");
  auto* set = sim::FindSet(DeviceInfoSet);
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  for (size_t i = 0; i < g_machine.devices.size(); ++i) {
    const auto& d = g_machine.devices[i];
    if (!sim::EqualNoCase(d.instanceId, DeviceInstanceId)) continue;
    if (set->hasClass && !IsEqualGUID(set->classGuid, d.classGuid)) {
      SetLastError(ERROR_CLASS_MISMATCH);
      return FALSE;
    }
    if (std::find(set->members.begin(), set->members.end(), i) == set->members.end()) {
      set->members.push_back(i);
    }
    if (DeviceInfoData != nullptr) {
      if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
      }
      sim::FillElement(set, i, DeviceInfoData);
    }
    return TRUE;
  }
  SetLastError(ERROR_NO_SUCH_DEVINST);
  return FALSE;
}

BOOL SetupDiGetDeviceInfoListDetailA(HDEVINFO DeviceInfoSet,
                                     PSP_DEVINFO_LIST_DETAIL_DATA_A DeviceInfoSetDetailData) {
  Log("SetupDiGetDeviceInfoListDetailA");
  auto* set = sim::FindSet(DeviceInfoSet);
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (DeviceInfoSetDetailData == nullptr ||
      DeviceInfoSetDetailData->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (g_machine.failListDetail) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DeviceInfoSetDetailData->ClassGuid = set->hasClass ? set->classGuid : GUID{};
  DeviceInfoSetDetailData->RemoteMachineHandle = nullptr;
  DeviceInfoSetDetailData->RemoteMachineName[0] = '\0';
  return TRUE;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
  Log("SetupDiEnumDeviceInfo", "", MemberIndex);
  auto* set = sim::FindSet(DeviceInfoSet);
  if (set == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (MemberIndex >= set->members.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  sim::FillElement(set, set->members[MemberIndex], DeviceInfoData);
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  Log("SetupDiDestroyDeviceInfoList");
  auto it = std::find_if(sim::g_sets.begin(), sim::g_sets.end(),
                         [&](const std::unique_ptr<sim::DeviceSet>& s) { return s.get() == DeviceInfoSet; });
  if (it == sim::g_sets.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  sim::g_sets.erase(it);
  --g_machine.openSets;
  return TRUE;
}

CONFIGRET CM_Get_Device_ID_ExA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG, HMACHINE) {
  if (dnDevInst == 0 || dnDevInst > g_machine.devices.size()) return CR_INVALID_DEVNODE;
  const auto& d = g_machine.devices[dnDevInst - 1];
  Log("CM_Get_Device_ID_ExA", d.instanceId, BufferLen);
  if (!d.instanceIdReadable) return CR_NO_SUCH_DEVNODE;
  if (Buffer == nullptr) return CR_INVALID_POINTER;
  if (d.instanceId.size() + 1 > BufferLen) return CR_BUFFER_SMALL;
  std::memcpy(Buffer, d.instanceId.c_str(), d.instanceId.size() + 1);
  return CR_SUCCESS;
}

CONFIGRET CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG) {
  if (dnDevInst == 0 || dnDevInst > g_machine.devices.size()) return CR_INVALID_DEVNODE;
  const auto& d = g_machine.devices[dnDevInst - 1];
  Log("CM_Get_DevNode_Status", d.instanceId);
  if (!d.statusReadable) return CR_FAILURE;
  const bool running = d.enabledGlobal && d.enabledConfig;
  *pulStatus = DN_DRIVER_LOADED | (running ? DN_STARTED : DN_HAS_PROBLEM);
  *pulProblemNumber = running ? 0 : CM_PROB_DISABLED;
  return CR_SUCCESS;
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                       DWORD PropertyBufferSize, PDWORD RequiredSize) {
  sim::DeviceSet* set;
  size_t index;
  if (!sim::ResolveElement(DeviceInfoSet, DeviceInfoData, &set, &index)) {
    Log("SetupDiGetDeviceRegistryPropertyA", "", Property, PropertyBufferSize);
    return FALSE;
  }
  auto& d = g_machine.devices[index];
  Log("SetupDiGetDeviceRegistryPropertyA", d.instanceId, Property, PropertyBufferSize);
  DWORD type = REG_NONE;
  std::optional<std::vector<uint8_t>> scratch;
  const auto* value = sim::PropertyBytes(d, Property, &type, &scratch);
  if (value == nullptr || !value->has_value()) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  const auto& bytes = **value;
  auto length = static_cast<DWORD>(bytes.size());
  if (PropertyRegDataType != nullptr) *PropertyRegDataType = type;
  if (RequiredSize != nullptr) *RequiredSize = length;
  if (PropertyBufferSize < length) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (length != 0) std::memcpy(PropertyBuffer, bytes.data(), length);
  return TRUE;
}

BOOL SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                       const BYTE* PropertyBuffer, DWORD PropertyBufferSize) {
  sim::DeviceSet* set;
  size_t index;
  if (!sim::ResolveElement(DeviceInfoSet, DeviceInfoData, &set, &index)) return FALSE;
  auto& d = g_machine.devices[index];
  Log("SetupDiSetDeviceRegistryPropertyA", d.instanceId, Property, PropertyBufferSize);
  if (Property != SPDRP_CONFIGFLAGS || PropertyBufferSize != sizeof(DWORD) || PropertyBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD flags;
  std::memcpy(&flags, PropertyBuffer, sizeof flags);
  d.configFlags = flags;
  return TRUE;
}

BOOL SetupDiSetClassInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                   PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize) {
  sim::DeviceSet* set;
  size_t index;
  if (!sim::ResolveElement(DeviceInfoSet, DeviceInfoData, &set, &index)) return FALSE;
  auto& d = g_machine.devices[index];
  if (ClassInstallParams == nullptr || ClassInstallParams->cbSize != sizeof(SP_CLASSINSTALL_HEADER) ||
      ClassInstallParams->InstallFunction != DIF_PROPERTYCHANGE ||
      ClassInstallParamsSize != sizeof(SP_PROPCHANGE_PARAMS)) {
    Log("SetupDiSetClassInstallParamsA", d.instanceId);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* params = reinterpret_cast<SP_PROPCHANGE_PARAMS*>(ClassInstallParams);
  Log("SetupDiSetClassInstallParamsA", d.instanceId, params->StateChange, params->Scope);
  if (d.propChange == sim::PropChange::FailAttach) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  set->classInstallParams[index] = *params;
  return TRUE;
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                               PSP_DEVINFO_DATA DeviceInfoData) {
  sim::DeviceSet* set;
  size_t index;
  if (!sim::ResolveElement(DeviceInfoSet, DeviceInfoData, &set, &index)) return FALSE;
  auto& d = g_machine.devices[index];
  auto it = set->classInstallParams.find(index);
  if (InstallFunction != DIF_PROPERTYCHANGE || it == set->classInstallParams.end()) {
    Log("SetupDiCallClassInstaller", d.instanceId, InstallFunction);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto& p = it->second;
  Log("SetupDiCallClassInstaller", d.instanceId, p.StateChange, p.Scope);
  if (sim::RefusedInWow64() || sim::RefusedWithoutRights()) return FALSE;
  if (d.propChange == sim::PropChange::FailClassInstaller) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  if (g_machine.duringStateChange != nullptr && !sim::g_inHelper) g_machine.duringStateChange();
  if (d.propChange == sim::PropChange::Hangs) {
    WaitForSingleObject(g_machine.releaseHung, INFINITE);
    SetEvent(g_machine.hungReturned);
  }
  bool enable = p.StateChange == DICS_ENABLE;
  if (p.Scope == DICS_FLAG_GLOBAL) {
    d.enabledGlobal = enable;
  } else if (p.Scope == DICS_FLAG_CONFIGSPECIFIC) {
    d.enabledConfig = enable;
  }
  if (d.propChange == sim::PropChange::NeedsRestart) set->installFlags[index] |= DI_NEEDRESTART;
  if (d.propChange == sim::PropChange::NeedsReboot) set->installFlags[index] |= DI_NEEDREBOOT;
  return TRUE;
}

BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
  sim::DeviceSet* set;
  size_t index;
  if (!sim::ResolveElement(DeviceInfoSet, DeviceInfoData, &set, &index)) return FALSE;
  Log("SetupDiGetDeviceInstallParamsA", g_machine.devices[index].instanceId);
  if (DeviceInstallParams == nullptr || DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::memset(reinterpret_cast<BYTE*>(DeviceInstallParams) + sizeof(DWORD), 0,
              sizeof(SP_DEVINSTALL_PARAMS_A) - sizeof(DWORD));
  DeviceInstallParams->Flags = set->installFlags[index];
  return TRUE;
}

BOOL SetupCopyOEMInfA(PCSTR SourceInfFileName, PCSTR OEMSourceMediaLocation, DWORD OEMSourceMediaType,
                      DWORD CopyStyle, PSTR DestinationInfFileName, DWORD, PDWORD, PSTR*) {
  Log("SetupCopyOEMInfA", SourceInfFileName ? SourceInfFileName : "", OEMSourceMediaType, CopyStyle);
  g_machine.copiedInfs.push_back(sim::CopyOemInfCall{SourceInfFileName ? SourceInfFileName : "",
                                                     OEMSourceMediaLocation != nullptr, OEMSourceMediaType,
                                                     CopyStyle, DestinationInfFileName != nullptr});
  return g_machine.copyOemInfResult;
}

// Only the system folder's copy: a load by bare name would search the
// program's folder first, and finds nothing here.
HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE, DWORD dwFlags) {
  Log("LoadLibraryExA", lpLibFileName ? lpLibFileName : "", dwFlags);
  if (lpLibFileName != nullptr && lstrcmpiA(lpLibFileName, "newdev.dll") == 0 &&
      dwFlags == LOAD_LIBRARY_SEARCH_SYSTEM32 && g_machine.newDevPresent) {
    ++g_machine.newDevLoads;
    return sim::NewDevHandle();
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HHOOK SetWindowsHookExA(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId) {
  g_machine.hookThreads.push_back(dwThreadId);
  if (g_machine.hooksRefused) {
    SetLastError(ERROR_HOOK_NOT_INSTALLED);
    return nullptr;
  }
  return ::SetWindowsHookExA(idHook, lpfn, hmod, dwThreadId);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  Log("GetProcAddress", lpProcName ? lpProcName : "");
  if (hModule == sim::NewDevHandle() && lpProcName != nullptr &&
      std::strcmp(lpProcName, "UpdateDriverForPlugAndPlayDevicesA") == 0 && g_machine.updateFunctionPresent) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&sim::SimUpdateDriver));
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  Log("FreeLibrary");
  if (hLibModule != sim::NewDevHandle()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ++g_machine.newDevFrees;
  return TRUE;
}

UINT waveInGetNumDevs() { return static_cast<UINT>(g_machine.waveIn.size()); }
UINT waveOutGetNumDevs() { return static_cast<UINT>(g_machine.waveOut.size()); }

namespace {
template <typename Caps>
MMRESULT FillCaps(const std::vector<std::string>& names, UINT_PTR id, Caps* caps, UINT size) {
  if (caps == nullptr || size != sizeof(Caps)) return MMSYSERR_INVALPARAM;
  if (id >= names.size()) return MMSYSERR_BADDEVICEID;
  std::memset(caps, 0, sizeof(Caps));
  lstrcpynA(caps->szPname, names[id].c_str(), MAXPNAMELEN);
  return MMSYSERR_NOERROR;
}
}  // namespace

MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic) {
  Log("waveInGetDevCapsA", "", static_cast<DWORD>(uDeviceID));
  return FillCaps(g_machine.waveIn, uDeviceID, pwic, cbwic);
}

MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc) {
  Log("waveOutGetDevCapsA", "", static_cast<DWORD>(uDeviceID));
  return FillCaps(g_machine.waveOut, uDeviceID, pwoc, cbwoc);
}

BOOL IsWow64Process(HANDLE, PBOOL Wow64Process) {
  *Wow64Process = g_machine.wow64 && !sim::g_inHelper;
  return TRUE;
}

namespace {

// What a run wrote, as the platform hands it back.
void SetOutput(ProcessRun* run, const std::string& output) {
  run->output = static_cast<char*>(std::malloc(output.size() + 1));
  std::memcpy(run->output, output.data(), output.size());
  run->outputSize = output.size();
}

// The helper runs on this machine, as the 64-bit process it would be, with
// its caller's rights.
BOOL RunHelperOnMachine(const char* request, size_t requestSize, DWORD limit, ProcessRun* run) {
  Log("RunDeviceHelper", "", limit);
  g_machine.helperRequests.emplace_back(request, requestSize);
  *run = ProcessRun{};
  if (g_machine.duringHelperRun != nullptr) g_machine.duringHelperRun();
  if (g_machine.helperRun == sim::HelperRun::CannotWrite || g_machine.helperRun == sim::HelperRun::CannotStart) {
    SetLastError(g_machine.helperRun == sim::HelperRun::CannotWrite ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::string output;
  {
    sim::StdoutCapture capture;
    sim::g_inHelper = true;
    run->exitCode = HandleHelperRequest(request, requestSize);
    sim::g_inHelper = false;
    output = capture.Finish();
  }
  switch (g_machine.helperRun) {
    case sim::HelperRun::Crashes:
      output = output.substr(0, output.find('\n') + 1);
      run->exitCode = 0xC0000005;  // STATUS_ACCESS_VIOLATION
      break;
    case sim::HelperRun::AnswersGarbage:
      output = "\x7f\x01 not an answer\n";
      run->exitCode = 0;
      break;
    case sim::HelperRun::ExitsStillActive:
      run->exitCode = STILL_ACTIVE;
      break;
    case sim::HelperRun::NeverEnds:  // ended at the limit, halfway through its answer
      output = output.substr(0, output.find('\n') + 1);
      run->exitCode = ERROR_TIMEOUT;
      run->timedOut = true;
      break;
    default:
      break;
  }
  SetOutput(run, output);
  return TRUE;
}

// Where a write under HKEY_LOCAL_MACHINE of a virtualized process goes.
std::string VirtualStorePath(LPCSTR subKey) {
  return std::string("Software\\Classes\\VirtualStore\\MACHINE\\") + (subKey != nullptr ? subKey : "");
}

constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | WRITE_DAC | WRITE_OWNER |
                                DELETE | MAXIMUM_ALLOWED;

}  // namespace


BOOL GetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS TokenInformationClass, LPVOID TokenInformation,
                         DWORD TokenInformationLength, PDWORD ReturnLength) {
  DWORD value;
  switch (TokenInformationClass) {
    case TokenElevation: value = sim::HasRights(); break;
    case TokenVirtualizationEnabled: value = g_machine.virtualized && !sim::HasRights(); break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
  }
  if (ReturnLength != nullptr) *ReturnLength = sizeof value;
  if (TokenInformation == nullptr || TokenInformationLength < sizeof value) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(TokenInformation, &value, sizeof value);
  return TRUE;
}

BOOL SetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS TokenInformationClass, LPVOID TokenInformation,
                         DWORD TokenInformationLength) {
  Log("SetTokenInformation", "", TokenInformationClass);
  if (TokenInformationClass != TokenVirtualizationEnabled || TokenInformation == nullptr ||
      TokenInformationLength != sizeof(DWORD)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (g_machine.virtualizationStuck) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  g_machine.virtualized = *static_cast<DWORD*>(TokenInformation) != 0;
  return TRUE;
}

// HKEY_LOCAL_MACHINE refuses changes to a process without the rights, or
// hands a virtualized one its own copy; everything else is Wine's registry.
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  if (hKey == HKEY_LOCAL_MACHINE && (samDesired & kWriteAccess) != 0 && !sim::HasRights()) {
    if (!g_machine.virtualized) return ERROR_ACCESS_DENIED;
    return ::RegOpenKeyExA(HKEY_CURRENT_USER, VirtualStorePath(lpSubKey).c_str(), ulOptions,
                           samDesired & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY), phkResult);
  }
  return ::RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition) {
  if (hKey == HKEY_LOCAL_MACHINE && !sim::HasRights()) {
    if (!g_machine.virtualized) return ERROR_ACCESS_DENIED;
    return ::RegCreateKeyExA(HKEY_CURRENT_USER, VirtualStorePath(lpSubKey).c_str(), Reserved, lpClass,
                             dwOptions, samDesired & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY), lpSecurityAttributes,
                             phkResult, lpdwDisposition);
  }
  return ::RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                           phkResult, lpdwDisposition);
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (g_machine.valueWritesFail) return ERROR_WRITE_FAULT;
  return ::RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason) {
  Log("ExitWindowsEx", "", uFlags, dwReason);
  g_machine.exitRequests.emplace_back(uFlags, dwReason);
  return TRUE;
}

}  // namespace platform

namespace helperrun {

BOOL RunDeviceHelper(const char* request, size_t requestSize, DWORD limit, platform::ProcessRun* run) {
  return platform::RunHelperOnMachine(request, requestSize, limit, run);
}

}  // namespace helperrun

namespace elevation {

// The panel's own run with consent: as the same program, with an
// administrator's rights; what it writes to its answer pipe is the answer.
BOOL RunElevated(int32_t mode, platform::ProcessRun* run) {
  sim::Log("RunElevated", "", static_cast<DWORD>(mode));
  *run = platform::ProcessRun{};
  if (sim::g_machine.elevatedRun == nullptr || sim::g_machine.elevatedRunGoes == sim::ElevatedRun::CannotStart) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (sim::g_machine.consent == sim::Consent::Declined) {
    SetLastError(ERROR_CANCELLED);
    return FALSE;
  }
  ++sim::g_machine.elevatedRuns;
  sim::g_machine.elevatedModes.push_back(mode);
  std::string output;
  {
    sim::StdoutCapture capture;
    sim::g_inElevatedRun = true;
    sim::g_machine.elevatedRun(mode);
    sim::g_inElevatedRun = false;
    output = capture.Finish();
  }
  if (sim::g_machine.elevatedRunGoes == sim::ElevatedRun::NeverEnds) {
    output = output.substr(0, output.find('\n', output.find('\n') + 1) + 1);  // what it said before its limit
    run->timedOut = true;
    run->exitCode = WAIT_TIMEOUT;
  }
  platform::SetOutput(run, output);
  return TRUE;
}

}  // namespace elevation
