// Device enumeration and selection: the walk over the platform's devices.
#include "devicecontrol/device_walk.h"

#include <cstdlib>
#include <cstring>

namespace devicecontrol {

namespace {

// The first read offers this much; only a longer value costs a second call.
constexpr DWORD kFirstPropertyRead = 8192;
// Two NULs after whatever the service stored, so the list is always closed.
constexpr DWORD kTerminatorRoom = 2;

}  // namespace

IdList ReadDeviceIdList(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD property) {
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


DeviceIds::~DeviceIds() {
  FreeIdList(hardware_);
  FreeIdList(compatible_);
}

const char* DeviceIds::InstanceId() {
  if (!idRead_) {
    idRead_ = true;
    // A failed read gives the empty text.
    if (platform::CM_Get_Device_ID_ExA(element_->DevInst, id_, kInstanceIdSize, 0, machine_) != CR_SUCCESS) {
      id_[0] = '\0';
    }
    id_[kInstanceIdSize - 1] = '\0';
  }
  return id_;
}

bool DeviceIds::AnyIdMatches(const DevicePattern& p) {
  if (!listsRead_) {
    listsRead_ = true;
    hardware_ = ReadDeviceIdList(set_, element_, SPDRP_HARDWAREID);
    compatible_ = ReadDeviceIdList(set_, element_, SPDRP_COMPATIBLEIDS);
  }
  return MatchAnyId(hardware_, p) || MatchAnyId(compatible_, p);
}

namespace {

bool Selects(const Selection& s, DeviceIds& ids) {
  if (s.all || !s.matching) return true;
  for (int32_t i = 0; i < s.count; ++i) {
    const DevicePattern& p = s.patterns[i];
    if (p.isInstanceIdPattern ? MatchIdPattern(ids.InstanceId(), p) : ids.AnyIdMatches(p)) return true;
  }
  return false;
}

// The class a selector names: its GUID, none (Success: it names no class),
// or Failure.
int32_t LookUpClass(const Selection& s, const char* machineName, GUID* guid, bool* found) {
  *found = false;
  if (s.className == nullptr) return Success;
  DWORD classes = 0;
  if (!platform::SetupDiClassGuidsFromNameExA(s.className, guid, 1, &classes, machineName, nullptr) &&
      ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return Failure;
  }
  *found = classes != 0;  // with several classes of that name, the first
  return Success;
}

// The set a selection needs: every present device (of the class), only
// those of one enumerator when no other can match, or none but the devices
// named by instance ID, which join it whatever the flags say.
HDEVINFO BuildSet(const Selection& s, const GUID* classGuid, const char* machineName, DWORD flags) {
  if (!s.matching && !s.all) return platform::SetupDiCreateDeviceInfoListExA(classGuid, nullptr, machineName, nullptr);
  char enumerator[kInstanceIdSize];
  const char* restrict = nullptr;
  if (s.enumerator != nullptr && s.enumeratorLength < sizeof enumerator) {
    std::memcpy(enumerator, s.enumerator, s.enumeratorLength);
    enumerator[s.enumeratorLength] = '\0';
    restrict = enumerator;
  }
  return platform::SetupDiGetClassDevsExA(classGuid, restrict, nullptr,
                                          classGuid != nullptr ? flags : (flags | DIGCF_ALLCLASSES), nullptr,
                                          machineName, nullptr);
}

// A list is well formed when its count is not negative and every pattern it
// counts is given; a nonempty one is parsed into `selection`.
bool ParseList(const PatternList& list, Selection* selection) {
  bool ok = list.count >= 0 && (list.count == 0 || list.patterns != nullptr);
  for (int32_t i = 0; ok && i < list.count; ++i) ok = list.patterns[i] != nullptr;
  return ok && (list.count == 0 || ParseSelection(list.count, list.patterns, selection));
}

}  // namespace

platform::unique_hdevinfo WalkPatternLists(const char* machineName, DWORD flags, const PatternList* lists,
                                           std::size_t count, int32_t* results, ListVisitor visit, void* context) {
  Selection selections[kMaxPatternLists];
  std::size_t parsed = 0;
  bool ok = count <= kMaxPatternLists && visit != nullptr;
  for (std::size_t l = 0; l < count && ok; ++l) {
    results[l] = Failure;
    ok = ParseList(lists[l], &selections[l]);
    parsed = l + 1;
  }
  platform::unique_hdevinfo set;
  if (ok) {
    // One set for each run of lists it serves alike (the first of them and
    // the later ones SameSet matches), walked once for all of them.
    bool walked[kMaxPatternLists] = {};
    for (std::size_t l = 0; l < count; ++l) {
      if (lists[l].count == 0) {
        results[l] = NoPatterns;
        continue;
      }
      if (walked[l]) continue;
      GUID classGuid{};
      bool hasClass = false;
      if (LookUpClass(selections[l], machineName, &classGuid, &hasClass) != Success) continue;
      if (selections[l].className != nullptr && !hasClass) {
        results[l] = Success;  // the name denotes no class
        continue;
      }
      // The lists that this set serves besides: later ones alike.
      bool serves[kMaxPatternLists] = {};
      serves[l] = true;
      for (std::size_t m = l + 1; m < count && !hasClass; ++m) {
        serves[m] = lists[m].count != 0 && SameSet(selections[l], selections[m]);
        walked[m] = serves[m];
      }
      set.reset(BuildSet(selections[l], hasClass ? &classGuid : nullptr, machineName, flags));
      if (!set) continue;
      // Devices named by instance ID join the set whatever the flags; a
      // pattern with a wildcard names none and is never opened.
      for (std::size_t m = l; m < count; ++m) {
        for (int32_t i = 0; serves[m] && i < selections[m].count; ++i) {
          if (NamesOneDevice(selections[m].patterns[i])) {
            platform::SetupDiOpenDeviceInfoA(set.get(), selections[m].patterns[i].text, nullptr, 0, nullptr);
          }
        }
      }
      SP_DEVINFO_LIST_DETAIL_DATA_A detail{};
      detail.cbSize = sizeof(detail);
      if (!platform::SetupDiGetDeviceInfoListDetailA(set.get(), &detail)) {
        set.reset();
        continue;  // Failure for each list it served
      }
      int32_t result = Success;
      for (DWORD index = 0; result == Success; ++index) {
        SP_DEVINFO_DATA element{};
        element.cbSize = sizeof(element);
        if (!platform::SetupDiEnumDeviceInfo(set.get(), index, &element)) break;
        DeviceIds ids(set.get(), &element, detail.RemoteMachineHandle);
        for (std::size_t m = l; m < count && result == Success; ++m) {
          if (serves[m] && Selects(selections[m], ids)) result = visit(set.get(), &element, index, m, ids, context);
        }
      }
      for (std::size_t m = l; m < count; ++m) {
        if (serves[m]) results[m] = result;
      }
    }
  }
  for (std::size_t l = 0; l < parsed; ++l) FreeSelection(&selections[l]);
  return set;
}

bool OneSetServes(const PatternList* lists, std::size_t count) {
  if (count > kMaxPatternLists) return false;
  Selection selections[kMaxPatternLists];
  bool same = true;
  for (std::size_t l = 0; l < count; ++l) {
    same = same && lists[l].count > 0 && ParseList(lists[l], &selections[l]) &&
           (l == 0 || SameSet(selections[0], selections[l]));
  }
  for (std::size_t l = 0; l < count; ++l) FreeSelection(&selections[l]);
  return same;
}

}  // namespace devicecontrol
