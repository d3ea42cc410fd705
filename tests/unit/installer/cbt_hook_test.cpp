// The hook procedure against a real window with real buttons.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "tests/e2e/installer/hook_tests.h"
#include "installer/confirm_hook.h"

using namespace tambrel;
using hook_tests::DispatchWaiting;
using hook_tests::RegisterWindowClass;

namespace {

// The button the hook is to press, in each confirmation; also the ID of the
// foreign child below.
constexpr int kButton = 42;

HWND MakeConfirmation(const char* title, int x) {
  return hook_tests::MakeConfirmation("TambrelHookTestWindow", title, x, 10, 300, 200, kButton);
}

std::vector<int> g_clicked;
std::vector<HWND> g_pressedWindows;
// Set: the next press opens a second confirmation with the same button.
bool g_openOnPress = false;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    g_clicked.push_back(LOWORD(wParam));
    g_pressedWindows.push_back(hwnd);
    if (g_openOnPress) {
      g_openOnPress = false;
      HWND second = MakeConfirmation("Are you sure?", 300);
      ::ShowWindow(second, SW_SHOW);
      ::SetActiveWindow(second);
    }
  }
  return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A button of this process that is a child of a window of another process
// (the desktop's): a press on it shows as a click of kButton.
LRESULT CALLBACK ForeignChildProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == BM_CLICK) g_clicked.push_back(kButton);
  return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

class CbtHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterWindowClass("TambrelHookTestWindow", RecordingProc);
    window_ = MakeConfirmation("Confirm", 10);
    ASSERT_NE(nullptr, window_);
    RegisterWindowClass("TambrelHookTestForeignChild", ForeignChildProc);
    foreignChild_ =
        ::CreateWindowExA(0, "TambrelHookTestForeignChild", "", WS_CHILD, 0, 0, 10, 10, ::GetDesktopWindow(),
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButton)), ::GetModuleHandleA(nullptr), nullptr);
    g_clicked.clear();
    g_pressedWindows.clear();
  }
  void TearDown() override {
    ::DestroyWindow(foreignChild_);
    ::DestroyWindow(window_);
    g_buttonArmed = false;
    g_nButtonId = 0;
  }
  HWND window_ = nullptr;
  HWND foreignChild_ = nullptr;
};

TEST_F(CbtHookTest, ClicksTheButtonOnlyOnActivationWhileArmed) {
  struct Case {
    const char* what;
    bool armed;
    int button;
    int code;
    WPARAM window;
    std::vector<int> clicked;
  };
  const WPARAM own = reinterpret_cast<WPARAM>(window_), desktop = reinterpret_cast<WPARAM>(::GetDesktopWindow());
  const Case cases[] = {
      {"armed activation", true, kButton, HCBT_ACTIVATE, own, {kButton}},
      {"armed, button 0", true, 0, HCBT_ACTIVATE, own, {0}},
      {"not armed (another process, or after InstallDev)", false, kButton, HCBT_ACTIVATE, own, {}},
      {"other event", true, kButton, HCBT_SETFOCUS, own, {}},
      {"creation", true, kButton, HCBT_CREATEWND, own, {}},
      {"no such button", true, 7, HCBT_ACTIVATE, own, {}},
      // On 64-bit Windows the hook is called for windows of 64-bit programs too.
      {"a window of another process, with the button", true, kButton, HCBT_ACTIVATE, desktop, {}},
      // Tolerated: no window, or a value that names none.
      {"no window", true, kButton, HCBT_ACTIVATE, 0, {}},
      {"not a window", true, kButton, HCBT_ACTIVATE, 0x1234, {}},
  };
  DWORD desktopProcess = 0;
  ::GetWindowThreadProcessId(::GetDesktopWindow(), &desktopProcess);
  ASSERT_NE(::GetCurrentProcessId(), desktopProcess);
  ASSERT_EQ(foreignChild_, ::GetDlgItem(::GetDesktopWindow(), kButton));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_clicked.clear();
    g_nButtonId = c.button;
    g_buttonArmed = c.armed;
    CbtHookProc(c.code, c.window, 0);
    EXPECT_EQ(c.clicked, g_clicked);
  }
}

// Through a real hook: each activation of the window is one press, although
// the press itself activates the window again while it is being handled.
TEST_F(CbtHookTest, EachActivationPressesOnce) {
  HHOOK hook = ::SetWindowsHookExA(WH_CBT, CbtHookProc, nullptr, ::GetCurrentThreadId());
  ASSERT_NE(nullptr, hook);
  HWND other = ::CreateWindowExA(0, "TambrelHookTestWindow", "Other", WS_OVERLAPPEDWINDOW, 400, 10, 200, 100,
                                 nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  g_nButtonId = kButton;
  g_buttonArmed = true;
  for (int round = 1; round <= 2; ++round) {
    ::ShowWindow(other, SW_SHOW);
    ::SetActiveWindow(other);
    g_clicked.clear();
    ::ShowWindow(window_, SW_SHOW);
    ::SetActiveWindow(window_);
    DispatchWaiting();
    EXPECT_EQ(std::vector<int>{kButton}, g_clicked) << "round " << round;
    ::ShowWindow(window_, SW_HIDE);
  }
  g_buttonArmed = false;
  ::UnhookWindowsHookEx(hook);
  ::DestroyWindow(other);
}

// A confirmation that a press opens at once is activated during that press:
// it is pressed too, and each window once.
TEST_F(CbtHookTest, AConfirmationOpenedByAPressIsPressedToo) {
  HHOOK hook = ::SetWindowsHookExA(WH_CBT, CbtHookProc, nullptr, ::GetCurrentThreadId());
  ASSERT_NE(nullptr, hook);
  g_nButtonId = kButton;
  g_buttonArmed = true;
  g_openOnPress = true;
  ::ShowWindow(window_, SW_SHOW);
  ::SetActiveWindow(window_);
  DispatchWaiting();
  g_buttonArmed = false;
  ::UnhookWindowsHookEx(hook);
  HWND second = ::FindWindowA("TambrelHookTestWindow", "Are you sure?");
  ASSERT_NE(nullptr, second);
  EXPECT_EQ((std::vector<HWND>{window_, second}), g_pressedWindows);
  ::DestroyWindow(second);
}

}  // namespace
