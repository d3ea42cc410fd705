// The shipped tambrel.dll as an installation program uses it: loaded by path,
// resolved by name and ordinal, called with the stdcall convention, against
// the prefix's real device database, driver store and windows.
//
// Usage: tambrel_e2e_test [gtest flags] PATH\TO\tambrel.dll PATH\TO\tambrel_click_target.exe PATH\TO\newdev.dll
//        (the last a library to plant beside this program, which InstallDev must never load)
//        tambrel_e2e_test --unload-cycles N PATH\TO\tambrel.dll   (in a process that never loaded it)
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "wine_devices.h"
#include "wine_differs.h"
#include "norza_version.h"
#include "stdcall_probe.h"
#include "installer/include/tambrel.h"
#include "tambrel_e2e.h"

namespace {

using namespace tambrel_e2e;

struct Tambrel {
  HMODULE module = nullptr;
  TambrelCloseZDLWindowFn closeZdlWindow = nullptr;
  TambrelInstallDevFn installDev = nullptr;
  TambrelGetDevicePresentCountFn presentCount = nullptr;
};

Tambrel Resolve(HMODULE module) {
  if (module == nullptr) return {};
  return {module, Export<TambrelCloseZDLWindowFn>(module, "CloseZDLWindow"),
          Export<TambrelInstallDevFn>(module, "InstallDev"),
          Export<TambrelGetDevicePresentCountFn>(module, "GetDevicePresentCount")};
}

const Tambrel& Dll() {
  static const Tambrel dll = Resolve(PlainArgs().empty() ? nullptr : ::LoadLibraryA(PlainArgs()[0].c_str()));
  return dll;
}

// A hardware ID no real device has; each test adds its own suffix.
const std::string kIdStem = "NORZAE2E\\VID_2F1A&PID_0107";

std::string InfText(const std::string& hardwareId, const std::string& marker) {
  std::ostringstream inf;
  inf << "; " << marker << "\r\n"
      << "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=MEDIA\r\n"
      << "ClassGuid={4d36e96c-e325-11ce-bfc1-08002be10318}\r\nProvider=%Quorvin%\r\n"
      << "DriverVer=01/01/2026,1.0.0.0\r\n\r\n"
      << "[Manufacturer]\r\n%Quorvin%=Quorvin,NTx86,NTamd64\r\n\r\n";
  for (const char* models : {"", ".NTx86", ".NTamd64"}) {
    inf << "[Quorvin" << models << "]\r\n%Desc%=NorzaInstall," << hardwareId << "\r\n";
  }
  inf << "\r\n[NorzaInstall]\r\n\r\n[NorzaInstall.Services]\r\nAddService=,2\r\n\r\n"
      << "[Strings]\r\nQuorvin=\"Quorvin\"\r\nDesc=\"Norza test device\"\r\n";
  return inf.str();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string InfStore() {
  char windows[MAX_PATH];
  ::GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows) + "\\inf";
}

std::set<std::string> StoredInfs() {
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE find = ::FindFirstFileA((InfStore() + "\\*.inf").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.insert(found.cFileName);
  } while (::FindNextFileA(find, &found));
  ::FindClose(find);
  return names;
}

// A package for a hardware ID of its own (`tag` its suffix), written with a
// marker of its own to a folder of its own under %TEMP%; or, not written,
// only named in %TEMP% itself. The store entries that carry its marker go
// with it, and their precompiled .pnf.
struct Package {
  const std::string tag, hwid = kIdStem + Unique("_" + tag), marker = Unique("tambrel e2e " + tag + " package ");
  const bool written;
  std::string dir, name = Unique("norza_" + tag + "_") + ".inf";
  const std::set<std::string> before = StoredInfs();

