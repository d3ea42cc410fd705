// The window hook that presses a confirmation's button while an installation
// runs, and what arms it.
#pragma once

#include <windows.h>

#include <atomic>

#include "platform/unique_handle.h"
#include "wire/growing.h"

namespace tambrel {

// The control the hook presses; set by ButtonArming.
extern int g_nButtonId;
// True only in the process, and only for the time, that an installation has
// its hook installed. The hook runs in other processes too, where g_nButtonId
// was never set: there it must press nothing.
extern std::atomic<bool> g_buttonArmed;

// Presses button g_nButtonId of every window of this process that is about to
// be activated while armed; never a window of another process.
LRESULT CALLBACK CbtHookProc(int nCode, WPARAM wParam, LPARAM lParam);

// CbtHookProc on the threads of this process, never on another's: the
// calling thread, which runs the update and gets its windows, and the others
// the installation program runs now (its window thread, say). A hook for the
// whole desktop would make Windows map this library, by its path, into every
// program that activates a window meanwhile; under the user's temporary
// folder, where installation programs unpack their plug-ins, that path may
// be changed by a process without elevation.
class ConfirmationHooks : platform::noncopyable {
 public:
  ~ConfirmationHooks() { Remove(); }

  // False, with the platform's error, when the calling thread's hook cannot
  // be set; another thread's that cannot is passed over.
  bool Install();
  void Remove();

 private:
  bool Add(DWORD threadId);

  wire::Growing<HHOOK> hooks_;
};

// Stores the button and arms the hook for its lifetime.
class ButtonArming : platform::noncopyable {
 public:
  explicit ButtonArming(int buttonId) noexcept {
    g_nButtonId = buttonId;
    g_buttonArmed = true;
  }
  ~ButtonArming() { g_buttonArmed = false; }
};

}  // namespace tambrel
