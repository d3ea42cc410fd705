// One small owner for every handle kind, in the manner of WIL's unique_any:
// handle type, close function, and the empty value (null, or
// INVALID_HANDLE_VALUE for files, pipes and device sets) as parameters.
// reset() keeps the thread's last error as it was, so a cleanup never hides
// the error of the call that failed; put() frees what it held first.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace platform {

// Keeps the thread's last error across a cleanup, as WIL's last_error_context:
// what the caller reports is the error of the step that failed.
class last_error_guard {
 public:
  last_error_guard() noexcept : error_(::GetLastError()) {}
  ~last_error_guard() { ::SetLastError(error_); }
  last_error_guard(const last_error_guard&) = delete;
  last_error_guard& operator=(const last_error_guard&) = delete;

 private:
  DWORD error_;
};

// What every holder here derives from: it owns what it holds, so it is
// never copied.
class noncopyable {
 public:
  noncopyable(const noncopyable&) = delete;
  noncopyable& operator=(const noncopyable&) = delete;

 protected:
  noncopyable() = default;
  ~noncopyable() = default;
};

// `Empty` is the empty value as an integer: INVALID_HANDLE_VALUE (-1) is a
// cast, which a template argument cannot be.
template <typename T, auto Close, std::intptr_t Empty = 0>
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

  static T empty() noexcept { return (T)Empty; }  // NOLINT: a pointer or an integer handle alike
  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != empty(); }

  T release() noexcept {
    T value = value_;
    value_ = empty();
    return value;
  }

  void reset(T value = empty()) noexcept {
    if (value_ != empty()) {
      last_error_guard keep;
      Close(value_);
    }
    value_ = value;
  }

  // For out-parameters: frees what is held, then hands out the slot.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = empty();
};

namespace detail {
inline void CloseRegKey(HKEY key) { ::RegCloseKey(key); }
inline void CloseKernelHandle(HANDLE handle) { ::CloseHandle(handle); }
inline void UnhookHook(HHOOK hook) { ::UnhookWindowsHookEx(hook); }
inline void FreeLocal(HLOCAL memory) { ::LocalFree(memory); }
}  // namespace detail

using unique_hkey = unique_handle<HKEY, detail::CloseRegKey>;
// Processes, threads, events, tokens: empty is null.
using unique_kernel_handle = unique_handle<HANDLE, detail::CloseKernelHandle>;
// Files, folders, pipes (CreateFile, CreateNamedPipe): empty is INVALID_HANDLE_VALUE.
using unique_hfile = unique_handle<HANDLE, detail::CloseKernelHandle, -1>;
using unique_hhook = unique_handle<HHOOK, detail::UnhookHook>;
using unique_hlocal = unique_handle<HLOCAL, detail::FreeLocal>;

// Memory from the C heap (malloc, realloc); T may be an array type.
struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};
template <typename T>
using unique_malloc = std::unique_ptr<T, FreeDeleter>;

}  // namespace platform