  explicit Package(const char* packageTag, bool write = true) : tag(packageTag), written(write) {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    dir = std::string(temp) + (written ? Unique("tambrel_e2e_") : "");
    if (!written) return;
    ::CreateDirectoryA(dir.c_str(), nullptr);
    std::ofstream(path(), std::ios::binary) << InfText(hwid, marker);
  }
  ~Package() {
    for (const auto& stored : Added()) {
      ::DeleteFileA((InfStore() + "\\" + stored).c_str());
      ::DeleteFileA((InfStore() + "\\" + stored.substr(0, stored.size() - 4) + ".pnf").c_str());
    }
    if (!written) return;
    ::DeleteFileA(path().c_str());
    ::RemoveDirectoryA(dir.c_str());
  }
  std::string path() const { return dir + "\\" + name; }
  unsigned char Install() const { return Dll().installDev(1, 1, dir.c_str(), name.c_str(), hwid.c_str()); }
  std::vector<std::string> Added() const {
    std::vector<std::string> added;
    for (const auto& stored : StoredInfs()) {
      if (before.count(stored) == 0 && ReadFile(InfStore() + "\\" + stored).find(marker) != std::string::npos) {
        added.push_back(stored);
      }
    }
    return added;
  }
  // What the platform's own update answers for the same request, in the form
  // InstallDev answers.
  unsigned char PlatformUpdate() const {
    HMODULE newdev = ::LoadLibraryExA("newdev.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (newdev == nullptr) return 0;
    using UpdateFn = BOOL(WINAPI*)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
    auto update = Export<UpdateFn>(newdev, "UpdateDriverForPlugAndPlayDevicesA");
    BOOL result = update != nullptr ? update(nullptr, hwid.c_str(), path().c_str(), 1, nullptr) : FALSE;
    ::FreeLibrary(newdev);
    return result & 0xFF ? 1 : 0;
  }
};

// A library planted beside this program, the installation program, for one
// test; loaded, it leaves a mark beside itself. Wine searches a program's
// folder first, as Windows does, for a library this test's entry names in
// WINEDLLOVERRIDES (newdev=n,b).
struct Planted {
  std::string copy;
  explicit Planted(const std::string& library) {
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::size_t name = library.find_last_of("/\\") + 1;
    copy = std::string(self, std::strrchr(self, '\\') + 1) + library.substr(name);
    ::CopyFileA(library.c_str(), copy.c_str(), FALSE);
  }
  ~Planted() {
    ::DeleteFileA(copy.c_str());
    ::DeleteFileA((copy + ".loaded").c_str());
  }
  bool Loaded() const { return ::GetFileAttributesA((copy + ".loaded").c_str()) != INVALID_FILE_ATTRIBUTES; }
};

class TambrelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, Dll().module) << "tambrel.dll did not load";
    ASSERT_NE(nullptr, Dll().installDev);
    ASSERT_NE(nullptr, Dll().presentCount);
    ASSERT_NE(nullptr, Dll().closeZdlWindow);
  }
};

TEST_F(TambrelTest, ExportsTheSameFunctionsByOrdinalAndByName) {
  const char* names[] = {"CloseZDLWindow", "InstallDev", "GetDevicePresentCount"};
  for (WORD ordinal = 1; ordinal <= 3; ++ordinal) {
    SCOPED_TRACE(names[ordinal - 1]);
    FARPROC byName = ::GetProcAddress(Dll().module, names[ordinal - 1]);
    FARPROC byOrdinal = ::GetProcAddress(Dll().module, MAKEINTRESOURCEA(ordinal));
    EXPECT_NE(nullptr, byName);
    EXPECT_EQ(byName, byOrdinal);
  }
  EXPECT_EQ(nullptr, ::GetProcAddress(Dll().module, "_InstallDev@20"));
  EXPECT_EQ(nullptr, ::GetProcAddress(Dll().module, "InstallDev@20"));
}

