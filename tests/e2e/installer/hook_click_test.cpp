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
#include <utility>
#include <vector>

#include "tests/e2e/installer/hook_tests.h"
#include "installer/include/tambrel.h"
#include "tambrel_e2e.h"

namespace {

using namespace tambrel_e2e;
using hook_tests::DispatchWaiting;

constexpr int kButton = 4711;
constexpr char kWindowClass[] = "TambrelE2eWindow";

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
    auto reg = Export<RegisterFn>(ntdll, "LdrRegisterDllNotification");
    unregister_ = Export<UnregisterFn>(ntdll, "LdrUnregisterDllNotification");
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
  WindowThread() : thread_([this] { Run(); }) { ::WaitForSingleObject(done_, 10000); }
  ~WindowThread() {
    quit_ = true;
    ::SetEvent(trigger_);
    thread_.join();
    for (HANDLE event : {trigger_, done_}) ::CloseHandle(event);
  }
  HANDLE trigger() const { return trigger_; }
  bool WaitDone() { return ::WaitForSingleObject(done_, 10000) == WAIT_OBJECT_0; }
  bool ActivateNow() { return ::SetEvent(trigger_) && WaitDone(); }
  // Read only while the thread is idle (after WaitDone).
  std::vector<int> TakeClicks() { return std::exchange(clicked_, {}); }
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

  HWND Own(HWND window) {
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return window;
  }

  void Run() {
    hook_tests::RegisterWindowClass(kWindowClass, Proc);
    other_ = Own(::CreateWindowExA(0, kWindowClass, "Other", WS_OVERLAPPEDWINDOW, 400, 50, 250, 150, nullptr, nullptr,
                                   ::GetModuleHandleA(nullptr), nullptr));
    dialog_ = Own(hook_tests::MakeConfirmation(kWindowClass, "Confirm", 50, 50, 250, 150, kButton));
    ::ShowWindow(other_, SW_SHOWNORMAL);
    ::SetForegroundWindow(other_);
    DispatchWaiting();
    ::SetEvent(done_);
    for (;;) {
      DWORD w = ::MsgWaitForMultipleObjects(1, &trigger_, FALSE, INFINITE, QS_ALLINPUT);
      DispatchWaiting();
      if (w != WAIT_OBJECT_0) continue;
      if (quit_) break;
      ::PostMessageA(other_, WM_NULL, 0, 0);  // a round trip to the server: hooks up to date
      DispatchWaiting();
      ::SetForegroundWindow(other_);
      ::SetActiveWindow(other_);
      DispatchWaiting();
      ::ShowWindow(dialog_, SW_SHOWNORMAL);
      ::SetForegroundWindow(dialog_);
      ::SetActiveWindow(dialog_);
      DispatchWaiting();
      ::SetEvent(done_);
    }
    ::DestroyWindow(dialog_);
    ::DestroyWindow(other_);
  }

  HANDLE trigger_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE done_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
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
    for (HANDLE event : {ready_, go_, done_}) ::CloseHandle(event);
  }
  bool started() const { return started_; }
  HANDLE go() const { return go_; }
  HANDLE done() const { return done_; }
  // The click target's exit code (see hook_tests.h), or kNoExit when it did not end.
  static constexpr DWORD kNoExit = 999;
  DWORD ExitCode() {
    DWORD code = kNoExit;
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

TEST(TambrelHookTest, ClicksOnlyTheCallersWindowAndOnlyDuringTheCall) {
  auto args = PlainArgs();
  ASSERT_GE(args.size(), 2u) << "usage: tambrel_e2e_test DLL CLICK_TARGET";
  HMODULE dll = ::LoadLibraryA(args[0].c_str());
  ASSERT_NE(nullptr, dll);
  auto installDev = Export<TambrelInstallDevFn>(dll, "InstallDev");
  ASSERT_NE(nullptr, installDev);
  BOOL wow64 = FALSE;
  ::IsWow64Process(::GetCurrentProcess(), &wow64);
  NewDevWatch watch;
  ASSERT_TRUE(watch.ok()) << "no loader notifications";
  ASSERT_EQ(nullptr, ::GetModuleHandleA("newdev.dll")) << "newdev.dll already loaded: its loading marks no moment";
  hook_tests::RegisterWindowClass("TambrelE2eDuringTheCall", DuringTheCallProc);
  HWND messages = ::CreateWindowExA(0, "TambrelE2eDuringTheCall", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleA(nullptr), nullptr);
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

    g_onNewDevLoaded[0] = g_onNewDevLoaded[1] = g_holdNewDevLoad = nullptr;
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
    ASSERT_LT(code, DWORD{hook_tests::kSetupFailed}) << "the helper failed to set up";
    EXPECT_EQ(0u, code & hook_tests::kAnyButtonClicked) << "a button of another process was clicked";
    EXPECT_NE(0u, code & hook_tests::kActivated) << "the other window was never activated";
    EXPECT_EQ(0u, code & hook_tests::kTambrelMapped) << "tambrel.dll was mapped into another process";
  }
  EXPECT_TRUE(clicked) << "no window activated during InstallDev had its button clicked";
  ::DestroyWindow(messages);
  ::FreeLibrary(dll);
}

}  // namespace
