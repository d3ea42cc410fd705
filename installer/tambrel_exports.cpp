// The three exports, the CBT hook that answers the platform's confirmation
// dialogs during an installation, and the present-device count.
#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "install_text.h"
#include "platform/unique_handle.h"
#include "tambrel.h"
#include "usb_install.h"

HINSTANCE g_hModule = nullptr;
int g_nButtonId = 0;
std::atomic<bool> g_buttonArmed{false};

namespace {

constexpr std::size_t kMaxText = CUsbInstall::kFieldSize - 1;

bool TextFits(const char* text) {
  return text != nullptr && tambrel::BoundedLength(text, kMaxText + 1) <= kMaxText;
}

// Clears the button on every way out of InstallDev, after the hook is gone.
struct ButtonArming {
  explicit ButtonArming(int buttonId) noexcept {
    g_nButtonId = buttonId;
    g_buttonArmed = true;
  }
  ~ButtonArming() { g_buttonArmed = false; }
  ButtonArming(const ButtonArming&) = delete;
  ButtonArming& operator=(const ButtonArming&) = delete;
};

// `text` (bytes, no terminator needed) as UTF-16 in the thread's code page,
// into `out`. Empty text gives an empty result.
bool ToUtf16(const char* text, int length, std::wstring& out) {
  out.clear();
  if (length == 0) return true;
  const int units = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, nullptr, 0);
  if (units <= 0) return false;
  out.resize(static_cast<std::size_t>(units));
  return ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, &out[0], units) == units;
}

int CountPresentDevices(const char* idText) {
  // The search text converted with its terminator, which is then dropped.
  const int units = ::MultiByteToWideChar(CP_THREAD_ACP, 0, idText, -1, nullptr, 0);
  if (units <= 0) return 0;
  std::wstring search(static_cast<std::size_t>(units), L'\0');
  if (::MultiByteToWideChar(CP_THREAD_ACP, 0, idText, -1, &search[0], units) != units) return 0;
  search.resize(static_cast<std::size_t>(units - 1));

  platform::unique_hdevinfo set(
      platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
  if (!set) return 0;

  int count = 0;
  platform::unique_hlocal buffer;
  DWORD capacity = 0;  // bytes the buffer really holds
  DWORD size = 0;      // the last size the platform reported; offered next
  std::wstring firstId;
  SP_DEVINFO_DATA element{};
  element.cbSize = sizeof(SP_DEVINFO_DATA);
  for (DWORD index = 0; platform::SetupDiEnumDeviceInfo(set.get(), index, &element); ++index) {
    DWORD type = 0;
    DWORD offered = 0;
    // Never offer more than there is, whatever a failed read left in `size`.
    auto read = [&] {
      if (size > capacity) size = capacity;
      offered = size;
      return platform::SetupDiGetDeviceRegistryPropertyA(set.get(), &element, SPDRP_HARDWAREID, &type,
                                                         static_cast<PBYTE>(buffer.get()), size, &size) != FALSE;
    };
    bool ok = read();
    // A reported size no larger than the one offered would only repeat.
    while (!ok && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > offered) {
      buffer.reset();
      capacity = 0;
      buffer.reset(::LocalAlloc(LMEM_ZEROINIT, size));
      if (!buffer) {
        size = 0;
        break;
      }
      capacity = size;
      ok = read();
    }
    if (!ok) continue;

    const char* ids = static_cast<const char*>(buffer.get());
    const std::size_t length = ids != nullptr ? tambrel::BoundedLength(ids, size) : 0;
    if (!ToUtf16(ids, static_cast<int>(length), firstId)) continue;
    if (tambrel::ContainsRun(firstId.data(), firstId.size(), search.data(), search.size())) ++count;
  }
  return count;
}

}  // namespace

LRESULT CALLBACK CbtHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
  // The click itself focuses the button, which activates its window again
  // before the first activation is through; that is not a new window to
  // confirm, and pressing again there would recurse click within click.
  static thread_local bool clicking = false;
  if (nCode == HCBT_ACTIVATE && g_buttonArmed && !clicking) {
    HWND button = ::GetDlgItem(reinterpret_cast<HWND>(wParam), g_nButtonId);
    if (button != nullptr) {
      clicking = true;
      ::SendMessageA(button, BM_CLICK, 0, 0);
      clicking = false;
    }
  }
  return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

extern "C" {

TAMBREL_BOOL TAMBREL_CALL CloseZDLWindow(void) { return 1; }

TAMBREL_BOOL TAMBREL_CALL InstallDev(int nButtonId, int /*nClickCount*/, const char* pszInfDir,
                                     const char* pszInfName, const char* pszHardwareId) {
  if (!TextFits(pszInfDir) || !TextFits(pszInfName) || !TextFits(pszHardwareId)) return 0;
  try {
    // Declared in this order so that, on any way out, the hook goes first,
    // then the new-device library, then the button.
    ButtonArming arming(nButtonId);
    std::optional<CUsbInstall> install;
    platform::unique_hhook hook(::SetWindowsHookExA(WH_CBT, CbtHookProc, g_hModule, 0));
    if (!hook) return 0;
    install.emplace();
    const bool installed = install->Install(pszInfDir, pszInfName, pszHardwareId);
    hook.reset();
    install.reset();
    return installed ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int TAMBREL_CALL GetDevicePresentCount(const char* pszIdText) {
  if (pszIdText == nullptr) return 0;
  try {
    return CountPresentDevices(pszIdText);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
