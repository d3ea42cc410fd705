// Device selection on the simulated machine, through the engine's own
// ForEachMatchingDevice.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture_stdout.h"
#include "norza_machine.h"

using namespace testmachine;
using namespace devicecontrol;

namespace {

struct Visit {
  std::vector<std::string> ids;
  std::vector<uint32_t> indices;
  int32_t stopAt = -1;      // visit number whose callback returns stopWith
  int32_t stopWith = 0;
};

int32_t Record(HDEVINFO, PSP_DEVINFO_DATA element, uint32_t index, void* context) {
  auto* visit = static_cast<Visit*>(context);
  visit->ids.push_back(InstanceId(element));
  visit->indices.push_back(index);
  if (static_cast<int32_t>(visit->ids.size()) - 1 == visit->stopAt) return visit->stopWith;
  return 0;
}

using Ids = std::vector<std::string>;

// What `print` prints for each present device.
std::string PrintEach(DeviceCallback print, void* context) {
  sim::StdoutCapture capture;
  const char* all[] = {"*"};
  CDeviceControl().ForEachMatchingDevice(nullptr, DIGCF_PRESENT, 1, all, print, context);
  return capture.Finish();
}

class DeviceSelection : public ::testing::Test {
 protected:
  void SetUp() override { Describe(); }
  void TearDown() override { EXPECT_EQ(sim::machine().openSets, 0) << "a device set was left open"; }

  int32_t Select(std::vector<const char*> patterns, DWORD flags = DIGCF_PRESENT) {
    CDeviceControl control;
    return control.ForEachMatchingDevice(nullptr, flags, static_cast<int32_t>(patterns.size()),
                                         patterns.data(), Record, &visit);
  }

  // The devices a successful walk selects, in order.
  Ids Selected(std::vector<const char*> patterns) {
    visit = Visit{};
    EXPECT_EQ(Select(patterns), CDeviceControl::Success) << patterns[0];
    return visit.ids;
  }

  // Each case on a freshly described machine.
  template <typename Cases>
  void ExpectSelections(const Cases& cases) {
    for (const auto& c : cases) {
      Describe();
      EXPECT_EQ(Selected(c.patterns), c.expected) << c.patterns[0];
      EXPECT_EQ(sim::machine().openSets, 0);
    }
  }

  Visit visit;
};

TEST_F(DeviceSelection, NoPatternsBuildsNothing) {
  CDeviceControl control;
  EXPECT_EQ(control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, 0, nullptr, Record, &visit), CDeviceControl::NoPatterns);
  EXPECT_TRUE(visit.ids.empty());
  EXPECT_EQ(sim::machine().setsBuilt, 0);
}

TEST_F(DeviceSelection, ClassSelectorNamingNoClassSucceedsWithoutCallbacks) {
  EXPECT_EQ(Select({"=NoSuchClass"}), CDeviceControl::Success);
  EXPECT_TRUE(visit.ids.empty());
  EXPECT_EQ(sim::machine().setsBuilt, 0);
}

TEST_F(DeviceSelection, SelectAllForms) {
  struct Case {
    std::vector<const char*> patterns;
    Ids expected;
  } cases[] = {
      // A class selector alone: every present device of the class, any letter case.
      {{"=usb"}, {kMi00, kMi03, kMi08}},
      // "*" alone: every present device of every class, in set order.
      {{"*"}, {kMi00, kHdAudio, kMi03, kKeyboard, kMi08}},
      {{"=MEDIA", "*"}, {kHdAudio}},
      // Patterns after the select-all "*" do not narrow the selection.
      {{"=USB", "*", "@NOTHING\\*", "HID\\*"}, {kMi00, kMi03, kMi08}},
      {{"*", "'literal"}, {kMi00, kHdAudio, kMi03, kKeyboard, kMi08}},
  };
  ExpectSelections(cases);
}

TEST_F(DeviceSelection, StarInALaterPositionIsAnIdentifierPattern) {
  // A device without hardware or compatible IDs is not selected by it.
  sim::AddDevice("ROOT\\LEGACY_BEEP\\0000", sim::kSystemClass, {});
  EXPECT_EQ(Selected({"@NOTHING\\*", "*"}), (Ids{kMi00, kHdAudio, kMi03, kKeyboard, kMi08}));
}

TEST_F(DeviceSelection, IdentifierPatternsAndInstancePatterns) {
  struct Case {
    std::vector<const char*> patterns;
    Ids expected;
  } cases[] = {
      // The interface lists select by instance ID, present devices only.
      {{kWdmPatterns[0], kWdmPatterns[1]}, {kMi00, kMi03}},
      {{kAsioPatterns[0]}, {kMi08}},
      // Hardware IDs in any letter case.
      {{"usb\\vid_7e51&pid_0002&mi_0*"}, {kMi00, kMi03, kMi08}},
      // Selected by a compatible ID only.
      {{"USB\\Class_FF*"}, {kMi08}},
      {{"HID_DEVICE_SYSTEM_KEYBOARD"}, {kKeyboard}},
      // A device matching several patterns is handed over once.
      {{"USB\\VID_7E51*", "@USB\\*MI_03\\*", "USB\\Class_01"}, {kMi00, kMi03, kMi08}},
      // A class selector restricts the patterns to that class.
      {{"=MEDIA", "*VEN_10EC*"}, {kHdAudio}},
      {{"=HIDClass", "USB\\*"}, {}},
      // "=" alone is an ordinary pattern (it names no ID here).
      {{"="}, {}},
      // A literal next to a wildcard pattern: the walk covers present devices
      // plus the one opened by its ID.
      {{kWdmPatterns[0], "@USB\\VID_7E51&PID_0002&MI_00\\7&99&0&0000"}, {kMi00, kUnplugged}},
  };
  ExpectSelections(cases);
}

