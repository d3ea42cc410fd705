#include "drivermode/mode_store.h"

#include <gtest/gtest.h>

#include "platform/rights.h"
#include "registry_snapshot.h"
#include "sim_machine.h"

using namespace drivermode;

namespace {

using regtest::GetValue;
using regtest::SetValue;
using regtest::Sz;

const char* const kKey = kModeKey;

std::vector<uint8_t> Dword(DWORD value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

class ModeStore : public ::testing::Test {
 protected:
  void TearDown() override { saved_.Restore(); }
  regtest::KeySnapshot saved_{HKEY_LOCAL_MACHINE, kKey};
};

struct StoredMode {
  const char* what;
  DWORD type;
  std::vector<uint8_t> data;
  int expected;
};

TEST_F(ModeStore, ReadsTheFirstByteAsSigned) {
  const StoredMode cases[] = {
      {"WDM", REG_DWORD, Dword(0), 0},
      {"ASIO", REG_DWORD, Dword(1), 1},
      {"2", REG_DWORD, Dword(2), 2},
      {"0x7F", REG_DWORD, Dword(0x7F), 127},
      {"0xFF", REG_DWORD, Dword(0xFF), -1},
      {"0x80", REG_DWORD, Dword(0x80), -128},
      {"upper bytes ignored, 0x101", REG_DWORD, Dword(0x101), 1},
      {"upper bytes ignored, 0x100", REG_DWORD, Dword(0x100), 0},
      {"0xFFFFFF01", REG_DWORD, Dword(0xFFFFFF01), 1},
      {"one binary byte", REG_BINARY, {1}, 1},
      {"one binary byte 0xFE", REG_BINARY, {0xFE}, -2},
      {"four binary bytes", REG_BINARY, {5, 9, 9, 9}, 5},
      {"string \"1\"", REG_SZ, Sz("1"), '1'},
      {"five bytes", REG_BINARY, {1, 0, 0, 0, 0}, -1},
      {"long string", REG_SZ, Sz("1234"), -1},
      {"empty binary", REG_BINARY, {}, -1},
      {"empty REG_NONE", REG_NONE, {}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetValue(HKEY_LOCAL_MACHINE, kKey, kModeValue, c.type, c.data);
    EXPECT_EQ(ReadAudioMode(), c.expected);
  }
}

// Where every Norza program, installer and script finds the mode.
TEST(ModeStoreNames, AreTheMachinesAudioModeValue) {
  EXPECT_STREQ("SOFTWARE\\Quorvin\\Norza", kModeKey);
  EXPECT_STREQ("AudioMode", kModeValue);
}

TEST_F(ModeStore, MissingValueOrKeyReadsMinusOne) {
  regtest::CreateKey(HKEY_LOCAL_MACHINE, kKey);
  regtest::DeleteValue(HKEY_LOCAL_MACHINE, kKey, kModeValue);
  SetValue(HKEY_LOCAL_MACHINE, kKey, "Other", REG_DWORD, Dword(1));
  EXPECT_EQ(ReadAudioMode(), -1);

  regtest::DeleteKey(HKEY_LOCAL_MACHINE, kKey);
  EXPECT_EQ(ReadAudioMode(), -1);
  EXPECT_FALSE(regtest::KeyExists(HKEY_LOCAL_MACHINE, kKey)) << "reading must not create the key";
}

TEST_F(ModeStore, WritesWdmAndAsioAsDword) {
  for (int mode : {WDM, ASIO}) {
    for (bool keyExisted : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << ", key existed " << keyExisted);
      regtest::DeleteKey(HKEY_LOCAL_MACHINE, kKey);
      if (keyExisted)  // holding the other mode, which must be overwritten
        SetValue(HKEY_LOCAL_MACHINE, kKey, kModeValue, REG_DWORD, Dword(1 - mode));

      EXPECT_TRUE(WriteAudioMode(mode));
      const auto stored = GetValue(HKEY_LOCAL_MACHINE, kKey, kModeValue);
      ASSERT_TRUE(stored);
      EXPECT_EQ(stored->type, static_cast<DWORD>(REG_DWORD));
      EXPECT_EQ(stored->data, Dword(mode));
      EXPECT_EQ(ReadAudioMode(), mode);
#ifdef _WIN64
      // Kept where the 32-bit control panel keeps it, not in this build's own view.
      HKEY native = nullptr;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | KEY_WOW64_64KEY, &native) == ERROR_SUCCESS) {
        EXPECT_NE(ERROR_SUCCESS, RegQueryValueExA(native, kModeValue, nullptr, nullptr, nullptr, nullptr));
        RegCloseKey(native);
      }
#endif
    }
  }
}

TEST_F(ModeStore, OtherModesOnlyCreateTheKey) {
  for (int mode : {-1, 2, 5, 0x100}) {
    SCOPED_TRACE(mode);
    regtest::DeleteKey(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_TRUE(WriteAudioMode(mode));
    EXPECT_TRUE(regtest::KeyExists(HKEY_LOCAL_MACHINE, kKey));
    EXPECT_FALSE(GetValue(HKEY_LOCAL_MACHINE, kKey, kModeValue));

    SetValue(HKEY_LOCAL_MACHINE, kKey, kModeValue, REG_DWORD, Dword(ASIO));
    EXPECT_TRUE(WriteAudioMode(mode));
    const auto stored = GetValue(HKEY_LOCAL_MACHINE, kKey, kModeValue);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->data, Dword(ASIO)) << "an existing mode is left alone";
  }
}

// A mode that does not land in the machine's registry is reported: a failed
// write, and a token whose virtualization stays on (its writes would land
// in the user's own copy).
TEST_F(ModeStore, AModeThatDoesNotLandIsReported) {
  sim::Reset();
  sim::machine().valueWritesFail = true;
  EXPECT_FALSE(WriteAudioMode(WDM));
  EXPECT_TRUE(WriteAudioMode(5)) << "nothing to write";
  sim::Reset();
  sim::machine().elevated = false;
  sim::machine().virtualized = true;
  sim::machine().virtualizationStuck = true;
  EXPECT_FALSE(platform::TurnOffRegistryVirtualization());
  sim::machine().virtualizationStuck = false;
  EXPECT_TRUE(platform::TurnOffRegistryVirtualization());
  EXPECT_FALSE(WriteAudioMode(WDM)) << "refused, not virtualized";
  sim::Reset();
}

}  // namespace
