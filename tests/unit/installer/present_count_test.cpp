#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "sim_machine.h"
#include "installer/include/tambrel.h"

namespace {

// The hardware-ID reads of the log: (device, size offered).
std::vector<std::pair<std::string, DWORD>> IdReads() {
  std::vector<std::pair<std::string, DWORD>> out;
  for (const auto& c : sim::CallsOf("SetupDiGetDeviceRegistryPropertyA")) {
    if (c.a == SPDRP_HARDWAREID) out.emplace_back(c.device, c.b);
  }
  return out;
}

class PresentCountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::AddDevice("USB\\NORZA\\1", sim::kMediaClass, {"USB\\VID_2F1A&PID_0107&REV_0100", "USB\\VID_2F1A"});
    sim::AddDevice("USB\\NORZA\\2", sim::kUsbClass, {"USB\\VID_2F1A&PID_0107&MI_00"});
    sim::AddDevice("USB\\NORZA\\ABSENT", sim::kMediaClass, {"USB\\VID_2F1A&PID_0107"}).present = false;
    sim::AddDevice("USB\\LATER\\1", sim::kMediaClass, {"USB\\VID_0001", "USB\\VID_2F1A&PID_0107"});
    sim::AddDevice("USB\\LOWER\\1", sim::kHidClass, {"usb\\vid_2f1a&pid_0107"});
    sim::AddDevice("USB\\COMPAT\\1", sim::kSystemClass, {"ROOT\\X"}, {"USB\\VID_2F1A&PID_0107"});
    sim::AddDevice("ROOT\\NOIDS\\1", sim::kSystemClass, {});
    sim::AddDevice("ROOT\\RAW\\1", sim::kSystemClass, {});
    const std::string raw = "RAW\\PID_0107";  // no terminator at all
    sim::machine().devices.back().hardwareIds = std::vector<uint8_t>(raw.begin(), raw.end());
  }
};

// Each count asks for the present devices of all classes, in one set.
TEST_F(PresentCountTest, CountsPresentDevicesOfAllClassesWhoseFirstIdContainsTheText) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"VID_2F1A&PID_0107", 2},   // not the absent one, not in a later ID, not another case
      {"PID_0107", 3},            // the unterminated list counts too
      {"vid_2f1a", 1},            // case significant
      {"USB\\VID_2F1A&PID_0107&REV_0100", 1},
      {"USB\\VID_2F1A&PID_0107&REV_01000", 0},
      {"ROOT\\X", 1},
      {"", 6},                    // every present device with a readable ID
      {"NOWHERE", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    sim::machine().calls.clear();
    EXPECT_EQ(c.expected, GetDevicePresentCount(c.text));
    EXPECT_EQ(0, sim::machine().openSets);
    const auto builds = sim::CallsOf("SetupDiGetClassDevsA");
    ASSERT_EQ(1u, builds.size());
    EXPECT_EQ(static_cast<DWORD>(DIGCF_PRESENT | DIGCF_ALLCLASSES), builds[0].a);
  }
}

TEST(PresentCountRetryTest, GrowsTheBufferWhenAListIsLongerAndOffersTheLastSizeNext) {
  sim::Reset();
  const std::string longId(300, 'L');
  sim::AddDevice("A", sim::kMediaClass, {"USB\\VID_2F1A&PID_0107"});
  sim::AddDevice("B", sim::kMediaClass, {"SHORT"});
  sim::AddDevice("C", sim::kMediaClass, {longId + "PID_0107"});

  EXPECT_EQ(2, GetDevicePresentCount("PID_0107"));

  const DWORD a = static_cast<DWORD>(sim::MultiSz({"USB\\VID_2F1A&PID_0107"}).size());
  const DWORD b = static_cast<DWORD>(sim::MultiSz({"SHORT"}).size());
  const DWORD c = static_cast<DWORD>(sim::MultiSz({longId + "PID_0107"}).size());
  const std::vector<std::pair<std::string, DWORD>> expected = {
      {"A", 0}, {"A", a},  // nothing yet: read, grow, read again
      {"B", a},            // fits in what there is
      {"C", b}, {"C", c},  // the last reported size is offered, then grown
  };
  EXPECT_EQ(expected, IdReads());
  EXPECT_EQ(0, sim::machine().openSets);
}

// The thread's last error tells a count of 0 from a failure to count.
TEST(PresentCountRetryTest, NullTextAndUnusableSetCountNothingAndSayWhy) {
  sim::Reset();
  sim::AddDevice("A", sim::kMediaClass, {"USB\\VID_2F1A&PID_0107"});
  EXPECT_EQ(0, GetDevicePresentCount(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());
  EXPECT_TRUE(sim::machine().calls.empty());

  ::SetLastError(0xDEAD);
  EXPECT_EQ(0, GetDevicePresentCount("NOWHERE"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ::GetLastError());

  sim::machine().failBuildSet = true;
  EXPECT_EQ(0, GetDevicePresentCount("PID"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());  // the set's own error
  EXPECT_EQ(0, sim::machine().openSets);
}

}  // namespace
