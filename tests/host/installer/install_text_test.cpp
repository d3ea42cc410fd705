#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "../devicecontrol/heap_text.h"
#include "installer/install_text.h"

namespace {

using tambrel::ContainsRun;
using tambrel::JoinInfPath;
using tambrel::MultiSzHasEntry;

// An exact-size heap copy, so ASan reports any read past the given size.
struct ExactBlock {
  explicit ExactBlock(const std::string& bytes) : data(new char[bytes.size() == 0 ? 1 : bytes.size()]) {
    std::memcpy(data.get(), bytes.data(), bytes.size());
    size = bytes.size();
  }
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
};

TEST(MultiSzHasEntryTest, MatchesWholeEntriesExactlyWithinTheGivenSize) {
  struct Case {
    const char* what;
    std::string list;
    const char* id;
    bool expected;
  };
  const Case cases[] = {
      {"only entry", Bytes("USB\\VID_1\0\0"), "USB\\VID_1", true},
      {"second entry", Bytes("USB\\A\0USB\\VID_1\0\0"), "USB\\VID_1", true},
      {"prefix of an entry", Bytes("USB\\VID_1&PID_2\0\0"), "USB\\VID_1", false},
      {"entry is a prefix of the id", Bytes("USB\\VID\0\0"), "USB\\VID_1", false},
      {"other letter case", Bytes("usb\\vid_1\0\0"), "USB\\VID_1", false},
      {"after an empty entry", Bytes("USB\\A\0\0USB\\VID_1\0\0"), "USB\\VID_1", false},
      {"no terminators at all", Bytes("USB\\VID_1"), "USB\\VID_1", true},
      {"last entry reaches the size", Bytes("USB\\A\0USB\\VID_1"), "USB\\VID_1", true},
      {"cut inside the id", Bytes("USB\\A\0USB\\VID"), "USB\\VID_1", false},
      {"no closing empty entry", Bytes("USB\\A\0USB\\VID_1\0"), "USB\\VID_1", true},
      {"empty id, empty list", Bytes("\0"), "", false},
      {"empty id, entries", Bytes("USB\\A\0\0"), "", false},
      {"empty id, no terminators", Bytes("X"), "", false},
      {"empty buffer", std::string(), "USB\\VID_1", false},
      {"only NUL", Bytes("\0"), "USB\\VID_1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExactBlock block(c.list);
    EXPECT_EQ(c.expected, MultiSzHasEntry(block.data.get(), block.size, c.id));
  }
}

TEST(MultiSzHasEntryTest, NeverLooksPastTheSizeEvenWhenTheBufferGoesOn) {
  // The id follows in the buffer but outside the size given.
  const std::string bytes = Bytes("USB\\A\0USB\\VID_1\0\0");
  ExactBlock block(bytes);
  EXPECT_FALSE(MultiSzHasEntry(block.data.get(), 6, "USB\\VID_1"));
  EXPECT_FALSE(MultiSzHasEntry(block.data.get(), 10, "USB\\VID_1"));
  EXPECT_TRUE(MultiSzHasEntry(block.data.get(), 15, "USB\\VID_1"));
  EXPECT_FALSE(MultiSzHasEntry(nullptr, 0, "USB\\VID_1"));
}

TEST(JoinInfPathTest, PutsOneBackslashBetweenAndTrimsNothing) {
  struct Case {
    const char* dir;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\drivers", "norza.inf", "C:\\drivers\\norza.inf"},
      {"C:\\drivers\\", "norza.inf", "C:\\drivers\\\\norza.inf"},
      {"", "norza.inf", "\\norza.inf"},
      {"C:\\drivers", "", "C:\\drivers\\"},
      {" C:\\a b ", " x.inf ", " C:\\a b \\ x.inf "},
  };
  for (const auto& c : cases) {
    char path[tambrel::kInfPathSize];
    EXPECT_TRUE(JoinInfPath(c.dir, c.name, path, sizeof path));
    EXPECT_STREQ(c.expected, path);
  }
  // The longest texts fill the buffer exactly; one byte less does not fit.
  const std::string longest(199, 'x');
  ExactBlock exact(std::string(tambrel::kInfPathSize, '?'));
  EXPECT_TRUE(JoinInfPath(longest.c_str(), longest.c_str(), exact.data.get(), tambrel::kInfPathSize));
  EXPECT_EQ(399u, std::strlen(exact.data.get()));
  EXPECT_FALSE(JoinInfPath(longest.c_str(), longest.c_str(), exact.data.get(), tambrel::kInfPathSize - 1));
  EXPECT_STREQ("", exact.data.get());
}

TEST(ContainsRunTest, FindsCodeUnitRunsCaseSignificant) {
  struct Case {
    std::u16string text;
    std::u16string part;
    bool expected;
  };
  const Case cases[] = {
      {u"USB\\VID_2F1A&PID_0107", u"PID_0107", true},
      {u"USB\\VID_2F1A&PID_0107", u"USB", true},
      {u"USB\\VID_2F1A&PID_0107", u"USB\\VID_2F1A&PID_0107", true},
      {u"USB\\VID_2F1A&PID_0107", u"USB\\VID_2F1A&PID_01070", false},
      {u"USB\\VID_2F1A&PID_0107", u"pid_0107", false},
      {u"PID_010", u"PID_0107", false},
      {u"P\u00e9D", u"\u00e9", true},
      {u"P\u00c9D", u"\u00e9", false},
      {u"", u"", true},
      {u"ABC", u"", true},
      {u"", u"A", false},
      {u"AAAB", u"AAB", true},
  };
  for (const auto& c : cases) {
    ExactBlock text(std::string(reinterpret_cast<const char*>(c.text.data()), c.text.size() * 2));
    ExactBlock part(std::string(reinterpret_cast<const char*>(c.part.data()), c.part.size() * 2));
    EXPECT_EQ(c.expected, ContainsRun(reinterpret_cast<const char16_t*>(text.data.get()), c.text.size(),
                                      reinterpret_cast<const char16_t*>(part.data.get()), c.part.size()));
  }
}

}  // namespace
