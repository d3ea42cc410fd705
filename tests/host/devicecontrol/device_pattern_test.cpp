#include "devicecontrol/device_pattern.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "heap_text.h"

namespace {

using namespace devicecontrol;
using ::testing::ValuesIn;

constexpr const char* kMi00 = "@USB\\VID_7E51&PID_0002&MI_00\\*";
constexpr const char* kMi03 = "@USB\\VID_7E51&PID_0002&MI_03\\*";
constexpr const char* kMi08 = "@USB\\VID_7E51&PID_0002&MI_08\\*";

struct ParseCase {
  const char* pattern;
  size_t textOffset;
  long starOffset;  // offset of firstWildcard in the pattern, -1 for none
  int instance;
};

TEST(ParseDevicePattern, PrefixesAndFirstWildcard) {
  const ParseCase cases[] = {
      {"", 0, -1, 0},
      {"USB\\ROOT_HUB", 0, -1, 0},
      {"*", 0, 0, 0},
      {"a*b*", 0, 1, 0},
      {"x'*", 0, 2, 0},       // a quote later on is an ordinary character
      {"@", 1, -1, 1},
      {"@*", 1, 1, 1},
      {"@@*", 1, 2, 1},       // only one "@" is a prefix
      {"'", 1, -1, 0},
      {"'*", 1, -1, 0},       // literal: the star is not a wildcard
      {"''*", 1, -1, 0},
      {"@'", 2, -1, 1},
      {"@'*", 2, -1, 1},
      {"'@x", 1, -1, 0},      // "@" after the quote is text, not a prefix
      {"'@*", 1, -1, 0},
      {kMi00, 1, 29, 1},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    const HeapText pattern = HeapCopy(c.pattern);
    const DevicePattern p = ParseDevicePattern(pattern.get());
    EXPECT_EQ(p.text, pattern.get() + c.textOffset);
    EXPECT_EQ(p.firstWildcard, c.starOffset < 0 ? nullptr : pattern.get() + c.starOffset);
    EXPECT_EQ(p.isInstanceIdPattern, c.instance);
  }
}

// A pattern as written, prefixes included, with the IDs it matches and some
// it does not.
struct MatchCase {
  const char* pattern;
  std::vector<const char*> matched;
  std::vector<const char*> unmatched;
};

std::ostream& operator<<(std::ostream& os, const MatchCase& c) { return os << "pattern \"" << c.pattern << "\""; }

// Each table below is one instantiation, a case per pattern.
class MatchIdPattern : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchIdPattern, MatchesExactlyTheIdsListed) {
  for (const bool expected : {true, false}) {
    for (const char* text : expected ? GetParam().matched : GetParam().unmatched) {
      const HeapText pattern = HeapCopy(GetParam().pattern);
      const HeapText id = HeapCopy(text);
      EXPECT_EQ(devicecontrol::MatchIdPattern(id.get(), ParseDevicePattern(pattern.get())), expected)
          << "id \"" << text << "\"";
    }
  }
}

// MI_00 matches its prefix alone too, but nothing shorter.
const MatchCase kInterfacePatterns[] = {
    {kMi00,
     {"USB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000", "usb\\vid_7e51&pid_0002&mi_00\\7&1a2b3c&0&0000",
      "Usb\\Vid_7e51&PID_0002&mI_00\\7&1A2B3C&0&0000", "USB\\VID_7E51&PID_0002&MI_00\\"},
     {"USB\\VID_7E51&PID_0002&MI_00", "USB\\VID_7E51&PID_0002&MI_0", "USB\\VID_7E51", "",
      "USB\\VID_7E51&PID_0002&MI_01\\7&1A2B3C&0&0001", "USB\\VID_7E51&PID_0002&MI_003\\7&1A2B3C&0&0000",
      "USB\\VID_7E51&PID_0003&MI_00\\7&1A2B3C&0&0000", "XUSB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000"}},
    {kMi03, {"USB\\VID_7E51&PID_0002&MI_03\\7&1A2B3C&0&0003"}, {"USB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000"}},
    {kMi08, {"usb\\vid_7e51&pid_0002&mi_08\\7&1a2b3c&0&0008"}, {"USB\\VID_7E51&PID_0002&MI_08"}},
};
INSTANTIATE_TEST_SUITE_P(InterfacePatterns, MatchIdPattern, ValuesIn(kInterfacePatterns));

const MatchCase kLoneStarAndStarRuns[] = {
    {"*", {"", "a", "USB\\VID_7E51&PID_0002"}, {}},
    {"**", {""}, {}},
    {"*****", {"x"}, {}},
    {"@*", {""}, {}},
    {"a**b", {"ab"}, {"a"}},
    {"a***b", {"axyzb"}, {}},
    {"**a**b**", {"xaybz"}, {"xbya"}},
    {"a*", {"A"}, {""}},
    {"*a", {}, {""}},
};
INSTANTIATE_TEST_SUITE_P(LoneStarAndStarRuns, MatchIdPattern, ValuesIn(kLoneStarAndStarRuns));

