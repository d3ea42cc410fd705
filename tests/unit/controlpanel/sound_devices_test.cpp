#include "controlpanel/sound_devices.h"

#include <gtest/gtest.h>
#include <mmdeviceapi.h>
#include <objbase.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "controlpanel/default_endpoints.h"
#include "registry_snapshot.h"
#include "sim_machine.h"

using namespace controlpanel;

namespace {

using regtest::GetValue;
using regtest::Sz;
using regtest::Unterminated;

const char kMapper[] = "Software\\Microsoft\\Multimedia\\Sound Mapper";
const std::string kDirect = "Quorvin Direct Device";
using Bytes = std::optional<std::vector<uint8_t>>;  // nullopt: no such value

class SoundDevices : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  void TearDown() override { saved_.Restore(); }

  // Sets (or removes) both preferences, as REG_SZ.
  static void Prefer(const Bytes& playback, const Bytes& record) {
    regtest::DeleteKey(HKEY_CURRENT_USER, kMapper);
    regtest::CreateKey(HKEY_CURRENT_USER, kMapper);
    for (const auto& [name, bytes] : {std::pair{"Playback", playback}, std::pair{"Record", record}}) {
      if (!bytes) continue;
      regtest::SetValue(HKEY_CURRENT_USER, kMapper, name, REG_SZ, *bytes);
      const auto stored = GetValue(HKEY_CURRENT_USER, kMapper, name);
      EXPECT_TRUE(stored && stored->data == *bytes) << name << " is not stored as given";
    }
  }
  static std::optional<regtest::Value> Stored(const char* name) {
    return GetValue(HKEY_CURRENT_USER, kMapper, name);
  }

  regtest::KeySnapshot saved_{HKEY_CURRENT_USER, kMapper};
};

TEST_F(SoundDevices, DirectDeviceNameIsFixed) {
  EXPECT_EQ(std::strlen(DirectDeviceName), 21u);
  EXPECT_EQ(DirectDeviceName, kDirect);
}

struct Preferences {
  const char* what;
  Bytes playback;
  Bytes record;
  bool expected;
};

TEST_F(SoundDevices, DirectDeviceIsDefaultWhenEitherPreferenceNamesIt) {
  const std::string other = "Speakers (Onboard)";
  const std::string chars99(99, 'x');
  // The name and its terminator, then more to `size` bytes.
  auto padded = [](size_t size) {
    std::vector<uint8_t> bytes = Sz(kDirect);
    bytes.resize(size, 'x');
    return bytes;
  };
  const Preferences cases[] = {
      {"playback names it", Sz(kDirect), Sz(other), true},
      {"record names it", Sz(other), Sz(kDirect), true},
      {"both name it", Sz(kDirect), Sz(kDirect), true},
      {"neither names it", Sz(other), Sz(other), false},
      {"playback missing, record names it", std::nullopt, Sz(kDirect), true},
      {"both missing", std::nullopt, std::nullopt, false},
      {"record missing", Sz(kDirect), std::nullopt, false},
      {"record of 100 characters", Sz(kDirect), Sz(std::string(100, 'x')), false},
      {"record of 300 characters", Sz(kDirect), Sz(std::string(300, 'x')), false},
      {"record of 99 characters is read", Sz(kDirect), Sz(chars99), true},
      {"record of 100 unterminated bytes is read", Sz(kDirect), Unterminated(std::string(100, 'x')), true},
      {"playback of 500 characters, record names it", Sz(std::string(500, 'x')), Sz(kDirect), true},
      {"playback of 500 characters, record of 99", Sz(std::string(500, 'x')), Sz(chars99), false},
      // Only a leftover of a failed, partial read could make this match.
      {"unreadable playback leaves nothing behind", padded(500), Sz(other), false},
      {"playback name with more after it", Sz(kDirect + " 2"), Sz(other), false},
      {"record name with more after it", Sz(other), Sz(kDirect + "X"), false},
      {"playback shorter than the name", Sz(kDirect.substr(0, 20)), Sz(other), false},
      {"unterminated playback name", Unterminated(kDirect), Sz(other), true},
      {"record name padded to 100 bytes", Sz(other), padded(100), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Prefer(c.playback, c.record);
    EXPECT_EQ(IsDirectDeviceDefault(), c.expected);
  }
}

TEST_F(SoundDevices, NoSoundMapperKeyMeansNotDefault) {
  regtest::DeleteKey(HKEY_CURRENT_USER, kMapper);
  EXPECT_FALSE(IsDirectDeviceDefault());
  EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, kMapper));
}

