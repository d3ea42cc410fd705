// InstallDev's hook under a real window manager: a window of the calling
// process activated while InstallDev runs gets its button clicked; the same
// window activated afterwards, and a window of another process activated
// during the call, get nothing, and that process never has tambrel.dll
// mapped (the hook is set on the caller's own threads only).
//
// "While InstallDev runs" is caught without guessing at timings from the
// outside: the loader reports newdev.dll being loaded, which InstallDev does
// only once its hook is in place, and the windows are activated from then on:
// the other process's before the loading may go on (the loader lock held then
// does not stop another process), this process's own as soon as it can.
// On 64-bit Windows the installation runs in the 64-bit device helper, and
// newdev.dll never comes into this process: there the moment is a message
// posted to this thread before the call, which InstallDev dispatches while it
// waits for the helper (so this also shows that it keeps pumping messages).
// Under Wine a thread learns of a hook installed after it last asked the
// server only lazily, so the window thread posts itself a message first; the
// helper process opens its window from a thread started only then.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "installer/include/tambrel.h"

namespace {

constexpr int kButton = 4711;

std::vector<std::string> PlainArgs() {
  std::vector<std::string> out;
  for (int i = 1; i < __argc; ++i) {
    if (std::strncmp(__argv[i], "--gtest", 7) != 0) out.emplace_back(__argv[i]);
  }
  return out;
}

std::string Unique(const char* stem) { return std::string(stem) + std::to_string(::GetCurrentProcessId()); }

// Events set when newdev.dll is loaded, while a test is listening, and one
// waited for before the loading goes on.
std::atomic<HANDLE> g_onNewDevLoaded[2];
std::atomic<HANDLE> g_holdNewDevLoad;

struct LoaderNotification {
  ULONG flags;
  const UNICODE_STRING* fullName;
  const UNICODE_STRING* baseName;
  PVOID base;
  ULONG size;
};
using NotificationFn = VOID(CALLBACK*)(ULONG, const LoaderNotification*, PVOID);
using RegisterFn = LONG(NTAPI*)(ULONG, NotificationFn, PVOID, PVOID*);
using UnregisterFn = LONG(NTAPI*)(PVOID);

VOID CALLBACK OnDllEvent(ULONG reason, const LoaderNotification* data, PVOID) {
  const ULONG kLoaded = 1;
  if (reason != kLoaded || data == nullptr || data->baseName == nullptr) return;
  const UNICODE_STRING& name = *data->baseName;
  if (name.Length / sizeof(WCHAR) != 10 || _wcsnicmp(name.Buffer, L"newdev.dll", 10) != 0) return;
  for (auto& e : g_onNewDevLoaded) {
    if (HANDLE h = e.load()) ::SetEvent(h);
  }
  // The loader lock is held here: waiting is safe only for another process.
  if (HANDLE h = g_holdNewDevLoad.load()) ::WaitForSingleObject(h, 10000);
}

class NewDevWatch {
 public:
  NewDevWatch() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    auto reg = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "LdrRegisterDllNotification")));
    unregister_ =
        reinterpret_cast<UnregisterFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "LdrUnregisterDllNotification")));
    if (reg != nullptr && reg(0, OnDllEvent, nullptr, &cookie_) != 0) cookie_ = nullptr;
  }
  ~NewDevWatch() {
    if (cookie_ != nullptr && unregister_ != nullptr) unregister_(cookie_);
  }
  bool ok() const { return cookie_ != nullptr; }

 private:
  PVOID cookie_ = nullptr;
  UnregisterFn unregister_ = nullptr;
};

