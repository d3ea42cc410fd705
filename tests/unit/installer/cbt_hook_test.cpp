// The hook procedure against a real window with real buttons.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "usb_install.h"

namespace {

std::vector<int> g_clicked;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) g_clicked.push_back(LOWORD(wParam));
  return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

class CbtHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "TambrelHookTestWindow";
    ::RegisterClassA(&wc);
    window_ = ::CreateWindowExA(0, wc.lpszClassName, "Confirm", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200,
                                nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, window_);
    for (int id : {0, 42}) {
      ::CreateWindowExA(0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10 + id, 10, 80, 25, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), wc.hInstance, nullptr);
    }
    g_clicked.clear();
  }
  void TearDown() override {
    ::DestroyWindow(window_);
    g_buttonArmed = false;
    g_nButtonId = 0;
  }
  HWND window_ = nullptr;
};

TEST_F(CbtHookTest, ClicksTheButtonOnlyOnActivationWhileArmed) {
  struct Case {
    const char* what;
    bool armed;
    int button;
    int code;
    std::vector<int> clicked;
  };
  const Case cases[] = {
      {"armed activation", true, 42, HCBT_ACTIVATE, {42}},
      {"armed, button 0", true, 0, HCBT_ACTIVATE, {0}},
      {"not armed (another process, or after InstallDev)", false, 42, HCBT_ACTIVATE, {}},
      {"other event", true, 42, HCBT_SETFOCUS, {}},
      {"creation", true, 42, HCBT_CREATEWND, {}},
      {"no such button", true, 7, HCBT_ACTIVATE, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_clicked.clear();
    g_nButtonId = c.button;
    g_buttonArmed = c.armed;
    CbtHookProc(c.code, reinterpret_cast<WPARAM>(window_), 0);
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

TEST_F(CbtHookTest, ToleratesANonWindow) {
  g_nButtonId = 42;
  g_buttonArmed = true;
  CbtHookProc(HCBT_ACTIVATE, 0, 0);
  CbtHookProc(HCBT_ACTIVATE, 0x1234, 0);
  EXPECT_TRUE(g_clicked.empty());
}

}  // namespace