// The set holds one enumerator's devices alone exactly when every pattern is
// an instance-ID pattern that begins with that literal enumerator; the
// selection is the same either way, in the same order, also beside devices
// of other enumerators whose IDs match the rest of the patterns.
TEST_F(DeviceSelection, LooksOnlyUnderTheEnumeratorEveryPatternNames) {
  struct Case {
    std::vector<const char*> patterns;
    const char* enumerator;  // "" for every enumerator
    Ids expected;
  } cases[] = {
      {{kWdmPatterns[0], kWdmPatterns[1]}, "USB", {kMi00, kMi03}},
      {{"@usb\\VID_7E51&PID_0002&MI_08\\*", "@USB\\*MI_03\\*"}, "usb", {kMi03, kMi08}},
      {{kAsioPatterns[0], "@USB\\VID_7E51&PID_0002&MI_00\\7&99&0&0000"}, "USB", {kMi08, kUnplugged}},
      {{"@*\\VID_7E51&PID_0002&MI_00\\*"}, "", {kMi00, "USBSTOR\\VID_7E51&PID_0002&MI_00\\1"}},
      {{"@US*\\VID_7E51&PID_0002&MI_00\\*"}, "", {kMi00, "USBSTOR\\VID_7E51&PID_0002&MI_00\\1"}},
      {{kAsioPatterns[0], "@HID\\*"}, "", {kKeyboard, kMi08}},
      {{kAsioPatterns[0], "USB\\VID_7E51&PID_0002&MI_00"}, "", {kMi00, kMi08}},
      {{"=USB", kAsioPatterns[0]}, "", {kMi08}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.patterns[0]);
    Describe();
    sim::AddDevice("USBSTOR\\VID_7E51&PID_0002&MI_00\\1", sim::kSystemClass, {"USBSTOR\\DISK"});
    EXPECT_EQ(Selected(c.patterns), c.expected);
    auto built = sim::CallsOf("SetupDiGetClassDevsExA");
    ASSERT_EQ(built.size(), 1u);
    EXPECT_EQ(built[0].device, c.enumerator);
    for (const auto& open : sim::CallsOf("SetupDiOpenDeviceInfoA")) {
      EXPECT_EQ(open.device.find('*'), std::string::npos) << "a wildcard pattern opened by name";
    }
  }
}

TEST_F(DeviceSelection, LiteralInstanceIdsOpenExactlyThoseDevicesWithoutPresenceTest) {
  EXPECT_EQ(Selected({"@USB\\VID_7E51&PID_0002&MI_00\\7&99&0&0000", "@'USB\\VID_7E51&PID_0002&MI_08\\7&1A2B3C&0&0008",
                      "@NO\\SUCH\\DEVICE"}),
            (Ids{kUnplugged, kMi08}));
  EXPECT_TRUE(sim::CallsOf("SetupDiGetClassDevsExA").empty());
  EXPECT_EQ(sim::CallsOf("SetupDiCreateDeviceInfoListExA").size(), 1u);
  // No matching is needed, so no ID is read before the callback.
  EXPECT_TRUE(sim::CallsOf("SetupDiGetDeviceRegistryPropertyA").empty());
}

TEST_F(DeviceSelection, FirstNonzeroCallbackResultEndsTheWalk) {
  visit.stopAt = 1;
  visit.stopWith = 77;
  EXPECT_EQ(Select({"*"}), 77);
  EXPECT_EQ(visit.ids, (Ids{kMi00, kHdAudio}));
  EXPECT_EQ(visit.indices, (std::vector<uint32_t>{0, 1}));
}

TEST_F(DeviceSelection, CallbackIndexIsThePositionInTheSet) {
  EXPECT_EQ(Select({kAsioPatterns[0], "HID\\*"}), CDeviceControl::Success);
  EXPECT_EQ(visit.indices, (std::vector<uint32_t>{3, 4}));
}

TEST_F(DeviceSelection, LongHardwareIdValueIsReadWholeThroughTheRetry) {
  sim::Reset();
  std::string filler(9000, 'F');
  sim::AddDevice("ROOT\\BIG\\0000", sim::kSystemClass, {filler, "ROOT\\TARGET"});
  EXPECT_EQ(Selected({"root\\target"}), (Ids{"ROOT\\BIG\\0000"}));
  auto reads = sim::CallsOf("SetupDiGetDeviceRegistryPropertyA");
  ASSERT_GE(reads.size(), 2u);
  EXPECT_EQ(reads[0].a, static_cast<DWORD>(SPDRP_HARDWAREID));
  EXPECT_EQ(reads[0].b, 8192u);
  EXPECT_EQ(reads[1].a, static_cast<DWORD>(SPDRP_HARDWAREID));
  EXPECT_EQ(reads[1].b, filler.size() + 1 + 12 + 1);
}

