#include "devicecontrol/device_pattern.h"

#include <gtest/gtest.h>

#include <string>

#include "heap_text.h"

namespace {

using namespace devicecontrol;

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
    if (c.starOffset < 0) {
      EXPECT_EQ(p.firstWildcard, nullptr);
    } else {
      EXPECT_EQ(p.firstWildcard, pattern.get() + c.starOffset);
    }
    EXPECT_EQ(p.isInstanceIdPattern, c.instance);
  }
}

struct MatchCase {
  const char* pattern;  // as written, prefixes included
  const char* id;
  bool expected;
};

void ExpectMatches(const MatchCase* begin, const MatchCase* end) {
  for (const MatchCase* c = begin; c != end; ++c) {
    const HeapText pattern = HeapCopy(c->pattern);
    const HeapText id = HeapCopy(c->id);
    EXPECT_EQ(MatchIdPattern(id.get(), ParseDevicePattern(pattern.get())), c->expected)
        << "pattern \"" << c->pattern << "\" id \"" << c->id << "\"";
  }
}

template <size_t N>
void ExpectMatches(const MatchCase (&cases)[N]) {
  ExpectMatches(cases, cases + N);
}

TEST(MatchIdPattern, InterfacePatterns) {
  const MatchCase cases[] = {
      {kMi00, "USB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000", true},
      {kMi00, "usb\\vid_7e51&pid_0002&mi_00\\7&1a2b3c&0&0000", true},
      {kMi00, "Usb\\Vid_7e51&PID_0002&mI_00\\7&1A2B3C&0&0000", true},
      {kMi00, "USB\\VID_7E51&PID_0002&MI_00\\", true},   // the prefix itself
      {kMi00, "USB\\VID_7E51&PID_0002&MI_00", false},    // shorter than the prefix
      {kMi00, "USB\\VID_7E51&PID_0002&MI_0", false},
      {kMi00, "USB\\VID_7E51", false},
      {kMi00, "", false},
      {kMi00, "USB\\VID_7E51&PID_0002&MI_01\\7&1A2B3C&0&0001", false},
      {kMi00, "USB\\VID_7E51&PID_0002&MI_003\\7&1A2B3C&0&0000", false},
      {kMi00, "USB\\VID_7E51&PID_0003&MI_00\\7&1A2B3C&0&0000", false},
      {kMi00, "XUSB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000", false},
      {kMi03, "USB\\VID_7E51&PID_0002&MI_03\\7&1A2B3C&0&0003", true},
      {kMi03, "USB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000", false},
      {kMi08, "usb\\vid_7e51&pid_0002&mi_08\\7&1a2b3c&0&0008", true},
      {kMi08, "USB\\VID_7E51&PID_0002&MI_08", false},
  };
  ExpectMatches(cases);
}

TEST(MatchIdPattern, LoneStarAndStarRuns) {
  const MatchCase cases[] = {
      {"*", "", true},
      {"*", "a", true},
      {"*", "USB\\VID_7E51&PID_0002", true},
      {"**", "", true},
      {"*****", "x", true},
      {"@*", "", true},
      {"a**b", "ab", true},
      {"a***b", "axyzb", true},
      {"a**b", "a", false},
      {"**a**b**", "xaybz", true},
      {"**a**b**", "xbya", false},
      {"a*", "A", true},
      {"a*", "", false},
      {"*a", "", false},
  };
  ExpectMatches(cases);
}

TEST(MatchIdPattern, TailAnchoredAtTheEnd) {
  const MatchCase cases[] = {
      {"*def", "def", true},
      {"*def", "ef", false},                // tail longer than the id
      {"abc*def", "abcdef", true},
      {"abc*def", "abcde", false},          // tail longer than what is left
      {"abc*def", "abcdefdef", true},
      {"abc*def", "abcdefx", false},
      {"abc*def", "abcDEF", true},
      {"abc*cde", "abcde", false},          // tail may not reuse the prefix
      {"a*bc*cd", "abcd", false},           // tail may not overlap the segment
      {"a*bc*cd", "abccd", true},
      {"a*bc*cd", "abcxcd", true},
      {"*ab*ab", "abab", true},
      {"*ab*ab", "aba", false},
      {"*ab*ab", "ab", false},
  };
  ExpectMatches(cases);
}

