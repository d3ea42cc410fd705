#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <string>

#include "helper_file.h"

namespace {

// Wine keeps no security descriptor on files, so the rule is read off the
// descriptor built for the folder: owner, then each entry in order.
TEST(HelperFolderSecurityTest, AdmitsOnlyWhatTheCallersTokenCalls) {
  const struct {
    const char* user;
    bool elevated;
    const char* sddl;
  } cases[] = {
      {"S-1-5-21-7-8-9-1001", false, "O:S-1-5-21-7-8-9-1001D:P(A;OICI;GA;;;S-1-5-21-7-8-9-1001)"},
      {"S-1-5-21-7-8-9-1001", true, "O:BAD:P(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)"},
      {"S-1-5-18", true, "O:SYD:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.user << (c.elevated ? " elevated" : ""));
    PSID user = nullptr;
    char* sddl = nullptr;
    helperrun::HelperFolderSecurity security;
    ASSERT_TRUE(::ConvertStringSidToSidA(c.user, &user));
    EXPECT_TRUE(security.Build(user, c.elevated));
    ::LocalFree(user);
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorA(
        security.descriptor(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl,
        nullptr));
    EXPECT_STREQ(c.sddl, sddl);
    ::LocalFree(sddl);
  }
}

void (*g_change)(HANDLE file);
std::string g_written;

// Only a writer that lets the helper's own handle read gets in, and only at
// this one moment.
void ChangeHelper(const char* path) {
  g_written = path;
  HANDLE file = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  g_change(file);
  ::CloseHandle(file);
}

void Write(HANDLE file, DWORD from, const char* byte) {
  DWORD written;
  ::SetFilePointer(file, 0, nullptr, from);
  ::WriteFile(file, byte, 1, &written, nullptr);
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Another process changes the helper between the write and the start: it is
// refused with its own error and nothing stays behind. Left alone, it is held
// against writers and deleters until the start, and its folder, which an
// elevated caller (every test under Wine) gets under the Windows temporary
// folder, against renaming until the end.
TEST(HelperFileTest, HoldsOnlyTheBytesItCarries) {
  const struct {
    const char* what;
    void (*change)(HANDLE file);
  } cases[] = {
      {"left alone", [](HANDLE) {}},
      {"one byte changed", [](HANDLE f) { Write(f, FILE_BEGIN, "A"); }},
      {"cut short", [](HANDLE f) { ::SetFilePointer(f, 4, nullptr, FILE_BEGIN), ::SetEndOfFile(f); }},
      {"grown", [](HANDLE f) { Write(f, FILE_END, "!"); }},
  };
  helperrun::g_afterHelperWritten = ChangeHelper;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const bool unchanged = &c == &cases[0];
    g_change = c.change;
    std::string folder;
    {
      helperrun::HelperFile helper;
      EXPECT_EQ(unchanged, helper.Place());
      if (!unchanged) {
        EXPECT_EQ(helperrun::kHelperChangedError, ::GetLastError());
      }
      folder = g_written.substr(0, g_written.rfind('\\'));
      EXPECT_EQ(unchanged, Exists(g_written) && Exists(folder));
      if (unchanged) {
        EXPECT_EQ(INVALID_HANDLE_VALUE, ::CreateFileA(helper.path(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                      OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(::DeleteFileA(helper.path()));
        helper.EndHold();
        char windows[MAX_PATH];
        ::GetSystemWindowsDirectoryA(windows, MAX_PATH);
        EXPECT_EQ(0, ::_strnicmp(folder.c_str(), (std::string(windows) + "\\Temp\\norza-").c_str(),
                                 std::strlen(windows) + 12));
        EXPECT_FALSE(::MoveFileA(folder.c_str(), (folder + "-moved").c_str()));
      }
    }
    EXPECT_FALSE(Exists(g_written) || Exists(folder));
  }
  helperrun::g_afterHelperWritten = nullptr;
}

}  // namespace
