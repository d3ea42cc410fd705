// Reads the resources of the built kelvane.exe back the way Windows does and
// compares them with the layout the dialog code and the artwork rely on.
// Usage: kelvane_resources_test [gtest flags] PATH\TO\kelvane.exe

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "controlpanel/resource.h"

// The dialog code and this test must agree on the numbers in resource.h.
static_assert(IDD_DRIVER_CONTROL == 132, "dialog id");
static_assert(IDC_WDM_MODE == 1000 && IDC_ASIO_MODE == 1001, "radio button ids");
static_assert(IDB_BANNER == 130 && IDB_LEFT_STRIP == 133 && IDB_RIGHT_STRIP == 134 &&
                  IDB_BOTTOM_STRIP == 135,
              "bitmap ids");
static_assert(IDI_APP == 140, "icon id");

namespace {

constexpr uint16_t kButtonClass = 0x0080;
constexpr uint16_t kStaticClass = 0x0082;
constexpr uint32_t kNoId = 0xFFFFFFFFu;

const char* ExePath() {
  // The last argument that is not one of GoogleTest's own flags.
  for (int i = __argc - 1; i > 0; --i) {
    if (std::strncmp(__argv[i], "--gtest", 7) != 0) return __argv[i];
  }
  return nullptr;
}

// Little-endian reader over a resource; reading past the end sets overrun().
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& data) : data_(data) {}

  // The next sizeof(T) bytes as an integer.
  template <typename T>
  T Get() {
    T value = 0;
    for (size_t i = 0; i < sizeof value && Take(1); ++i) {
      value = static_cast<T>(value | static_cast<uint32_t>(data_[pos_ - 1]) << (8 * i));
    }
    return value;
  }
  // Each of `values` in turn.
  template <typename... T>
  void Read(T&... values) {
    ((values = Get<T>()), ...);
  }
  uint8_t U8() { return Get<uint8_t>(); }
  uint16_t U16() { return Get<uint16_t>(); }
  uint32_t U32() { return Get<uint32_t>(); }
  void AlignDword() {
    while (pos_ % 4 != 0 && pos_ < data_.size()) ++pos_;
  }
  // A zero-terminated UTF-16 string; characters outside 8 bits are kept as '?'
  // and counted, since every text of this dialog must be 8-bit.
  std::string Text() {
    std::string out;
    for (uint16_t c = U16(); c != 0 && !overrun_; c = U16()) {
      if (c > 0xFF) ++wide_chars_;
      out.push_back(c > 0xFF ? '?' : static_cast<char>(c));
    }
    return out;
  }
  bool overrun() const { return overrun_; }
  int wide_chars() const { return wide_chars_; }
  size_t pos() const { return pos_; }

 private:
  bool Take(size_t n) {
    if (pos_ + n > data_.size()) {
      overrun_ = true;
      pos_ = data_.size();
      return false;
    }
    pos_ += n;
    return true;
  }
  const std::vector<uint8_t>& data_;
  size_t pos_ = 0;
  bool overrun_ = false;
  int wide_chars_ = 0;
};

// sz_Or_Ord: empty (0x0000), an ordinal (0xFFFF, n) or a string.
struct NameOrOrdinal {
  bool is_ordinal = false;
  uint16_t ordinal = 0;
  std::string text;
};

NameOrOrdinal ReadNameOrOrdinal(Reader& r) {
  NameOrOrdinal v;
  uint16_t first = r.U16();
  if (first == 0xFFFF) {
    v.is_ordinal = true;
    v.ordinal = r.U16();
  } else if (first != 0) {
    v.text.push_back(first > 0xFF ? '?' : static_cast<char>(first));
    v.text += r.Text();
  }
  return v;
}

struct DialogHeader {
  uint16_t version, signature;
  uint32_t help_id, ex_style, style;
  uint16_t count;
  int16_t x, y, cx, cy;
  NameOrOrdinal menu, cls;
  std::string title;
  uint16_t point_size, weight;
  uint8_t italic, charset;
  std::string typeface;
};

