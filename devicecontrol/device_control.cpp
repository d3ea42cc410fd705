// Device enumeration and selection.
#include "device_control.h"

#include <cstdlib>
#include <cstring>

#include "device_status.h"
#include "platform/unique_handle.h"

namespace {

// The first read offers this much; only a longer value costs a second call.
constexpr DWORD kFirstPropertyRead = 8192;
// Two NULs after whatever the service stored, so the list is always closed.
constexpr DWORD kTerminatorRoom = 2;

}  // namespace

IdList CDeviceControl::ReadDeviceIdList(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD property) {
  DWORD offered = kFirstPropertyRead;
  platform::unique_malloc<char> buffer(static_cast<char*>(std::malloc(offered + kTerminatorRoom)));
  while (buffer) {
    DWORD type = REG_NONE;
    DWORD required = 0;
    if (platform::SetupDiGetDeviceRegistryPropertyA(set, element, property, &type,
                                                    reinterpret_cast<PBYTE>(buffer.get()), offered,
                                                    &required)) {
      // A service reporting more than it was offered is not trusted past the
      // buffer's end.
      DWORD length = required <= offered ? required : offered;
      buffer.get()[length] = '\0';
      buffer.get()[length + 1] = '\0';
      IdList list = SplitMultiString(buffer.get());
      if (list != nullptr) buffer.release();  // the list owns it now
      return list;
    }
    // Retry only with a larger buffer: a service that asks for no more than
    // it was offered would otherwise be asked forever.
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || type != REG_MULTI_SZ || required <= offered ||
        required > MAXDWORD - kTerminatorRoom) {
      return nullptr;
    }
    offered = required;
    buffer.reset(static_cast<char*>(std::malloc(offered + kTerminatorRoom)));
  }
  return nullptr;
}

int32_t CDeviceControl::ForEachMatchingDevice(const char* machineName, DWORD flags, int32_t count,
                                              const char* const* patterns, DeviceCallback callback,
                                              void* context) {
  if (count == 0) return NoPatterns;
  if (count < 0 || patterns == nullptr || callback == nullptr) return Failure;
  for (int32_t i = 0; i < count; ++i) {
    if (patterns[i] == nullptr) return Failure;
  }

  platform::unique_malloc<DevicePattern> table(
      static_cast<DevicePattern*>(std::malloc(sizeof(DevicePattern) * static_cast<size_t>(count))));
  if (!table) return Failure;

  // Class selector: "=<name>" as the first argument.
  int32_t first = 0;
  GUID classGuid{};
  bool hasClass = false;
  if (patterns[0][0] == '=' && patterns[0][1] != '\0') {
    DWORD classCount = 0;
    if (!platform::SetupDiClassGuidsFromNameExA(patterns[0] + 1, &classGuid, 1, &classCount, machineName,
                                                nullptr) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return Failure;
    }
    if (classCount == 0) return Success;  // the name denotes no class
    hasClass = true;
    first = 1;
  }

  // Select-all: nothing left, or a lone "*" next (consumed).
  bool selectAll = false;
  if (first == count) {
    selectAll = true;
  } else if (std::strcmp(patterns[first], "*") == 0) {
    selectAll = true;
    ++first;
  }

  int32_t parsed = count - first;
  bool matchingNeeded = false;
  for (int32_t i = 0; i < parsed; ++i) {
    DevicePattern& p = table.get()[i];
    p = ParseDevicePattern(patterns[first + i]);
    if (p.firstWildcard != nullptr || !p.isInstanceIdPattern) matchingNeeded = true;
  }

  const GUID* classFilter = hasClass ? &classGuid : nullptr;
  platform::unique_hdevinfo set;
  if (matchingNeeded || selectAll) {
    set.reset(platform::SetupDiGetClassDevsExA(classFilter, nullptr, nullptr,
                                               hasClass ? flags : (flags | DIGCF_ALLCLASSES), nullptr,
                                               machineName, nullptr));
  } else {
    // Only literal instance IDs: an empty set that receives exactly those.
    set.reset(platform::SetupDiCreateDeviceInfoListExA(classFilter, nullptr, machineName, nullptr));
  }
  if (!set) return Failure;

  // Devices named by instance ID join the set whatever the flags; a text that
  // names no device (one with a "*", say) adds nothing.
  for (int32_t i = 0; i < parsed; ++i) {
    const DevicePattern& p = table.get()[i];
    if (p.isInstanceIdPattern) {
      platform::SetupDiOpenDeviceInfoA(set.get(), p.text, nullptr, 0, nullptr);
    }
  }

  SP_DEVINFO_LIST_DETAIL_DATA_A detail{};
  detail.cbSize = sizeof(detail);
  if (!platform::SetupDiGetDeviceInfoListDetailA(set.get(), &detail)) return Failure;

  if (selectAll) matchingNeeded = false;

  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof(element);
    if (!platform::SetupDiEnumDeviceInfo(set.get(), index, &element)) break;

    if (matchingNeeded) {
      bool selected = false;
      for (int32_t i = 0; i < parsed && !selected; ++i) {
        const DevicePattern& p = table.get()[i];
        if (p.isInstanceIdPattern) {
          char id[kInstanceIdSize];
          if (platform::CM_Get_Device_ID_ExA(element.DevInst, id, kInstanceIdSize, 0,
                                             detail.RemoteMachineHandle) != CR_SUCCESS) {
            id[0] = '\0';
          }
          id[kInstanceIdSize - 1] = '\0';
          selected = MatchIdPattern(id, p);
        } else {
          IdList hardwareIds = ReadDeviceIdList(set.get(), &element, SPDRP_HARDWAREID);
          IdList compatibleIds = ReadDeviceIdList(set.get(), &element, SPDRP_COMPATIBLEIDS);
          selected = MatchAnyId(hardwareIds, p) || MatchAnyId(compatibleIds, p);
          FreeIdList(hardwareIds);
          FreeIdList(compatibleIds);
        }
      }
      if (!selected) continue;
    }

    int32_t verdict = callback(set.get(), &element, index, context);
    if (verdict != 0) return verdict;
  }
  return Success;
}