// A thread owning two top-level windows: the "dialog" with buttons 0 and
// kButton, and a plain one to move the activation away and back. On each
// `trigger` it activates the other window, then the dialog.
class WindowThread {
 public:
  WindowThread() {
    trigger_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    done_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    thread_ = std::thread([this] { Run(); });
    ::WaitForSingleObject(done_, 10000);
  }
  ~WindowThread() {
    quit_ = true;
    ::SetEvent(trigger_);
    thread_.join();
    ::CloseHandle(trigger_);
    ::CloseHandle(done_);
  }
  HANDLE trigger() const { return trigger_; }
  bool WaitDone() { return ::WaitForSingleObject(done_, 10000) == WAIT_OBJECT_0; }
  bool ActivateNow() {
    ::SetEvent(trigger_);
    return WaitDone();
  }
  // Read only while the thread is idle (after WaitDone).
  std::vector<int> TakeClicks() {
    std::vector<int> out;
    out.swap(clicked_);
    return out;
  }
  int activations() const { return activations_; }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<WindowThread*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self != nullptr && hwnd == self->dialog_) {
      if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) self->clicked_.push_back(LOWORD(wParam));
      if (msg == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) ++self->activations_;
    }
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
  }

  HWND Make(const char* title, int x) {
    HWND w = ::CreateWindowExA(0, "TambrelE2eWindow", title, WS_OVERLAPPEDWINDOW, x, 50, 250, 150, nullptr,
                               nullptr, ::GetModuleHandleA(nullptr), nullptr);
    ::SetWindowLongPtrA(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return w;
  }

  void Run() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "TambrelE2eWindow";
    ::RegisterClassA(&wc);
    other_ = Make("Other", 400);
    dialog_ = Make("Confirm", 50);
    for (int id : {0, kButton}) {
      ::CreateWindowExA(0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, id == 0 ? 10 : 50, 80, 25,
                        dialog_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), wc.hInstance, nullptr);
    }
    ::ShowWindow(other_, SW_SHOWNORMAL);
    ::SetForegroundWindow(other_);
    Pump();
    ::SetEvent(done_);
    for (;;) {
      DWORD w = ::MsgWaitForMultipleObjects(1, &trigger_, FALSE, INFINITE, QS_ALLINPUT);
      Pump();
      if (w != WAIT_OBJECT_0) continue;
      if (quit_) break;
      ::PostMessageA(other_, WM_NULL, 0, 0);  // a round trip to the server: hooks up to date
      Pump();
      ::SetForegroundWindow(other_);
      ::SetActiveWindow(other_);
      Pump();
      ::ShowWindow(dialog_, SW_SHOWNORMAL);
      ::SetForegroundWindow(dialog_);
      ::SetActiveWindow(dialog_);
      Pump();
      ::SetEvent(done_);
    }
    ::DestroyWindow(dialog_);
    ::DestroyWindow(other_);
  }

  static void Pump() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }

  HANDLE trigger_ = nullptr;
  HANDLE done_ = nullptr;
  std::atomic<bool> quit_{false};
  HWND dialog_ = nullptr;
  HWND other_ = nullptr;
  std::vector<int> clicked_;
  int activations_ = 0;
  std::thread thread_;
};

// tambrel_click_target: a window of another process, opened on `go`.
class OtherProcess {
 public:
  OtherProcess(const std::string& exe, int attempt) {
    const std::string tag = Unique("tambrel_e2e_") + "_" + std::to_string(attempt);
    ready_ = ::CreateEventA(nullptr, TRUE, FALSE, (tag + "_ready").c_str());
    go_ = ::CreateEventA(nullptr, TRUE, FALSE, (tag + "_go").c_str());
    done_ = ::CreateEventA(nullptr, TRUE, FALSE, (tag + "_done").c_str());
    std::string command = "\"" + exe + "\" " + std::to_string(kButton) + " " + tag + "_ready " + tag + "_go " +
                          tag + "_done";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    started_ = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_) &&
               ::WaitForSingleObject(ready_, 30000) == WAIT_OBJECT_0;
  }
  ~OtherProcess() {
    if (pi_.hProcess != nullptr) {
      if (::WaitForSingleObject(pi_.hProcess, 10000) != WAIT_OBJECT_0) ::TerminateProcess(pi_.hProcess, 99);
      ::CloseHandle(pi_.hProcess);
      ::CloseHandle(pi_.hThread);
    }
    ::CloseHandle(ready_);
    ::CloseHandle(go_);
    ::CloseHandle(done_);
  }
  bool started() const { return started_; }
  HANDLE go() const { return go_; }
  HANDLE done() const { return done_; }
  // Bits: 1 button 0 clicked, 2 kButton clicked, 4 the hook reached it, 8 activated; 64+: failed.
  DWORD ExitCode() {
    DWORD code = 999;
    if (::WaitForSingleObject(pi_.hProcess, 20000) == WAIT_OBJECT_0) ::GetExitCodeProcess(pi_.hProcess, &code);
    return code;
  }

 private:
  HANDLE ready_ = nullptr;
  HANDLE go_ = nullptr;
  HANDLE done_ = nullptr;
  PROCESS_INFORMATION pi_{};
  bool started_ = false;
};

