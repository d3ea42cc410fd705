#include "controlpanel/default_endpoints.h"

#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/audio_endpoints.h"
#include "platform/unique_handle.h"
#include "controlpanel/sound_devices.h"

namespace controlpanel {

namespace {

constexpr EDataFlow kFlows[] = {eRender, eCapture};
constexpr ERole kRoles[] = {eConsole, eMultimedia, eCommunications};

// The same exact comparison as for the wave devices: the terminator counts,
// so "Quorvin Direct Device 2" is another device.
bool IsDirectDevice(LPCWSTR deviceName) {
  for (size_t i = 0;; ++i) {
    if (deviceName[i] != static_cast<unsigned char>(DirectDeviceName[i])) return false;
    if (DirectDeviceName[i] == '\0') return true;
  }
}

// COM for the calling thread while the endpoints are handled. A thread that
// has COM already keeps it as it is: a successful call (S_FALSE included) is
// matched by one uninitialization, a thread of another apartment
// (RPC_E_CHANGED_MODE) is left alone and used as it is.
class ComForThisThread : platform::noncopyable {
 public:
  ComForThisThread() : init_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComForThisThread() {
    if (SUCCEEDED(init_)) CoUninitialize();
  }

 private:
  HRESULT init_;
};

bool DefaultIsOnDirectDevice(EDataFlow flow, ERole role) {
  bool direct = false;  // also when there is no default, or it cannot be read
  platform::GetDefaultAudioEndpoint(
      flow, role,
      [](LPCWSTR, LPCWSTR deviceName, void* context) {
        *static_cast<bool*>(context) = IsDirectDevice(deviceName);
        return false;
      },
      &direct);
  return direct;
}

// The ID of the first active endpoint of `flow` that belongs to another
// device; empty when there is none.
platform::unique_malloc<wchar_t> FirstOtherEndpoint(EDataFlow flow) {
  platform::unique_malloc<wchar_t> found;
  platform::EnumAudioEndpoints(
      flow, DEVICE_STATE_ACTIVE,
      [](LPCWSTR id, LPCWSTR deviceName, void* context) {
        if (IsDirectDevice(deviceName)) return true;
        const size_t bytes = (std::wcslen(id) + 1) * sizeof(wchar_t);
        auto& copy = *static_cast<platform::unique_malloc<wchar_t>*>(context);
        copy.reset(static_cast<wchar_t*>(std::malloc(bytes)));
        if (copy) std::memcpy(copy.get(), id, bytes);
        return false;
      },
      &found);
  return found;
}

}  // namespace

void ReassignDefaultAudioEndpoints() {
  ComForThisThread com;
  for (EDataFlow flow : kFlows) {
    platform::unique_malloc<wchar_t> other;
    bool searched = false;  // the other endpoint is looked for once per flow, when needed
    for (ERole role : kRoles) {
      if (!DefaultIsOnDirectDevice(flow, role)) continue;
      if (!searched) {
        other = FirstOtherEndpoint(flow);
        searched = true;
      }
      // A refusal leaves this role as it is; the next one is still tried.
      if (other) platform::SetDefaultAudioEndpoint(other.get(), role);
    }
  }
}

}  // namespace controlpanel
