// The simulated machine's sound: its wave devices, and its audio endpoints
// (Windows Vista and later), as the platform boundary offers them.
#include "platform/audio_endpoints.h"

#include <objbase.h>

#include <cstring>

#include "platform/wave_devices.h"
#include "sim_state.h"

namespace {

using Endpoint = sim::Machine::AudioEndpoint;

// As on Windows, nothing works on a thread without COM.
bool ComInitialized() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  return SUCCEEDED(CoGetApartmentType(&type, &qualifier));
}

const Endpoint* FindEndpoint(const std::wstring& id) {
  for (const auto& e : sim::machine().audioEndpoints) {
    if (!id.empty() && e.id == id) return &e;
  }
  return nullptr;
}

// The slot of a default; nullptr where the test gave none.
std::wstring* DefaultOf(int flow, ERole role) {
  auto& defaults = sim::machine().defaultEndpoints;
  if (static_cast<size_t>(flow) >= defaults.size() || static_cast<size_t>(role) >= defaults[flow].size()) return nullptr;
  return &defaults[flow][role];
}

}  // namespace

namespace platform {

HRESULT EnumAudioEndpoints(EDataFlow flow, DWORD stateMask, AudioEndpointVisitor visit, void* context) {
  if (!ComInitialized()) return CO_E_NOTINITIALIZED;
  for (const auto& e : sim::machine().audioEndpoints) {
    if (e.flow == flow && (e.state & stateMask) != 0 && !visit(e.id.c_str(), e.deviceName.c_str(), context)) break;
  }
  return S_OK;
}

HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole role, AudioEndpointVisitor visit, void* context) {
  if (!ComInitialized()) return CO_E_NOTINITIALIZED;
  const std::wstring* id = DefaultOf(flow, role);
  const Endpoint* e = id != nullptr ? FindEndpoint(*id) : nullptr;
  if (e == nullptr) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  visit(e->id.c_str(), e->deviceName.c_str(), context);
  return S_OK;
}

HRESULT SetDefaultAudioEndpoint(LPCWSTR id, ERole role) {
  if (!ComInitialized()) return CO_E_NOTINITIALIZED;
  if (FAILED(sim::machine().setDefaultEndpoint)) return sim::machine().setDefaultEndpoint;
  const Endpoint* e = FindEndpoint(id);
  if (e == nullptr || e->state != DEVICE_STATE_ACTIVE) return E_INVALIDARG;
  auto& defaults = sim::machine().defaultEndpoints;
  if (defaults.size() < 2) defaults.resize(2);
  defaults[e->flow].resize(3);
  *DefaultOf(e->flow, role) = id;
  return S_OK;
}

UINT waveInGetNumDevs() { return static_cast<UINT>(sim::machine().waveIn.size()); }
UINT waveOutGetNumDevs() { return static_cast<UINT>(sim::machine().waveOut.size()); }

namespace {
template <typename Caps>
MMRESULT FillCaps(const std::vector<std::string>& names, UINT_PTR id, Caps* caps, UINT size) {
  if (caps == nullptr || size != sizeof(Caps)) return MMSYSERR_INVALPARAM;
  if (id >= names.size()) return MMSYSERR_BADDEVICEID;
  std::memset(caps, 0, sizeof(Caps));
  lstrcpynA(caps->szPname, names[id].c_str(), MAXPNAMELEN);
  return MMSYSERR_NOERROR;
}
}  // namespace

MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic) {
  sim::Log("waveInGetDevCapsA", "", static_cast<DWORD>(uDeviceID));
  return FillCaps(sim::machine().waveIn, uDeviceID, pwic, cbwic);
}

MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc) {
  sim::Log("waveOutGetDevCapsA", "", static_cast<DWORD>(uDeviceID));
  return FillCaps(sim::machine().waveOut, uDeviceID, pwoc, cbwoc);
}

}  // namespace platform
