// The hook procedure against a real window with real buttons.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "installer/confirm_hook.h"

using namespace tambrel;

namespace {

std::vector<int> g_clicked;
std::vector<HWND> g_pressedWindows;
// Set: the next press opens a second confirmation with the same button.
bool g_openOnPress = false;

HWND MakeConfirmation(const char* title, int x);

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
// (the desktop's): a press on it shows as click 42.
LRESULT CALLBACK ForeignChildProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == BM_CLICK) g_clicked.push_back(42);
  return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND MakeConfirmation(const char* title, int x) {
  HWND window = ::CreateWindowExA(0, "TambrelHookTestWindow", title, WS_OVERLAPPEDWINDOW, x, 10, 300, 200, nullptr,
                                  nullptr, ::GetModuleHandleA(nullptr), nullptr);
  for (int id : {0, 42}) {
    ::CreateWindowExA(0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10 + id, 10, 80, 25, window,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr), nullptr);
  }
  return window;
}

class CbtHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "TambrelHookTestWindow";
    ::RegisterClassA(&wc);
    window_ = MakeConfirmation("Confirm", 10);
    ASSERT_NE(nullptr, window_);
    WNDCLASSA foreign{};
    foreign.lpfnWndProc = ForeignChildProc;
    foreign.hInstance = wc.hInstance;
    foreign.lpszClassName = "TambrelHookTestForeignChild";
    ::RegisterClassA(&foreign);
    foreignChild_ = ::CreateWindowExA(0, foreign.lpszClassName, "", WS_CHILD, 0, 0, 10, 10, ::GetDesktopWindow(),
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(42)), wc.hInstance, nullptr);
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
    std::vector<int> clicked;
    bool otherProcess = false;
  };
  const Case cases[] = {
      {"armed activation", true, 42, HCBT_ACTIVATE, {42}},
      {"armed, button 0", true, 0, HCBT_ACTIVATE, {0}},
      {"not armed (another process, or after InstallDev)", false, 42, HCBT_ACTIVATE, {}},
      {"other event", true, 42, HCBT_SETFOCUS, {}},
      {"creation", true, 42, HCBT_CREATEWND, {}},
      {"no such button", true, 7, HCBT_ACTIVATE, {}},
      // On 64-bit Windows the hook is called for windows of 64-bit programs too.
      {"a window of another process, with the button", true, 42, HCBT_ACTIVATE, {}, true},
  };
  DWORD desktopProcess = 0;
  ::GetWindowThreadProcessId(::GetDesktopWindow(), &desktopProcess);
  ASSERT_NE(::GetCurrentProcessId(), desktopProcess);
  ASSERT_EQ(foreignChild_, ::GetDlgItem(::GetDesktopWindow(), 42));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_clicked.clear();
    g_nButtonId = c.button;
    g_buttonArmed = c.armed;
    CbtHookProc(c.code, reinterpret_cast<WPARAM>(c.otherProcess ? ::GetDesktopWindow() : window_), 0);
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
  g_nButtonId = 42;
  g_buttonArmed = true;
  for (int round = 1; round <= 2; ++round) {
    ::ShowWindow(other, SW_SHOW);
    ::SetActiveWindow(other);
    g_clicked.clear();
    ::ShowWindow(window_, SW_SHOW);
    ::SetActiveWindow(window_);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
    EXPECT_EQ(std::vector<int>{42}, g_clicked) << "round " << round;
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
  g_nButtonId = 42;
  g_buttonArmed = true;
  g_openOnPress = true;
  ::ShowWindow(window_, SW_SHOW);
  ::SetActiveWindow(window_);
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
  g_buttonArmed = false;
  ::UnhookWindowsHookEx(hook);
  HWND second = ::FindWindowA("TambrelHookTestWindow", "Are you sure?");
  ASSERT_NE(nullptr, second);
  EXPECT_EQ((std::vector<HWND>{window_, second}), g_pressedWindows);
  ::DestroyWindow(second);
}

TEST_F(CbtHookTest, ToleratesANonWindow) {
  g_nButtonId = 42;
  g_buttonArmed = true;
  CbtHookProc(HCBT_ACTIVATE, 0, 0);
  CbtHookProc(HCBT_ACTIVATE, 0x1234, 0);
  EXPECT_TRUE(g_clicked.empty());
}

}  // namespace