// The tail may be longer than the ID ("ef") or than what is left of it
// ("abcde"); it may not reuse the prefix ("abc*cde") or overlap the segment
// before it ("abcd").
const MatchCase kTailAnchoredAtTheEnd[] = {
    {"*def", {"def"}, {"ef"}},
    {"abc*def", {"abcdef", "abcdefdef", "abcDEF"}, {"abcde", "abcdefx"}},
    {"abc*cde", {}, {"abcde"}},
    {"a*bc*cd", {"abccd", "abcxcd"}, {"abcd"}},
    {"*ab*ab", {"abab"}, {"aba", "ab"}},
};
INSTANTIATE_TEST_SUITE_P(TailAnchoredAtTheEnd, MatchIdPattern, ValuesIn(kTailAnchoredAtTheEnd));

// In "xaaab" the first candidate fails and a later one fits; "ab" and
// "xxab" end inside the segment.
const MatchCase kInteriorSegments[] = {
    {"*aab*", {"xaaab", "xaaxaab"}, {"aaxab"}},
    {"*aab", {"aaab"}, {}},
    {"*abab*", {"abaabab"}, {"abaaba"}},
    {"*ab*", {"xABy"}, {}},
    {"*AB*", {"xaby"}, {}},
    {"*VID_7E51*PID_0002*", {"usb\\vid_7e51&pid_0002&mi_00\\0"}, {}},
    {"*PID_0002*VID_7E51*", {}, {"USB\\VID_7E51&PID_0002&MI_00\\0"}},
    {"*abc*", {}, {"ab", "xxab"}},
    {"x*a*b*c", {"xcbabc"}, {"xcbac"}},
    {"*a*a*a*", {"aaa"}, {"aa"}},
};
INSTANTIATE_TEST_SUITE_P(InteriorSegments, MatchIdPattern, ValuesIn(kInteriorSegments));

// Pairs 0x20 apart that are not letters must stay distinct; \xc4 and \xe4
// are Latin-1 capital and small A umlaut.
const MatchCase kOnlyAsciiLettersFoldCase[] = {
    {"a_b", {}, {"a\x7f" "b"}},
    {"*_*", {}, {"a\x7f" "b"}},
    {"*[*", {}, {"{"}},
    {"^", {}, {"~"}},
    {"@@", {}, {"`"}},
    {"*@", {}, {"`"}},
    {"\xc4", {}, {"\xe4"}},
    {"*\xc4*", {"x\xc4y"}, {"x\xe4y"}},
    {"\xc4*", {"\xc4"}, {}},
    {"ZzZ", {"zZz"}, {}},
};
INSTANTIATE_TEST_SUITE_P(OnlyAsciiLettersFoldCase, MatchIdPattern, ValuesIn(kOnlyAsciiLettersFoldCase));

// "@" alone matches the empty instance ID only.
const MatchCase kWithoutWildcardWholeIdEquality[] = {
    {"USB\\ROOT_HUB", {"usb\\root_hub"}, {"USB\\ROOT_HUB20", "USB\\ROOT_HU", ""}},
    {"", {""}, {"x"}},
    {"@", {""}, {"@", "x"}},
    {"@@x", {"@X"}, {}},
};
INSTANTIATE_TEST_SUITE_P(WithoutWildcardWholeIdEquality, MatchIdPattern, ValuesIn(kWithoutWildcardWholeIdEquality));

// A quote past the start is plain text ("x'*").
const MatchCase kLiteralPatterns[] = {
    {"'*", {"*"}, {"x", "", "**"}},
    {"'a*b", {"a*b", "A*B"}, {"axb", "ab"}},
    {"'", {""}, {"'"}},
    {"''*", {"'*"}, {"'x"}},
    {"@'", {""}, {"x"}},
    {"@'*", {"*"}, {"abc"}},
    {"'@x", {"@x", "@X"}, {"x"}},
    {"'@*", {"@*"}, {"@abc"}},
    {"x'*", {"x'abc"}, {}},
};
INSTANTIATE_TEST_SUITE_P(LiteralPatterns, MatchIdPattern, ValuesIn(kLiteralPatterns));

TEST(NextChar, StepsOneByteAndStopsAtTerminator) {
  const HeapText text = HeapCopy("a\xc4");
  const char* p = text.get();
  EXPECT_EQ(devicecontrol::NextChar(p), p + 1);
  EXPECT_EQ(devicecontrol::NextChar(p + 1), p + 2);
  EXPECT_EQ(devicecontrol::NextChar(p + 2), p + 2);
}

}  // namespace
