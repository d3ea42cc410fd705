// One small owner for every handle kind: handle type, close function, empty
// value. reset() keeps the thread's last error as it was, so a cleanup never
// hides the error of the call that failed; put() frees what it held first.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdlib>
#include <memory>

#include "platform/device_setup.h"
#include "platform/system_library.h"

namespace platform {

template <typename T, auto Close, T Empty = T{}>
class unique_handle {
 public:
  unique_handle() noexcept = default;
  explicit unique_handle(T value) noexcept : value_(value) {}
  ~unique_handle() { reset(); }

  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Empty; }

  T release() noexcept {
    T value = value_;
    value_ = Empty;
    return value;
  }

  void reset(T value = Empty) noexcept {
    if (value_ != Empty) {
      DWORD error = ::GetLastError();
      Close(value_);
      ::SetLastError(error);
    }
    value_ = value;
  }

  // For out-parameters: frees what is held, then hands out the slot.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = Empty;
};

namespace detail {
inline void CloseRegKey(HKEY key) { ::RegCloseKey(key); }
inline void CloseKernelHandle(HANDLE handle) { ::CloseHandle(handle); }
inline void UnhookHook(HHOOK hook) { ::UnhookWindowsHookEx(hook); }
inline void FreeLocal(HLOCAL memory) { ::LocalFree(memory); }
// Goes through the boundary, like the acquisition did.
inline void DestroyDeviceSet(HDEVINFO set) { platform::SetupDiDestroyDeviceInfoList(set); }
inline void ReleaseLibrary(HMODULE module) { platform::FreeLibrary(module); }
}  // namespace detail

using unique_hkey = unique_handle<HKEY, detail::CloseRegKey>;
using unique_kernel_handle = unique_handle<HANDLE, detail::CloseKernelHandle>;
using unique_hhook = unique_handle<HHOOK, detail::UnhookHook>;
using unique_hlocal = unique_handle<HLOCAL, detail::FreeLocal>;
using unique_hmodule = unique_handle<HMODULE, detail::ReleaseLibrary>;

// Memory from the C heap (malloc, realloc); T may be an array type.
struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};
template <typename T>
using unique_malloc = std::unique_ptr<T, FreeDeleter>;

// A device information set: empty is INVALID_HANDLE_VALUE. Not a template
// argument constant (it is a cast), so it gets its own small class.
class unique_hdevinfo {
 public:
  unique_hdevinfo() noexcept = default;
  explicit unique_hdevinfo(HDEVINFO value) noexcept : value_(value) {}
  ~unique_hdevinfo() { reset(); }
  unique_hdevinfo(const unique_hdevinfo&) = delete;
  unique_hdevinfo& operator=(const unique_hdevinfo&) = delete;

  HDEVINFO get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != INVALID_HANDLE_VALUE; }
  void reset(HDEVINFO value = INVALID_HANDLE_VALUE) noexcept {
    if (value_ != INVALID_HANDLE_VALUE) {
      DWORD error = ::GetLastError();
      detail::DestroyDeviceSet(value_);
      ::SetLastError(error);
    }
    value_ = value;
  }

 private:
  HDEVINFO value_ = INVALID_HANDLE_VALUE;
};

}  // namespace platform