TEST_F(TambrelTest, CarriesTheProductVersion) {
  char path[MAX_PATH];
  ASSERT_NE(0u, ::GetModuleFileNameA(Dll().module, path, MAX_PATH));
  DWORD handle = 0;
  DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
  ASSERT_NE(0u, size);
  std::vector<char> info(size);
  ASSERT_TRUE(::GetFileVersionInfoA(path, 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(static_cast<DWORD>(MAKELONG(NORZA_VERSION_MINOR, NORZA_VERSION_MAJOR)), fixed->dwFileVersionMS);
  EXPECT_EQ(static_cast<DWORD>(MAKELONG(NORZA_VERSION_TWEAK, NORZA_VERSION_PATCH)), fixed->dwFileVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
  const std::pair<const char*, const char*> strings[] = {
      {"CompanyName", "Quorvin"},
      {"ProductName", "Norza"},
      {"OriginalFilename", "tambrel.dll"},
      {"FileVersion", NORZA_VERSION_TEXT},
  };
  for (const auto& s : strings) {
    char* value = nullptr;
    std::string key = std::string("\\StringFileInfo\\040904B0\\") + s.first;
    ASSERT_TRUE(::VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) << s.first;
    EXPECT_STREQ(s.second, value);
  }
}

TEST_F(TambrelTest, CloseZDLWindowIsTrue) { EXPECT_EQ(1, Dll().closeZdlWindow()); }

TEST_F(TambrelTest, StdcallExportsPopTheirOwnArguments) {
#if defined(TAMBREL_PROBE_STACK)
  const std::string none = Unique("NOTHING_HAS_THIS_");
  const uint32_t noArgs[1] = {0};
  ProbeResult close = ProbeCall(reinterpret_cast<void*>(Dll().closeZdlWindow), noArgs, 0);
  EXPECT_EQ(0, close.espMoved);
  EXPECT_EQ(1u, close.eax & 0xFF);

  const uint32_t countArgs[] = {Arg(none.c_str())};
  ProbeResult count = ProbeCall(reinterpret_cast<void*>(Dll().presentCount), countArgs, 1);
  EXPECT_EQ(0, count.espMoved);
  EXPECT_EQ(0u, count.eax);

  // Rejected before doing anything (null INF name), so no side effects.
  const uint32_t installArgs[] = {Arg(1), Arg(1), Arg("C:\\"), Arg(nullptr), Arg("X")};
  ProbeResult install = ProbeCall(reinterpret_cast<void*>(Dll().installDev), installArgs, 5);
  EXPECT_EQ(0, install.espMoved);
  EXPECT_EQ(0u, install.eax & 0xFF);
#else
  GTEST_SKIP() << "stdcall and cdecl are one convention on this architecture";
#endif
}

TEST_F(TambrelTest, CountsPresentDevicesByTheirFirstHardwareId) {
  const std::string stem = kIdStem + Unique("_COUNT");
  e2e::RegisteredDevices norza(e2e::NorzaFunctions());
  e2e::RegisteredDevices others({
      {"ROOT\\NORZAE2E\\" + Unique("C1_"), e2e::kMediaClassGuid, {stem + "&MI_00", "USB\\OTHER"}, {}},
      {"ROOT\\NORZAE2E\\" + Unique("C2_"), e2e::kMediaClassGuid, {stem + "&MI_01"}, {}},
      {"ROOT\\NORZAE2E\\" + Unique("C3_"), e2e::kMediaClassGuid, {"USB\\OTHER", stem + "&MI_02"}, {}},
  });
  ASSERT_TRUE(norza.ok() && others.ok());

  struct Case {
    std::string text;
    int expected;
  };
  std::string lower = stem;
  for (auto& ch : lower) ch = static_cast<char>(::tolower(static_cast<unsigned char>(ch)));
  const Case cases[] = {
      {"USB\\VID_7E51&PID_0002", 3},  // the Norza's three functions
      {"USB\\VID_7E51&PID_0002&REV_0100&MI_08", 1},
      {stem, 2},
      {stem + "&MI_01", 1},
      {stem + "&MI_02", 0},  // only in a later hardware ID
      {lower, 0},
      {Unique("NOTHING_HAS_THIS_"), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.expected, Dll().presentCount(c.text.c_str()));
  }
  EXPECT_EQ(0, Dll().presentCount(nullptr));
  EXPECT_GE(Dll().presentCount(""), 2);  // every device with a hardware ID
}

TEST_F(TambrelTest, InstallDevPutsThePackageInTheDriverStoreAndReturnsTheUpdatesAnswer) {
  Package package("STORE");
  ASSERT_GE(PlainArgs().size(), 3u) << "the planted newdev.dll";
  Planted newdev(PlainArgs()[2]);

  const unsigned char result = package.Install();

  EXPECT_FALSE(newdev.Loaded()) << "the newdev.dll beside the installation program was loaded";
  auto added = package.Added();
  ASSERT_EQ(1u, added.size()) << "the package should be in " << InfStore();
  // Windows names each package it stores oem<N>.inf.
  const std::string storedAs = added[0].compare(0, 3, "oem") == 0 ? "oem<N>.inf" : added[0];
  EXPECT_EQ(storedAs, WINE_DIFFERS(std::string("oem<N>.inf"), package.name,
                                   "Wine's SetupCopyOEMInf stores a package under its own name"));
  EXPECT_EQ(package.PlatformUpdate(), result);
}

TEST_F(TambrelTest, InstallDevOfAMissingPackageCopiesNothingAndReturnsTheUpdatesAnswer) {
  Package missing("MISSING", false);
  const unsigned char result = missing.Install();
  EXPECT_EQ(missing.before, StoredInfs());
  EXPECT_EQ(missing.PlatformUpdate(), result);
}

TEST_F(TambrelTest, InstallDevMarksMediaDevicesWithTheIdForReinstallation) {
  Package package("MARK");
  const std::string media = "ROOT\\NORZAE2E\\" + Unique("M1_");
  const std::string prefix = "ROOT\\NORZAE2E\\" + Unique("M2_");
  e2e::RegisteredDevices devices({{media, e2e::kMediaClassGuid, {"USB\\OTHER", package.hwid}, {}},
                                  {prefix, e2e::kMediaClassGuid, {package.hwid + "&MI_00"}, {}}});
  ASSERT_TRUE(devices.ok());
  ASSERT_TRUE(e2e::SetConfigFlags(media, 0x4));
  ASSERT_TRUE(e2e::SetConfigFlags(prefix, 0x4));

  package.Install();

  // The platform's update may rewrite the device's other flags when it
  // installs on it; the reinstall flag must be there in any case.
  DWORD flags = 0;
  ASSERT_TRUE(e2e::GetConfigFlags(media, &flags));
  EXPECT_EQ(0x20u, flags & 0x20u);
  ASSERT_TRUE(e2e::GetConfigFlags(prefix, &flags));
  EXPECT_EQ(0x4u, flags);
}

TEST_F(TambrelTest, RejectsMissingAndOverlongTextsAndCopiesNothing) {
  Package package("REJECT");
  const char *dir = package.dir.c_str(), *name = package.name.c_str(), *hwid = package.hwid.c_str();
  const std::string tooLong(200, 'x');
  struct Case {
    const char* what;
    const char* dir;
    const char* name;
    const char* id;
  };
  const Case cases[] = {
      {"null dir", nullptr, name, hwid},
      {"null name", dir, nullptr, hwid},
      {"null id", dir, name, nullptr},
      {"long dir", tooLong.c_str(), name, hwid},
      {"long name", dir, tooLong.c_str(), hwid},
      {"long id", dir, name, tooLong.c_str()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(0, Dll().installDev(1, 1, c.dir, c.name, c.id));
    EXPECT_TRUE(package.Added().empty());
  }
}

}  // namespace

namespace {

// Open handles and private committed bytes of this process. Wine's
// GetProcessHandleCount answers 0, so the handle values in use are counted.
std::pair<int, long long> ProcessCost() {
  int handles = 0;
  DWORD flags = 0;
  for (uintptr_t h = 4; h <= 0x4000; h += 4) handles += ::GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags);
  long long bytes = 0;
  MEMORY_BASIC_INFORMATION m;
  for (auto at = reinterpret_cast<const char*>(0x10000); at != nullptr && ::VirtualQuery(at, &m, sizeof m) == sizeof m;
       at = static_cast<const char*>(m.BaseAddress) + m.RegionSize) {
    if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) bytes += m.RegionSize;
  }
  return {handles, bytes};
}

// Keeps the DLLs `module` imports loaded, so that only its own cost counts.
void HoldImports(HMODULE module) {
  auto base = reinterpret_cast<const BYTE*>(module);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD rva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + rva); rva != 0 && d->Name != 0; ++d) {
    ::LoadLibraryA(reinterpret_cast<const char*>(base + d->Name));
  }
}

