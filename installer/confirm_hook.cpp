// The CBT hook that answers confirmation windows while an installation runs.
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>

#include "platform/unique_handle.h"
#include "platform/window_hooks.h"
#include "installer/confirm_hook.h"

namespace tambrel {

int g_nButtonId = 0;
std::atomic<bool> g_buttonArmed{false};

namespace {

// The windows whose button is being pressed right now. The press focuses the
// button, which activates its window again before the press is through: that
// is not a new window to confirm, and pressing it again would recurse click
// within click. Any other window activated meanwhile (a second confirmation
// that the press opens) is pressed in its turn. The table also bounds how
// deep presses can nest.
constexpr int kMaxNestedPresses = 16;
std::atomic<HWND> g_beingPressed[kMaxNestedPresses];

bool BeingPressed(HWND window) {
  for (const auto& slot : g_beingPressed) {
    if (slot.load() == window) return true;
  }
  return false;
}

// Holds a slot for `window` during one press; empty when the table is full.
class PressSlot : platform::noncopyable {
 public:
  explicit PressSlot(HWND window) noexcept {
    for (auto& slot : g_beingPressed) {
      HWND expected = nullptr;
      if (slot.compare_exchange_strong(expected, window)) {
        slot_ = &slot;
        return;
      }
    }
  }
  ~PressSlot() {
    if (slot_ != nullptr) slot_->store(nullptr);
  }
  explicit operator bool() const noexcept { return slot_ != nullptr; }

 private:
  std::atomic<HWND>* slot_ = nullptr;
};

// On 64-bit Windows a hook of a 32-bit process is also called, on the
// installing thread, for windows of 64-bit programs: those are the user's.
bool IsOwnWindow(HWND window) {
  DWORD process = 0;
  return ::GetWindowThreadProcessId(window, &process) != 0 && process == ::GetCurrentProcessId();
}

}  // namespace

LRESULT CALLBACK CbtHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
  if (nCode == HCBT_ACTIVATE && g_buttonArmed) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (IsOwnWindow(window) && !BeingPressed(window)) {
      HWND button = ::GetDlgItem(window, g_nButtonId);
      if (button != nullptr) {
        PressSlot pressing(window);
        if (pressing) ::SendMessageA(button, BM_CLICK, 0, 0);
      }
    }
  }
  return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

bool ConfirmationHooks::Add(DWORD threadId) {
  if (!hooks_.Reserve(hooks_.size() + 1)) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  // No module: the procedure is in this process already, and stays there.
  HHOOK hook = platform::SetWindowsHookExA(WH_CBT, CbtHookProc, nullptr, threadId);
  return hook != nullptr && hooks_.Add(hook);
}

bool ConfirmationHooks::Install() {
  const DWORD self = ::GetCurrentThreadId();
  if (!Add(self)) return false;
  platform::unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return true;  // the calling thread's hook is what counts
  const DWORD process = ::GetCurrentProcessId();
  THREADENTRY32 thread{};
  thread.dwSize = sizeof thread;
  for (BOOL more = ::Thread32First(snapshot.get(), &thread); more; more = ::Thread32Next(snapshot.get(), &thread)) {
    if (thread.th32OwnerProcessID == process && thread.th32ThreadID != self) Add(thread.th32ThreadID);
    thread.dwSize = sizeof thread;
  }
  ::SetLastError(ERROR_SUCCESS);
  return true;
}

void ConfirmationHooks::Remove() {
  platform::last_error_guard keep;
  for (std::size_t i = 0; i < hooks_.size(); ++i) ::UnhookWindowsHookEx(hooks_[i]);
  hooks_.Clear();
}

}  // namespace tambrel