TEST_F(SoundDevices, ReassignDoesNothingUnlessTheDirectDeviceIsAPreference) {
  sim::machine().waveIn = {"Microphone"};
  sim::machine().waveOut = {"Speakers"};

  Prefer(Sz("Headphones"), Sz("Line In"));
  EXPECT_TRUE(ReassignDefaultSoundDevices());
  EXPECT_TRUE(sim::CallsOf("waveInGetDevCapsA").empty());
  EXPECT_TRUE(sim::CallsOf("waveOutGetDevCapsA").empty());
  EXPECT_EQ(Stored("Playback")->data, Sz("Headphones"));
  EXPECT_EQ(Stored("Record")->data, Sz("Line In"));

  // Unreadable "Record": not a preference, whatever "Playback" says.
  Prefer(Sz(kDirect), std::nullopt);
  EXPECT_TRUE(ReassignDefaultSoundDevices());
  EXPECT_TRUE(sim::CallsOf("waveInGetDevCapsA").empty());
  EXPECT_TRUE(sim::CallsOf("waveOutGetDevCapsA").empty());
  EXPECT_EQ(Stored("Playback")->data, Sz(kDirect));
  EXPECT_FALSE(Stored("Record"));

  regtest::DeleteKey(HKEY_CURRENT_USER, kMapper);
  EXPECT_TRUE(ReassignDefaultSoundDevices());
  EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, kMapper));
}

struct Reassignment {
  const char* what;
  std::vector<std::string> capture;  // wave-in
  std::vector<std::string> render;   // wave-out
  std::string playback;              // expected afterwards
  std::string record;
  size_t captureQueries;  // devices the scans look at
  size_t renderQueries;
};

