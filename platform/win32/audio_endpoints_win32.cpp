#include "platform/audio_endpoints.h"

#include <mmreg.h>
#include <objbase.h>
#include <propidl.h>
#include <propsys.h>

#include "platform/unique_handle.h"

namespace platform {
namespace {

// Spelled out here rather than taken from the uuid library, like the
// undocumented identifiers below.
const CLSID kMMDeviceEnumerator = {0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};
// PKEY_DeviceInterface_FriendlyName: the name of the device an endpoint belongs to.
const PROPERTYKEY kDeviceName = {{0x026e516e, 0xb814, 0x414b, {0x83, 0xcd, 0x85, 0x6d, 0x6f, 0xef, 0x48, 0x22}}, 2};

// The policy-configuration interface: undocumented, so only what is called
// is declared. SetDefaultEndpoint(id, role) is a method of it like any
// other, found by its place in the method table: after IUnknown's three and
// ten more in the Windows 7 to 11 interface, nine in Vista's (which has no
// ResetDeviceFormat).
struct PolicyConfig {
  CLSID client;
  IID iid;
  int setDefaultEndpoint;  // the method's place in the table
};
const PolicyConfig kPolicyConfig = {{0x870af99c, 0x171d, 0x4f9e, {0xaf, 0x0d, 0xe6, 0x3d, 0xf4, 0x0c, 0x2b, 0xc9}},
                                    {0xf8679f50, 0x850a, 0x41cf, {0x9c, 0x72, 0x43, 0x0f, 0x29, 0x02, 0x90, 0xc8}},
                                    13};
const PolicyConfig kPolicyConfigVista = {{0x294935ce, 0xf637, 0x4e7c, {0xa4, 0x1b, 0xab, 0x25, 0x54, 0x60, 0xb8, 0x62}},
                                         {0x568b9108, 0x44bf, 0x40b4, {0x90, 0x06, 0x86, 0xaf, 0xe5, 0xb5, 0xa6, 0x20}},
                                         12};

template <typename Interface>
void ReleaseInterface(Interface* object) { object->Release(); }
template <typename Interface>
using unique_com = unique_handle<Interface*, ReleaseInterface<Interface>>;

void FreeTaskMemory(LPWSTR text) { ::CoTaskMemFree(text); }
using unique_cotaskmem_string = unique_handle<LPWSTR, FreeTaskMemory>;

class unique_propvariant {
 public:
  unique_propvariant() noexcept { ::PropVariantInit(&value_); }
  ~unique_propvariant() { ::PropVariantClear(&value_); }
  unique_propvariant(const unique_propvariant&) = delete;
  unique_propvariant& operator=(const unique_propvariant&) = delete;
  PROPVARIANT* put() noexcept {
    ::PropVariantClear(&value_);
    return &value_;
  }
  LPCWSTR text() const noexcept {
    return value_.vt == VT_LPWSTR && value_.pwszVal != nullptr ? value_.pwszVal : L"";
  }

 private:
  PROPVARIANT value_;
};

template <typename Interface>
HRESULT Create(const CLSID& clsid, const IID& iid, unique_com<Interface>& object) {
  return ::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, reinterpret_cast<void**>(object.put()));
}

HRESULT OpenEnumerator(unique_com<IMMDeviceEnumerator>& enumerator) {
  return Create(kMMDeviceEnumerator, __uuidof(IMMDeviceEnumerator), enumerator);
}

// Hands the endpoint to `visit`; `goOn` keeps its answer.
HRESULT Visit(IMMDevice* endpoint, AudioEndpointVisitor visit, void* context, bool* goOn) {
  unique_cotaskmem_string id;
  HRESULT hr = endpoint->GetId(id.put());
  if (FAILED(hr)) return hr;
  unique_com<IPropertyStore> properties;
  hr = endpoint->OpenPropertyStore(STGM_READ, properties.put());
  if (FAILED(hr)) return hr;
  // A missing name is no name, not a reason to pass the endpoint over.
  unique_propvariant name;
  properties.get()->GetValue(kDeviceName, name.put());
  *goOn = visit(id.get(), name.text(), context);
  return S_OK;
}

}  // namespace

HRESULT EnumAudioEndpoints(EDataFlow flow, DWORD stateMask, AudioEndpointVisitor visit, void* context) {
  unique_com<IMMDeviceEnumerator> enumerator;
  unique_com<IMMDeviceCollection> endpoints;
  UINT count = 0;
  HRESULT hr = OpenEnumerator(enumerator);
  if (SUCCEEDED(hr)) hr = enumerator.get()->EnumAudioEndpoints(flow, stateMask, endpoints.put());
  if (SUCCEEDED(hr)) hr = endpoints.get()->GetCount(&count);
  if (FAILED(hr)) return hr;
  bool goOn = true;
  for (UINT i = 0; i < count && goOn; ++i) {
    unique_com<IMMDevice> endpoint;
    if (SUCCEEDED(endpoints.get()->Item(i, endpoint.put()))) Visit(endpoint.get(), visit, context, &goOn);
  }
  return S_OK;
}

HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole role, AudioEndpointVisitor visit, void* context) {
  unique_com<IMMDeviceEnumerator> enumerator;
  unique_com<IMMDevice> endpoint;
  HRESULT hr = OpenEnumerator(enumerator);
  if (SUCCEEDED(hr)) hr = enumerator.get()->GetDefaultAudioEndpoint(flow, role, endpoint.put());
  if (FAILED(hr)) return hr;  // E_NOTFOUND: the flow has no endpoint
  bool goOn = true;
  return Visit(endpoint.get(), visit, context, &goOn);
}

// The Windows 7 to 11 interface first; Vista's only where that one is missing.
// A refusal of the one found is the answer: the other is not asked.
HRESULT SetDefaultAudioEndpoint(LPCWSTR id, ERole role) {
  unique_com<IUnknown> policy;
  const PolicyConfig* found = &kPolicyConfig;
  if (FAILED(Create(found->client, found->iid, policy))) {
    found = &kPolicyConfigVista;
    const HRESULT hr = Create(found->client, found->iid, policy);
    if (FAILED(hr)) return hr;
  }
  using SetDefaultEndpointFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, LPCWSTR, ERole);
  void** methods = *reinterpret_cast<void***>(policy.get());
  return reinterpret_cast<SetDefaultEndpointFn>(methods[found->setDefaultEndpoint])(policy.get(), id, role);
}

}  // namespace platform
