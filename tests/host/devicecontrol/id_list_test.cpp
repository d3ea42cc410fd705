#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "devicecontrol/device_pattern.h"
#include "heap_text.h"

namespace {

using namespace devicecontrol;

// A list owning a malloc'ed multi-string; the bytes given must already end in
// the empty string (MallocCopy adds one more NUL).
struct ListHolder {
  IdList list;
  explicit ListHolder(const std::string& multi) {
    char* buffer = MallocCopy(multi);
    list = SplitMultiString(buffer);
    if (list == nullptr) std::free(buffer);
  }
  ~ListHolder() { FreeIdList(list); }
  ListHolder(const ListHolder&) = delete;
  ListHolder& operator=(const ListHolder&) = delete;
};

std::vector<std::string> Entries(IdList list) {
  std::vector<std::string> out;
  for (char** e = list; *e != nullptr; ++e) out.emplace_back(*e);
  return out;
}

struct SplitCase {
  std::string multi;
  std::vector<std::string> entries;
};

TEST(SplitMultiString, EntriesInOrderOverTheBuffer) {
  const SplitCase cases[] = {
      {Bytes("\0"), {}},
      {Bytes(""), {}},
      {Bytes("USB\\ROOT_HUB\0"), {"USB\\ROOT_HUB"}},
      {Bytes("USB\\VID_7E51&PID_0002&MI_00\0USB\\Class_01&SubClass_01\0USB\\Class_01\0"),
       {"USB\\VID_7E51&PID_0002&MI_00", "USB\\Class_01&SubClass_01", "USB\\Class_01"}},
      {Bytes("a\0\0b\0"), {"a"}},  // the first empty string ends it
      {Bytes("x\0y\0z\0"), {"x", "y", "z"}},
  };
  for (const SplitCase& c : cases) {
    ListHolder holder(c.multi);
    ASSERT_NE(holder.list, nullptr);
    EXPECT_EQ(Entries(holder.list), c.entries);
    // Entries point into the buffer held in the slot before the first one.
    const char* buffer = holder.list[-1];
    ASSERT_NE(buffer, nullptr);
    size_t offset = 0;
    for (size_t i = 0; i < c.entries.size(); ++i) {
      EXPECT_EQ(holder.list[i], buffer + offset);
      offset += c.entries[i].size() + 1;
    }
    EXPECT_EQ(holder.list[c.entries.size()], nullptr);
  }
}

TEST(SplitMultiString, NullBufferGivesEmptyList) {
  IdList list = SplitMultiString(nullptr);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list[-1], nullptr);
  EXPECT_EQ(list[0], nullptr);
  FreeIdList(list);
}

TEST(FreeIdList, NullAndBufferlessLists) {
  FreeIdList(nullptr);
  // A slot array built by hand with no buffer: only the slots are freed
  // (LeakSanitizer checks nothing is left behind).
  auto** slots = static_cast<char**>(std::malloc(2 * sizeof(char*)));
  ASSERT_NE(slots, nullptr);
  slots[0] = nullptr;
  slots[1] = nullptr;
  FreeIdList(slots + 1);
}

TEST(MatchAnyId, AnyEntryMatches) {
  ListHolder ids(Bytes(
      "USB\\VID_7E51&PID_0002&REV_0100&MI_00\0USB\\VID_7E51&PID_0002&MI_00\0"
      "USB\\Class_01&SubClass_01&Prot_20\0USB\\Class_01\0"));
  ListHolder empty(Bytes(""));
  ASSERT_NE(ids.list, nullptr);
  ASSERT_EQ(Entries(ids.list).size(), 4u);
  ASSERT_NE(empty.list, nullptr);

  // A list, with patterns that match one of its entries (the second, the
  // last...) and patterns that match none.
  const struct {
    const char* name;
    IdList list;
    std::vector<const char*> matched, unmatched;
  } cases[] = {
      {"ids", ids.list, {"USB\\VID_7E51&PID_0002&MI_00", "usb\\class_01", "USB\\Class_01&*", "*"},
       {"*&REV_01??*", "USB\\VID_7E51&PID_0003*"}},
      {"empty", empty.list, {}, {"*", ""}},
      {"null", nullptr, {}, {"*", ""}},
  };
  for (const auto& c : cases) {
    for (const bool expected : {true, false}) {
      for (const char* text : expected ? c.matched : c.unmatched) {
        const HeapText pattern = HeapCopy(text);
        EXPECT_EQ(MatchAnyId(c.list, ParseDevicePattern(pattern.get())), expected)
            << "pattern \"" << text << "\" list " << c.name;
      }
    }
  }
}

}  // namespace