// True when every export answered and the DLL was really gone afterwards.
bool LoadCallUnload(const char* path) {
  const Tambrel t = Resolve(::LoadLibraryA(path));
  const bool answered = t.closeZdlWindow && t.presentCount && t.installDev && t.closeZdlWindow() == 1 &&
                        t.presentCount("NO_DEVICE_HAS_THIS_ID") == 0 &&
                        t.installDev(1, 1, "C:\\", nullptr, "X") == 0;  // refused, does nothing
  if (t.module != nullptr) ::FreeLibrary(t.module);
  return answered && ::GetModuleHandleA(path) == nullptr;
}

// An installation program that loads the DLL around every call (NSIS's ?u)
// must end with the handles and memory it started with.
int UnloadCycles(int cycles, const char* path) {
  HMODULE first = ::LoadLibraryA(path);
  if (first == nullptr) return 2;
  HoldImports(first);
  ::FreeLibrary(first);
  bool answered = LoadCallUnload(path);  // warms up what the process keeps anyway
  const auto before = ProcessCost();
  for (int i = 0; i < cycles && answered; ++i) answered = LoadCallUnload(path);
  const auto after = ProcessCost();
  std::printf("%d load/call/unload cycles: %d handles %+d, %lld KiB private committed memory %+lld KiB%s\n", cycles,
              before.first, after.first - before.first, before.second / 1024, (after.second - before.second) / 1024,
              answered ? "" : "; an export did not answer, or the DLL stayed loaded");
  return answered && after.first <= before.first && after.second - before.second <= 8 * 1024 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--unload-cycles") == 0) return UnloadCycles(std::atoi(argv[2]), argv[3]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