// DLGTEMPLATEEX; the font fields are there because the style has DS_SETFONT.
DialogHeader ReadDialogHeader(Reader& r) {
  DialogHeader h;
  r.Read(h.version, h.signature, h.help_id, h.ex_style, h.style, h.count, h.x, h.y, h.cx, h.cy);
  h.menu = ReadNameOrOrdinal(r);
  h.cls = ReadNameOrOrdinal(r);
  h.title = r.Text();
  r.Read(h.point_size, h.weight, h.italic, h.charset);
  h.typeface = r.Text();
  return h;
}

struct Control {
  uint32_t help_id, ex_style, style;
  int16_t x, y, cx, cy;
  uint32_t id;
  NameOrOrdinal cls, title;
  uint16_t extra;
};

struct ExpectedControl {
  const char* what;
  uint32_t id;
  uint16_t cls;
  const char* text;  // nullptr: the title is the bitmap ordinal below
  uint16_t bitmap;
  uint32_t style;
  int16_t x, y, cx, cy;
};

constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kPicture = kChild | SS_BITMAP;

const char kWarning[] =
    "Please Shutdown all other audio applications before making selection. If the Norza is "
    "selected as a Default Audio Device you may experience problems in the audio stream.";

const ExpectedControl kControls[] = {
    {"WDM radio", 1000, kButtonClass, "WDM Mode", 0, kChild | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, 54, 119, 52, 10},
    {"ASIO radio", 1001, kButtonClass, "ASIO  Mode", 0, kChild | BS_AUTORADIOBUTTON, 146, 119, 54, 10},
    {"Cancel", IDCANCEL, kButtonClass, "Cancel", 0, kChild | WS_TABSTOP | BS_PUSHBUTTON, 148, 172, 50, 14},
    {"OK", IDOK, kButtonClass, "OK", 0, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 200, 172, 50, 14},
    {"banner", kNoId, kStaticClass, nullptr, 130, kPicture, 1, 2, 267, 93},
    {"left strip", kNoId, kStaticClass, nullptr, 133, kPicture, 1, 94, 14, 96},
    {"bottom strip", kNoId, kStaticClass, nullptr, 135, kPicture, 1, 190, 267, 12},
    {"group box", kNoId, kButtonClass, "Quorvin Norza Driver State", 0, kChild | BS_GROUPBOX, 20, 99, 229, 68},
    {"warning", kNoId, kStaticClass, kWarning, 0, kChild | WS_GROUP | SS_LEFT, 23, 136, 222, 27},
    {"right strip", kNoId, kStaticClass, nullptr, 134, kPicture, 254, 95, 14, 96},
};

struct ExpectedBitmap {
  int id, width, height;
};
const ExpectedBitmap kBitmaps[] = {{130, 400, 151}, {133, 21, 156}, {134, 21, 156}, {135, 400, 20}};

class KelvaneResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* path = ExePath();
    if (path) module_ = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  }
  static void TearDownTestSuite() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(module_, nullptr) << "cannot load " << (ExePath() ? ExePath() : "(no path given)"); }

  // A copy of the resource's bytes; empty when it is missing.
  static std::vector<uint8_t> Resource(LPCSTR type, int id) {
    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
    if (!bytes) return {};
    return std::vector<uint8_t>(bytes, bytes + SizeofResource(module_, found));
  }

  static HMODULE module_;
};
HMODULE KelvaneResources::module_ = nullptr;