// What the posted message does during the call: the same as the loader
// notification, and it may wait for this process's windows too.
struct DuringTheCall {
  WindowThread* windows = nullptr;
  HANDLE otherGo = nullptr;
  HANDLE otherDone = nullptr;
  bool windowsDone = false;
} g_during;

LRESULT CALLBACK DuringTheCallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_APP) return ::DefWindowProcA(hwnd, msg, wParam, lParam);
  ::SetEvent(g_during.otherGo);
  ::WaitForSingleObject(g_during.otherDone, 10000);
  g_during.windowsDone = g_during.windows->ActivateNow();
  return 0;
}

bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

TEST(TambrelHookTest, ClicksOnlyTheCallersWindowAndOnlyDuringTheCall) {
  auto args = PlainArgs();
  ASSERT_GE(args.size(), 2u) << "usage: tambrel_e2e_test DLL CLICK_TARGET";
  HMODULE dll = ::LoadLibraryA(args[0].c_str());
  ASSERT_NE(nullptr, dll);
  auto installDev =
      reinterpret_cast<TambrelInstallDevFn>(reinterpret_cast<void*>(::GetProcAddress(dll, "InstallDev")));
  ASSERT_NE(nullptr, installDev);
  const bool wow64 = RunsUnderWow64();
  NewDevWatch watch;
  ASSERT_TRUE(watch.ok()) << "no loader notifications";
  ASSERT_EQ(nullptr, ::GetModuleHandleA("newdev.dll")) << "newdev.dll already loaded: its loading marks no moment";
  WNDCLASSA wc{};
  wc.lpfnWndProc = DuringTheCallProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "TambrelE2eDuringTheCall";
  ::RegisterClassA(&wc);
  HWND messages = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                    nullptr);
  ASSERT_NE(nullptr, messages);

  // This process's window races the rest of InstallDev once the hook is in: a
  // few attempts make a slow machine no reason to fail. A click proves the
  // hook was in and armed; the other process is checked on every attempt.
  bool clicked = false;
  for (int attempt = 0; attempt < 5 && !clicked; ++attempt) {
    SCOPED_TRACE(attempt);
    WindowThread windows;
    OtherProcess other(args[1], attempt);
    ASSERT_TRUE(other.started());
    if (wow64) {
      g_during = DuringTheCall{&windows, other.go(), other.done(), false};
      ::PostMessageA(messages, WM_APP, 0, 0);
    } else {
      g_onNewDevLoaded[0] = windows.trigger();
      g_onNewDevLoaded[1] = other.go();
      g_holdNewDevLoad = other.done();
    }

    installDev(kButton, 1, "C:\\tambrel-e2e-nothing-here", "none.inf", "NORZAE2E\\HOOK_TEST_ONLY");

    g_onNewDevLoaded[0] = nullptr;
    g_onNewDevLoaded[1] = nullptr;
    g_holdNewDevLoad = nullptr;
    if (wow64) {
      ASSERT_TRUE(g_during.windowsDone) << "the message posted before the call was not handled during it";
    } else {
      ASSERT_TRUE(windows.WaitDone()) << "the loader never reported newdev.dll";
    }
    const auto during = windows.TakeClicks();
    for (int id : during) EXPECT_EQ(kButton, id) << "only the given button";
    clicked = clicked || !during.empty();

    ASSERT_TRUE(windows.ActivateNow());
    EXPECT_TRUE(windows.TakeClicks().empty()) << "clicked after InstallDev returned";
    EXPECT_GE(windows.activations(), 1);

    const DWORD code = other.ExitCode();
    ASSERT_LT(code, 64u) << "the helper failed to set up";
    EXPECT_EQ(0u, code & 3u) << "a button of another process was clicked";
    EXPECT_NE(0u, code & 8u) << "the other window was never activated";
    EXPECT_EQ(0u, code & 4u) << "tambrel.dll was mapped into another process";
  }
  EXPECT_TRUE(clicked) << "no window activated during InstallDev had its button clicked";
  ::DestroyWindow(messages);
  ::FreeLibrary(dll);
}

}  // namespace
