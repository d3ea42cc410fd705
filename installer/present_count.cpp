#include "installer/present_count.h"

#include <windows.h>
#include <setupapi.h>

#include <cstring>

#include "installer/install_text.h"
#include "platform/device_setup.h"

namespace tambrel {

namespace {

// UTF-16 text on the local heap, grown as needed and kept for reuse.
class WideText {
 public:
  // `length` bytes of `text` (no terminator needed) in the thread's code page.
  bool Convert(const char* text, int length) {
    size_ = 0;
    if (length == 0) return true;
    const int units = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, nullptr, 0);
    if (units <= 0) return false;
    if (static_cast<SIZE_T>(units) > capacity_) {
      buffer_.reset();
      capacity_ = 0;
      buffer_.reset(::LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(units) * sizeof(wchar_t)));
      if (!buffer_) return false;
      capacity_ = static_cast<SIZE_T>(units);
    }
    if (::MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, units_(), units) != units) return false;
    size_ = static_cast<SIZE_T>(units);
    return true;
  }
  const wchar_t* data() const { return static_cast<const wchar_t*>(buffer_.get()); }
  SIZE_T size() const { return size_; }

 private:
  wchar_t* units_() { return static_cast<wchar_t*>(buffer_.get()); }
  platform::unique_hlocal buffer_;
  SIZE_T capacity_ = 0;
  SIZE_T size_ = 0;
};

}  // namespace

int CountPresentDevices(const char* idText) {
  WideText search;
  const std::size_t textLength = std::strlen(idText);
  if (textLength > 0x7FFFFFFF || !search.Convert(idText, static_cast<int>(textLength))) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }

  platform::unique_hdevinfo set(
      platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
  if (!set) return 0;  // the error of the set's building stands

  int count = 0;
  platform::unique_hlocal buffer;
  DWORD capacity = 0;  // bytes the buffer really holds
  DWORD size = 0;      // the last size the platform reported; offered next
  WideText firstId;
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
    if (!firstId.Convert(ids, static_cast<int>(length))) continue;
    if (tambrel::ContainsRun(firstId.data(), firstId.size(), search.data(), search.size())) ++count;
  }
  // The walk ends when the set has no more devices: that is no error.
  ::SetLastError(ERROR_SUCCESS);
  return count;
}

}  // namespace tambrel
