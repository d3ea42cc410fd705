// The simulated device database: device sets, properties, and the class
// installer's property changes.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "platform/device_setup.h"
#include "sim_state.h"

namespace sim {

namespace {

struct DeviceSet {
  bool hasClass = false;
  GUID classGuid{};
  std::vector<size_t> members;  // indices into machine().devices
  std::map<size_t, SP_PROPCHANGE_PARAMS> classInstallParams;
  std::map<size_t, DWORD> installFlags;
};

std::vector<std::unique_ptr<DeviceSet>> g_sets;

// The set a handle names; null, with the platform's error, for another handle.
DeviceSet* FindSet(HDEVINFO set) {
  for (auto& s : g_sets) {
    if (s.get() == set) return s.get();
  }
  SetLastError(ERROR_INVALID_HANDLE);
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

// The set and device an element names, after the checks the platform makes;
// a null set, with the platform's error, when it names none.
std::pair<DeviceSet*, size_t> ResolveElement(HDEVINFO h, PSP_DEVINFO_DATA data) {
  DeviceSet* set = FindSet(h);
  if (set == nullptr) return {nullptr, 0};
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return {nullptr, 0};
  }
  size_t index = data->DevInst - 1;
  if (data->Reserved != reinterpret_cast<ULONG_PTR>(set) || data->DevInst == 0 ||
      std::find(set->members.begin(), set->members.end(), index) == set->members.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return {nullptr, 0};
  }
  return {set, index};
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

}  // namespace

void ResetDeviceSets() { g_sets.clear(); }

}  // namespace sim

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
  if (set == nullptr) return FALSE;
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
  if (set == nullptr) return FALSE;
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
  if (set == nullptr) return FALSE;
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
  const auto [set, index] = sim::ResolveElement(DeviceInfoSet, DeviceInfoData);
  if (set == nullptr) {
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
  const auto [set, index] = sim::ResolveElement(DeviceInfoSet, DeviceInfoData);
  if (set == nullptr) return FALSE;
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
  const auto [set, index] = sim::ResolveElement(DeviceInfoSet, DeviceInfoData);
  if (set == nullptr) return FALSE;
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
  const auto [set, index] = sim::ResolveElement(DeviceInfoSet, DeviceInfoData);
  if (set == nullptr) return FALSE;
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
  const auto [set, index] = sim::ResolveElement(DeviceInfoSet, DeviceInfoData);
  if (set == nullptr) return FALSE;
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

}  // namespace platform