TEST_F(SoundDevices, ReassignMovesPreferencesToOtherDevices) {
  const std::string longest(31, 'L');  // the most a device name can hold
  const std::string kOldPlayback = kDirect;
  const std::string kOldRecord = "Old Record";
  const Reassignment cases[] = {
      {"render 1 and capture 0 are other devices", {"Microphone"}, {kDirect, "Speakers"},
       "Speakers", "Microphone", 1, 2},
      {"first other device wins", {kDirect, kDirect, "Line In", "Microphone"},
       {"Speakers", "Headphones"}, "Speakers", "Line In", 3, 1},
      {"all devices are the direct device", {kDirect}, {kDirect, kDirect}, kDirect, kDirect, 1, 2},
      {"a longer name is another device", {kDirect + " 2"}, {kDirect + " 2"}, kDirect + " 2",
       kDirect + " 2", 1, 1},
      {"no render device keeps Playback", {"Microphone"}, {}, kOldPlayback, "Microphone", 1, 0},
      {"no capture device keeps Record", {}, {kDirect, "Speakers"}, "Speakers", kOldRecord, 0, 2},
      {"no devices at all", {}, {}, kOldPlayback, kOldRecord, 0, 0},
      {"names of the full length", {longest}, {longest + ""}, longest, longest, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Reset();
    sim::machine().waveIn = c.capture;
    sim::machine().waveOut = c.render;
    Prefer(Sz(kOldPlayback), Sz(kOldRecord));

    EXPECT_TRUE(ReassignDefaultSoundDevices());

    const auto playback = Stored("Playback");
    const auto record = Stored("Record");
    ASSERT_TRUE(playback && record);
    // REG_SZ of strlen + 1 bytes.
    EXPECT_EQ(*playback, (regtest::Value{REG_SZ, Sz(c.playback)}));
    EXPECT_EQ(*record, (regtest::Value{REG_SZ, Sz(c.record)}));

    const auto captureCalls = sim::CallsOf("waveInGetDevCapsA");
    const auto renderCalls = sim::CallsOf("waveOutGetDevCapsA");
    ASSERT_EQ(captureCalls.size(), c.captureQueries);
    ASSERT_EQ(renderCalls.size(), c.renderQueries);
    for (size_t i = 0; i < captureCalls.size(); ++i) EXPECT_EQ(captureCalls[i].a, i);
    for (size_t i = 0; i < renderCalls.size(); ++i) EXPECT_EQ(renderCalls[i].a, i);
  }
}

TEST_F(SoundDevices, ReassignRecreatesPreferencesFromRecordAlone) {
  // Only "Record" names the device; "Playback" is missing and gets a value.
  sim::machine().waveIn = {"Microphone"};
  sim::machine().waveOut = {"Speakers"};
  Prefer(std::nullopt, Sz(kDirect));
  EXPECT_TRUE(ReassignDefaultSoundDevices());
  EXPECT_EQ(Stored("Playback")->data, Sz("Speakers"));
  EXPECT_EQ(Stored("Record")->data, Sz("Microphone"));
  EXPECT_FALSE(IsDirectDeviceDefault());
}

using Endpoint = sim::Machine::AudioEndpoint;
using Defaults = std::vector<std::vector<std::wstring>>;  // by data flow, then role
constexpr DWORD kNoCom = ~0u;

TEST_F(SoundDevices, DefaultEndpointsOnTheDirectDeviceMoveToTheFirstOtherActiveEndpoint) {
  const std::wstring direct = L"Quorvin Direct Device";
  const Endpoint out{L"out", eRender, direct}, line{L"line", eRender, direct},
      unplugged{L"unplugged", eRender, L"Onboard", DEVICE_STATE_UNPLUGGED}, speakers{L"speakers", eRender, L"Onboard"},
      hdmi{L"hdmi", eRender, L"HDMI"}, longer{L"longer", eRender, direct + L" 2"},
      shorter{L"shorter", eRender, direct.substr(0, 20)}, in{L"in", eCapture, direct},
      mic{L"mic", eCapture, L"USB Mic"}, micOff{L"mic-off", eCapture, L"USB Mic", DEVICE_STATE_DISABLED};
  const std::vector<Endpoint> all = {out, line, unplugged, speakers, hdmi, in, mic};
  const Defaults onDirect = {{L"out", L"line", L"hdmi"}, {L"in", L"mic", L"in"}};
  const struct {
    const char* what;
    std::vector<Endpoint> endpoints;
    Defaults before, after;
    HRESULT setDefault;
    DWORD com;  // how the thread has COM before the step
  } cases[] = {
      {"per role, past the direct device's and inactive endpoints", all, onDirect,
       {{L"speakers", L"speakers", L"hdmi"}, {L"mic", L"mic", L"mic"}}, S_OK, kNoCom},
      {"a flow whose only active endpoint is the direct device's", {out, speakers, in, micOff},
       {{L"out", L"out", L"out"}, {L"in", L"in", L"in"}},
       {{L"speakers", L"speakers", L"speakers"}, {L"in", L"in", L"in"}}, S_OK, COINIT_MULTITHREADED},
      {"longer and shorter device names are other devices", {shorter, longer, out},
       {{L"longer", L"out", L"shorter"}, {}}, {{L"longer", L"shorter", L"shorter"}, {}}, S_OK,
       COINIT_APARTMENTTHREADED},
      {"no policy-configuration interface", all, onDirect, onDirect, REGDB_E_CLASSNOTREG, kNoCom},
      {"the policy-configuration interface fails", all, onDirect, onDirect, E_ACCESSDENIED, kNoCom},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Reset();
    sim::machine().audioEndpoints = c.endpoints;
    sim::machine().defaultEndpoints = c.before;
    sim::machine().setDefaultEndpoint = c.setDefault;
    if (c.com != kNoCom) {
      ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, c.com)));
    }

    ReassignDefaultAudioEndpoints();
    EXPECT_EQ(sim::machine().defaultEndpoints, c.after);

    // The thread's COM is as it was before, down to the count of initializations.
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (c.com != kNoCom) {
      ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
      EXPECT_EQ(type == APTTYPE_MTA, c.com == COINIT_MULTITHREADED);
      CoUninitialize();
    }
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED);
  }
}

}  // namespace