TEST_F(KelvaneResources, DialogHeaderIsTheExtendedTemplate) {
  std::vector<uint8_t> data = Resource(RT_DIALOG, 132);
  ASSERT_FALSE(data.empty()) << "no RT_DIALOG 132";
  Reader r(data);
  DialogHeader h = ReadDialogHeader(r);
  ASSERT_FALSE(r.overrun());
  EXPECT_EQ(h.version, 1);
  EXPECT_EQ(h.signature, 0xFFFF);
  EXPECT_EQ(h.help_id, 0u);
  EXPECT_EQ(h.ex_style, static_cast<uint32_t>(WS_EX_TOPMOST | WS_EX_APPWINDOW));
  // Not WS_VISIBLE: the dialog code shows the window once it is set up.
  EXPECT_EQ(h.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER |
                                           DS_SETFONT | DS_FIXEDSYS))
      << std::hex << "style 0x" << h.style;
  EXPECT_EQ(h.count, 10);
  EXPECT_EQ(h.x, 0);
  EXPECT_EQ(h.y, 0);
  EXPECT_EQ(h.cx, 270);
  EXPECT_EQ(h.cy, 202);
  EXPECT_TRUE(!h.menu.is_ordinal && h.menu.text.empty()) << "menu";
  EXPECT_TRUE(!h.cls.is_ordinal && h.cls.text.empty()) << "class";
  EXPECT_EQ(h.title, "Norza Driver Control");
  EXPECT_EQ(h.point_size, 8);
  EXPECT_EQ(h.weight, 400);
  EXPECT_EQ(h.italic, 0);
  EXPECT_EQ(h.charset, 1);
  EXPECT_EQ(h.typeface, "MS Shell Dlg");
  EXPECT_EQ(r.wide_chars(), 0);
}

TEST_F(KelvaneResources, DialogControlsMatchTheLayoutInOrder) {
  std::vector<uint8_t> data = Resource(RT_DIALOG, 132);
  ASSERT_FALSE(data.empty()) << "no RT_DIALOG 132";
  Reader r(data);
  uint16_t count = ReadDialogHeader(r).count;
  ASSERT_EQ(count, std::size(kControls));

  for (const ExpectedControl& want : kControls) {
    SCOPED_TRACE(want.what);
    r.AlignDword();
    Control c;
    r.Read(c.help_id, c.ex_style, c.style, c.x, c.y, c.cx, c.cy, c.id);
    c.cls = ReadNameOrOrdinal(r);
    c.title = ReadNameOrOrdinal(r);
    c.extra = r.U16();
    ASSERT_FALSE(r.overrun());

    EXPECT_EQ(c.help_id, 0u);
    EXPECT_EQ(c.ex_style, 0u);
    EXPECT_EQ(c.style, want.style) << std::hex << "style 0x" << c.style << " want 0x" << want.style;
    EXPECT_EQ(c.x, want.x);
    EXPECT_EQ(c.y, want.y);
    EXPECT_EQ(c.cx, want.cx);
    EXPECT_EQ(c.cy, want.cy);
    EXPECT_EQ(c.id, want.id);
    EXPECT_TRUE(c.cls.is_ordinal) << "class given by name: " << c.cls.text;
    EXPECT_EQ(c.cls.ordinal, want.cls);
    if (want.text) {
      EXPECT_FALSE(c.title.is_ordinal);
      EXPECT_EQ(c.title.text, want.text);
    } else {
      EXPECT_TRUE(c.title.is_ordinal) << "picture refers to a bitmap by name: " << c.title.text;
      EXPECT_EQ(c.title.ordinal, want.bitmap);
    }
    EXPECT_EQ(c.extra, 0);
  }
  EXPECT_EQ(r.wide_chars(), 0);
  r.AlignDword();
  EXPECT_EQ(r.pos(), data.size()) << "bytes after the last control";
}

