#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "helperrun/win32/helper_file.h"
#include "helperrun/win32/helper_image.h"
#include "helperrun/win32/sha256.h"

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

// What the folder's handle reads back is checked against what it was made
// with: Windows gives back the protected descriptor; Wine makes one up, so
// the check is shown here on built ones (an elevated caller's folder).
TEST(HelperFolderSecurityTest, AcceptsOnlyTheDescriptorTheFolderWasMadeWith) {
  const char user[] = "S-1-5-21-7-8-9-1001";
  const struct {
    const char* what;
    const char* sddl;
    bool accepted;
  } cases[] = {
      {"as made", "O:BAD:P(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)", true},
      {"merged, with a denial", "O:BAD:P(D;;WD;;;WD)(A;;FA;;;SY)(A;OICI;GA;;;BA)", true},
      {"unprotected", "O:BAD:(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)", false},
      {"owned by the user", "O:S-1-5-21-7-8-9-1001D:P(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)", false},
      {"the user may write", "O:BAD:P(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)(A;;FW;;;S-1-5-21-7-8-9-1001)", false},
      {"users may delete", "O:BAD:P(A;OICI;GA;;;BA)(A;;SD;;;BU)", false},
      {"no DACL", "O:BA", false},
  };
  PSID sid = nullptr;
  ASSERT_TRUE(::ConvertStringSidToSidA(user, &sid));
  helperrun::HelperFolderSecurity security;
  ASSERT_TRUE(security.Build(sid, true));
  ::LocalFree(sid);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PSECURITY_DESCRIPTOR read = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl, SDDL_REVISION_1, &read, nullptr));
    EXPECT_EQ(c.accepted, security.Describes(read));
    ::LocalFree(read);
  }
}

// Each side of where the bit count no longer fits the last block, and more
// than one block.
TEST(Sha256Test, GivesThePublishedDigests) {
  const struct {
    std::string data;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const auto& c : cases) {
    unsigned char digest[helperrun::kSha256Size];
    helperrun::Sha256(c.data.data(), c.data.size(), digest);
    char hex[2 * sizeof digest + 1];
    for (std::size_t i = 0; i < sizeof digest; ++i) std::sprintf(hex + 2 * i, "%02x", digest[i]);
    EXPECT_STREQ(c.digest, hex) << c.data.size() << " bytes";
  }
}

std::string Resource(const char* name) {
  HRSRC resource = ::FindResourceA(nullptr, name, MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  return std::string(static_cast<const char*>(::LockResource(::LoadResource(nullptr, resource))),
                     ::SizeofResource(nullptr, resource));
}

// The packed stand-in (cmake/pack_helper.py) unpacks through ntdll to what
// was packed; one that does not unpack to its recorded size and digest is
// refused whole.
TEST(HelperImageTest, UnpacksOnlyToTheRecordedSizeAndDigest) {
  const std::string packed = Resource("NORZA_DEVICE_HELPER");
  const std::string standIn = Resource("STAND_IN_HELPER");
  helperrun::HelperImage image;
  ASSERT_TRUE(image.UnpackResource(nullptr));
  EXPECT_EQ(standIn, std::string(static_cast<const char*>(image.bytes()), image.size()));
  const struct {
    const char* what;
    void (*change)(std::string& packed);
  } cases[] = {
      {"recorded size one more", [](std::string& p) { ++p[0]; }},
      {"recorded size one less", [](std::string& p) { --p[0]; }},
      {"digest changed", [](std::string& p) { p[4] ^= 1; }},
      {"stream changed", [](std::string& p) { p.back() ^= 1; }},
      {"stream cut short", [](std::string& p) { p.pop_back(); }},
      {"no stream", [](std::string& p) { p.resize(36); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string changed = packed;
    c.change(changed);
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(image.Unpack(changed.data(), changed.size()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), ::GetLastError());
    EXPECT_EQ(nullptr, image.bytes());
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

// The helper folders under the Windows temporary folder (every test under
// Wine runs elevated).
std::vector<std::string> HelperFolders() {
  char windows[MAX_PATH];
  ::GetSystemWindowsDirectoryA(windows, MAX_PATH);
  std::vector<std::string> found;
  WIN32_FIND_DATAA entry;
  HANDLE search = ::FindFirstFileA((std::string(windows) + "\\Temp\\norza-*").c_str(), &entry);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileA(search, &entry)) {
    found.push_back(entry.cFileName);
  }
  if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
  return found;
}

// Runs helper_run_caller with `args`; its output goes to `output`.
PROCESS_INFORMATION StartCaller(const std::string& args, const std::string& output) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = ::CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = out;
  std::string line = "\"" HELPER_RUN_CALLER "\" " + args;
  PROCESS_INFORMATION process{};
  EXPECT_TRUE(::CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process));
  ::CloseHandle(out);
  ::CloseHandle(process.hThread);
  return process;
}

// The helper never outlives its caller: ended with it, and ended at its
// limit, when its folder goes at once. A caller that was ended leaves its
// folder behind (Windows deletes no running program's file); the next run
// removes it.
TEST(HelperRunTest, TheHelperEndsWithItsCallerOrAtItsLimit) {
  ASSERT_TRUE(HelperFolders().empty());
  char temp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, temp);
  const std::string pidFile = std::string(temp) + "norza-stand-in.pid", output = std::string(temp) + "caller.txt";
  ::DeleteFileA(pidFile.c_str());
  ::SetEnvironmentVariableA("NORZA_STAND_IN_PID", pidFile.c_str());
  ::SetEnvironmentVariableA("NORZA_STAND_IN_HANG", "1");
  PROCESS_INFORMATION caller = StartCaller("", output);
  DWORD pid = 0;
  for (int i = 0; i < 200 && pid == 0; ++i, ::Sleep(50)) std::ifstream(pidFile) >> pid;
  ASSERT_NE(0u, pid) << "the stand-in helper did not start";
  HANDLE helper = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  ASSERT_NE(nullptr, helper);
  ::TerminateProcess(caller.hProcess, 1);
  ::WaitForSingleObject(caller.hProcess, 5000);
  ::CloseHandle(caller.hProcess);
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(helper, 5000)) << "the helper outlived its caller";
  ::CloseHandle(helper);
  EXPECT_EQ(1u, HelperFolders().size());

  caller = StartCaller("300", output);
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(caller.hProcess, 20000));
  ::CloseHandle(caller.hProcess);
  std::string said;
  std::getline(std::ifstream(output), said);
  EXPECT_EQ("exit 1460, timed out 1, output ", said);  // ERROR_TIMEOUT
  EXPECT_TRUE(HelperFolders().empty()) << "left behind: " << (HelperFolders().empty() ? "" : HelperFolders()[0]);
  for (const char* name : {"NORZA_STAND_IN_PID", "NORZA_STAND_IN_HANG"}) ::SetEnvironmentVariableA(name, nullptr);
  ::DeleteFileA(pidFile.c_str());
  ::DeleteFileA(output.c_str());
}

}  // namespace