TEST(MatchIdPattern, InteriorSegments) {
  const MatchCase cases[] = {
      {"*aab*", "xaaab", true},     // first candidate fails, one later fits
      {"*aab*", "xaaxaab", true},
      {"*aab*", "aaxab", false},
      {"*aab", "aaab", true},
      {"*abab*", "abaabab", true},
      {"*abab*", "abaaba", false},
      {"*ab*", "xABy", true},
      {"*AB*", "xaby", true},
      {"*VID_7E51*PID_0002*", "usb\\vid_7e51&pid_0002&mi_00\\0", true},
      {"*PID_0002*VID_7E51*", "USB\\VID_7E51&PID_0002&MI_00\\0", false},
      {"*abc*", "ab", false},       // id ends inside the segment
      {"*abc*", "xxab", false},
      {"x*a*b*c", "xcbabc", true},
      {"x*a*b*c", "xcbac", false},
      {"*a*a*a*", "aa", false},
      {"*a*a*a*", "aaa", true},
  };
  ExpectMatches(cases);
}

TEST(MatchIdPattern, OnlyAsciiLettersFoldCase) {
  // Pairs 0x20 apart that are not letters must stay distinct.
  const MatchCase cases[] = {
      {"a_b", "a\x7f" "b", false},
      {"*_*", "a\x7f" "b", false},
      {"*[*", "{", false},
      {"^", "~", false},
      {"@@", "`", false},
      {"*@", "`", false},
      {"\xc4", "\xe4", false},      // Latin-1 capital and small A umlaut
      {"*\xc4*", "x\xe4y", false},
      {"*\xc4*", "x\xc4y", true},
      {"\xc4*", "\xc4", true},
      {"ZzZ", "zZz", true},
  };
  ExpectMatches(cases);
}

TEST(MatchIdPattern, WithoutWildcardWholeIdEquality) {
  const MatchCase cases[] = {
      {"USB\\ROOT_HUB", "usb\\root_hub", true},
      {"USB\\ROOT_HUB", "USB\\ROOT_HUB20", false},
      {"USB\\ROOT_HUB", "USB\\ROOT_HU", false},
      {"USB\\ROOT_HUB", "", false},
      {"", "", true},
      {"", "x", false},
      {"@", "", true},              // "@" alone: the empty instance ID only
      {"@", "@", false},
      {"@", "x", false},
      {"@@x", "@X", true},
  };
  ExpectMatches(cases);
}

TEST(MatchIdPattern, LiteralPatterns) {
  const MatchCase cases[] = {
      {"'*", "*", true},
      {"'*", "x", false},
      {"'*", "", false},
      {"'*", "**", false},
      {"'a*b", "a*b", true},
      {"'a*b", "A*B", true},
      {"'a*b", "axb", false},
      {"'a*b", "ab", false},
      {"'", "", true},
      {"'", "'", false},
      {"''*", "'*", true},
      {"''*", "'x", false},
      {"@'", "", true},
      {"@'", "x", false},
      {"@'*", "*", true},
      {"@'*", "abc", false},
      {"'@x", "@x", true},
      {"'@x", "@X", true},
      {"'@x", "x", false},
      {"'@*", "@*", true},
      {"'@*", "@abc", false},
      {"x'*", "x'abc", true},       // a quote past the start is plain text
  };
  ExpectMatches(cases);
}

TEST(NextChar, StepsOneByteAndStopsAtTerminator) {
  const HeapText text = HeapCopy("a\xc4");
  const char* p = text.get();
  EXPECT_EQ(devicecontrol::NextChar(p), p + 1);
  EXPECT_EQ(devicecontrol::NextChar(p + 1), p + 2);
  EXPECT_EQ(devicecontrol::NextChar(p + 2), p + 2);
}

}  // namespace