TEST_F(DeviceSelection, PropertyValuesOfAnyShape) {
  sim::Reset();
  // Stored without its closing NULs.
  sim::AddDevice("ROOT\\NOTERM\\0", sim::kSystemClass, {}).hardwareIds = std::vector<uint8_t>{'A', 'B', 'C'};
  // Exactly 8192 bytes with no terminator: fills the first buffer to the brim.
  sim::AddDevice("ROOT\\BRIM\\0", sim::kSystemClass, {}).hardwareIds = std::vector<uint8_t>(8192, 'Z');
  // A property with no strings.
  sim::AddDevice("ROOT\\EMPTY\\0", sim::kSystemClass, {}).hardwareIds = std::vector<uint8_t>{0};
  // Not a multi-string: its type is not examined when it fits.
  auto& sz = sim::AddDevice("ROOT\\SZ\\0", sim::kSystemClass, {});
  sz.hardwareIds = std::vector<uint8_t>{'A', 'B', 'C', 0};
  sz.hardwareIdType = REG_SZ;
  // Too big and not a multi-string: unreadable.
  auto& big = sim::AddDevice("ROOT\\BIGSZ\\0", sim::kSystemClass, {});
  big.hardwareIds = std::vector<uint8_t>(9000, 'A');
  big.hardwareIdType = REG_SZ;

  EXPECT_EQ(Selected({"abc"}), (Ids{"ROOT\\NOTERM\\0", "ROOT\\SZ\\0"}));
  EXPECT_EQ(Selected({"Z*Z"}), (Ids{"ROOT\\BRIM\\0"}));
  // Every device with at least one ID: not the empty list, not the unreadable one.
  EXPECT_EQ(Selected({"@x", "*"}), (Ids{"ROOT\\NOTERM\\0", "ROOT\\BRIM\\0", "ROOT\\SZ\\0"}));
}

TEST_F(DeviceSelection, FailuresAreReportedAndReleaseTheSet) {
  sim::machine().failListDetail = true;
  EXPECT_EQ(Select({"*"}), CDeviceControl::Failure);
  EXPECT_TRUE(visit.ids.empty());
  EXPECT_EQ(sim::machine().setsBuilt, 1);

  Describe();
  sim::machine().failBuildSet = true;
  EXPECT_EQ(Select({"*"}), CDeviceControl::Failure);
  EXPECT_EQ(Select({"@'A\\B\\C"}), CDeviceControl::Failure);

  // Odd arguments get a defined failure, not a crash.
  Describe();
  const char* withNull[] = {"*", nullptr};
  CDeviceControl control;
  EXPECT_EQ(control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, 2, withNull, Record, &visit), CDeviceControl::Failure);
  EXPECT_EQ(control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, -1, withNull, Record, &visit), CDeviceControl::Failure);
  EXPECT_EQ(sim::machine().setsBuilt, 0);
}

TEST_F(DeviceSelection, UnreadableInstanceIdMatchesAsEmptyAndPrintsAsQuestionMark) {
  sim::Reset();
  sim::AddDevice("ROOT\\HIDDEN\\0", sim::kSystemClass, {"ROOT\\HIDDEN"}).instanceIdReadable = false;
  EXPECT_EQ(Select({"@*"}), CDeviceControl::Success);  // the empty text still matches "*"
  EXPECT_EQ(Select({"@?*"}), CDeviceControl::Success);
  EXPECT_EQ(visit.ids.size(), 1u);

  auto print = [](HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t, void* known) -> int32_t {
    *static_cast<bool*>(known) = PrintDeviceStatus(set, element, "Enabled");
    return 0;
  };
  bool known = true;
  EXPECT_EQ(PrintEach(print, &known), std::string("?") + std::string(59, ' ') + ": Enabled\n");
  EXPECT_FALSE(known);
}

TEST(DeviceStatusLine, PadsToSixtyAndPrintsLongIdsWhole) {
  sim::Reset();
  std::string shortId = "USB\\VID_7E51&PID_0002&MI_00\\7&1A2B3C&0&0000";  // 43 characters
  std::string longId = "ROOT\\" + std::string(70, 'L');
  sim::AddDevice(shortId, sim::kUsbClass, {"A"});
  sim::AddDevice(longId, sim::kSystemClass, {"B"});
  auto print = [](HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t index, void*) -> int32_t {
    PrintDeviceStatus(set, element, index == 0 ? "Disabled" : nullptr);
    return 0;
  };
  EXPECT_EQ(PrintEach(print, nullptr), shortId + std::string(17, ' ') + ": Disabled\n" + longId + "\n");
  EXPECT_EQ(sim::machine().openSets, 0);
}

}  // namespace
