#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>

#include "helper_file.h"

namespace {

std::string Sddl(SECURITY_DESCRIPTOR* descriptor) {
  char* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return "error " + std::to_string(::GetLastError());
  }
  std::string sddl(text);
  ::LocalFree(text);
  return sddl;
}

// Wine keeps no security descriptor on files, so the rule is read off the
// descriptor built for the folder: owner, then each entry in order.
TEST(HelperFolderSecurityTest, AdmitsOnlyWhatTheCallersTokenCalls) {
  struct Case {
    const char* user;
    bool elevated;
    const char* sddl;
  };
  const Case cases[] = {
      {"S-1-5-21-7-8-9-1001", false, "O:S-1-5-21-7-8-9-1001D:P(A;OICI;GA;;;S-1-5-21-7-8-9-1001)"},
      {"S-1-5-21-7-8-9-1001", true, "O:BAD:P(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)"},
      {"S-1-5-18", true, "O:SYD:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.user << (c.elevated ? " elevated" : ""));
    PSID user = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidA(c.user, &user));
    platform::HelperFolderSecurity security;
    EXPECT_TRUE(security.Build(user, c.elevated));
    ::LocalFree(user);
    EXPECT_EQ(c.sddl, Sddl(security.descriptor()));
  }
}

void (*g_change)(HANDLE file);
std::string g_written;

void ChangeHelper(const char* path) {
  g_written = path;
  HANDLE file = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  g_change(file);
  ::CloseHandle(file);
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Another process changes the helper between the write and the start: it is
// refused with its own error and nothing stays behind. Left alone, it is held
// against writers and deleters until the start.
TEST(HelperFileTest, HoldsOnlyTheBytesItCarries) {
  struct Case {
    const char* what;
    void (*change)(HANDLE file);
  };
  const Case cases[] = {
      {"left alone", [](HANDLE) {}},
      {"one byte changed", [](HANDLE f) { DWORD n; ::WriteFile(f, "A", 1, &n, nullptr); }},
      {"cut short", [](HANDLE f) { ::SetFilePointer(f, 4, nullptr, FILE_BEGIN); ::SetEndOfFile(f); }},
      {"grown",
       [](HANDLE f) {
         DWORD n;
         ::SetFilePointer(f, 0, nullptr, FILE_END);
         ::WriteFile(f, "!", 1, &n, nullptr);
       }},
  };
  platform::g_afterHelperWritten = ChangeHelper;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const bool unchanged = &c == &cases[0];
    g_change = c.change;
    g_written.clear();
    std::string folder;
    {
      platform::HelperFile helper;
      EXPECT_EQ(unchanged, helper.Place());
      if (!unchanged) {
        EXPECT_EQ(platform::kHelperChangedError, ::GetLastError());
      }
      ASSERT_FALSE(g_written.empty());
      folder = g_written.substr(0, g_written.rfind('\\'));
      EXPECT_EQ(unchanged, Exists(g_written));
      EXPECT_EQ(unchanged, Exists(folder));
      if (unchanged) {
        EXPECT_EQ(g_written, helper.path());
        EXPECT_EQ(INVALID_HANDLE_VALUE,
                  ::CreateFileA(helper.path(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(::DeleteFileA(helper.path()));
        helper.EndHold();
      }
    }
    EXPECT_FALSE(Exists(g_written));
    EXPECT_FALSE(Exists(folder));
  }
  platform::g_afterHelperWritten = nullptr;
}

}  // namespace