// The dialog manager's own reading of the template: pictures find their
// bitmaps and size to them, and the two radio buttons exclude each other.
INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST_F(KelvaneResources, DialogBuildsWithPicturesAndExclusiveRadioButtons) {
  HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(132), RT_DIALOG);
  ASSERT_NE(found, nullptr);
  auto* dialog_template = static_cast<LPCDLGTEMPLATEA>(LockResource(LoadResource(module_, found)));
  // Wine starts its desktop process with the stderr of the first program that
  // needs it; hand it NUL so it does not hold the test runner's pipe open.
  HANDLE stderr_handle = GetStdHandle(STD_ERROR_HANDLE);
  HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  SetStdHandle(STD_ERROR_HANDLE, nul);
  GetDesktopWindow();
  SetStdHandle(STD_ERROR_HANDLE, stderr_handle);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);

  HWND dlg = CreateDialogIndirectParamA(module_, dialog_template, nullptr, QuietDialog, 0);
  ASSERT_NE(dlg, nullptr) << "CreateDialogIndirectParam failed: " << GetLastError();
  EXPECT_FALSE(IsWindowVisible(dlg));
  ShowWindow(dlg, SW_SHOWNOACTIVATE);

  std::vector<HWND> children;
  for (HWND h = GetWindow(dlg, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) children.push_back(h);
  ASSERT_EQ(children.size(), std::size(kControls));
  for (size_t i = 0; i < children.size(); ++i) {
    if (kControls[i].text) continue;
    SCOPED_TRACE(kControls[i].what);
    auto bitmap = reinterpret_cast<HBITMAP>(SendMessageA(children[i], STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(bitmap, nullptr) << "bitmap " << kControls[i].bitmap << " not loaded";
    BITMAP info{};
    ASSERT_NE(GetObjectA(bitmap, sizeof info, &info), 0);
    RECT client{};
    GetClientRect(children[i], &client);
    EXPECT_EQ(client.right, info.bmWidth);
    EXPECT_EQ(client.bottom, info.bmHeight);
  }

  HWND wdm = GetDlgItem(dlg, IDC_WDM_MODE);
  HWND asio = GetDlgItem(dlg, IDC_ASIO_MODE);
  ASSERT_TRUE(wdm && asio);
  SendMessageA(wdm, BM_CLICK, 0, 0);
  EXPECT_EQ(SendMessageA(wdm, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageA(asio, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  SendMessageA(asio, BM_CLICK, 0, 0);
  EXPECT_EQ(SendMessageA(asio, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageA(wdm, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  DestroyWindow(dlg);
}

TEST_F(KelvaneResources, BitmapsAre24BitAtTheirPixelSizes) {
  for (const ExpectedBitmap& want : kBitmaps) {
    SCOPED_TRACE(want.id);
    std::vector<uint8_t> data = Resource(RT_BITMAP, want.id);
    ASSERT_GE(data.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER h;
    std::memcpy(&h, data.data(), sizeof h);
    EXPECT_EQ(h.biSize, sizeof h);
    EXPECT_EQ(h.biWidth, want.width);
    EXPECT_EQ(std::abs(h.biHeight), want.height);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
    size_t stride = (static_cast<size_t>(want.width) * 3 + 3) & ~size_t{3};
    EXPECT_GE(data.size(), sizeof h + stride * want.height) << "pixel data cut short";
  }
}

TEST_F(KelvaneResources, IconGroupHoldsThreeSizesWithAlpha) {
  std::vector<uint8_t> group = Resource(RT_GROUP_ICON, 140);
  ASSERT_FALSE(group.empty()) << "no RT_GROUP_ICON 140";
  Reader r(group);
  EXPECT_EQ(r.U16(), 0);
  EXPECT_EQ(r.U16(), 1) << "type: icon";
  uint16_t count = r.U16();
  ASSERT_EQ(count, 3);
  const int sizes[] = {16, 32, 48};
  for (int want : sizes) {
    SCOPED_TRACE(want);
    int width = r.U8(), height = r.U8();
    r.U8(), r.U8();  // colour count, reserved
    uint16_t planes = r.U16(), bits = r.U16();
    uint32_t bytes = r.U32();
    uint16_t id = r.U16();
    ASSERT_FALSE(r.overrun());
    EXPECT_EQ(width, want);
    EXPECT_EQ(height, want);
    EXPECT_EQ(planes, 1);
    EXPECT_EQ(bits, 32);

    std::vector<uint8_t> image = Resource(RT_ICON, id);
    ASSERT_EQ(image.size(), bytes) << "RT_ICON " << id << " disagrees with the group";
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER h;
    std::memcpy(&h, image.data(), sizeof h);
    EXPECT_EQ(h.biWidth, want);
    EXPECT_EQ(h.biHeight, 2 * want) << "colour and mask halves";
    EXPECT_EQ(h.biBitCount, 32);
    size_t pixels = static_cast<size_t>(want) * want;
    size_t mask = ((want + 31) / 32) * 4 * static_cast<size_t>(want);
    ASSERT_GE(image.size(), sizeof h + pixels * 4 + mask);
    // Real alpha: some pixels clear (rounded corners), some opaque.
    int clear = 0, opaque = 0;
    for (size_t i = 0; i < pixels; ++i) {
      uint8_t a = image[sizeof h + i * 4 + 3];
      clear += a == 0;
      opaque += a == 255;
    }
    EXPECT_GT(clear, 0);
    EXPECT_GT(opaque, 0);
    HICON icon = CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                          want, want, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr) << "Windows cannot build the icon";
    if (icon) DestroyIcon(icon);
  }
}

// An enumeration callback, taking `Given` before its context, that counts
// the calls into the int its context points to.
template <typename... Given>
BOOL CALLBACK Count(Given..., LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

TEST_F(KelvaneResources, ManifestAsksForNothing) {
  std::vector<uint8_t> data = Resource(RT_MANIFEST, 1);
  ASSERT_FALSE(data.empty()) << "no RT_MANIFEST 1";
  std::string text(data.begin(), data.end());
  EXPECT_NE(text.find("<assembly"), std::string::npos);
  EXPECT_EQ(text.find("requestedExecutionLevel"), std::string::npos);
  EXPECT_EQ(text.find("trustInfo"), std::string::npos);
  // Nothing that changes the dialog's look or what the platform reports itself as.
  EXPECT_EQ(text.find("<dependency"), std::string::npos);
  EXPECT_EQ(text.find("<compatibility"), std::string::npos);
  // A toolchain's default manifest must not have been linked in beside ours,
  // under the same name or another language.
  int manifests = 0;
  EnumResourceNamesA(module_, RT_MANIFEST, Count<HMODULE, LPCSTR, LPSTR>, reinterpret_cast<LONG_PTR>(&manifests));
  EXPECT_EQ(manifests, 1);
  int languages = 0;
  EnumResourceLanguagesA(module_, RT_MANIFEST, MAKEINTRESOURCEA(1), Count<HMODULE, LPCSTR, LPCSTR, WORD>,
                         reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages, 1);
}

std::string VersionString(const std::vector<char>& block, const char* name) {
  std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return {};
  return std::string(value);
}

TEST_F(KelvaneResources, VersionResourceNamesMakerProductAndProjectVersion) {
  const char* path = ExePath();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  ASSERT_NE(size, 0u) << "no version resource";
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));

  EXPECT_EQ(VersionString(block, "CompanyName"), "Quorvin");
  EXPECT_EQ(VersionString(block, "ProductName"), "Norza");
  EXPECT_EQ(VersionString(block, "OriginalFilename"), "kelvane.exe");
  EXPECT_FALSE(VersionString(block, "FileDescription").empty());
  EXPECT_EQ(VersionString(block, "FileVersion"), NORZA_EXPECTED_VERSION);
  EXPECT_EQ(VersionString(block, "ProductVersion"), NORZA_EXPECTED_VERSION);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof *fixed);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  unsigned part[4] = {};
  ASSERT_EQ(std::sscanf(NORZA_EXPECTED_VERSION, "%u.%u.%u.%u", &part[0], &part[1], &part[2], &part[3]), 4);
  EXPECT_EQ(fixed->dwFileVersionMS, part[0] << 16 | part[1]);
  EXPECT_EQ(fixed->dwFileVersionLS, part[2] << 16 | part[3]);
  EXPECT_EQ(fixed->dwProductVersionMS, part[0] << 16 | part[1]);
  EXPECT_EQ(fixed->dwProductVersionLS, part[2] << 16 | part[3]);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

}  // namespace
