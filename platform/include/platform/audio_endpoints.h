// The audio endpoints of Windows Vista and later (MMDevice API) and the
// setting of a default endpoint, routed here so that a test can describe the
// machine's endpoints. Every call needs COM initialized on its thread; each
// call acquires and releases its own objects.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>

namespace platform {

// Sees one endpoint: its ID and the friendly name of the device it belongs to
// (PKEY_DeviceInterface_FriendlyName; empty when it has none). Both texts live
// only for the call. Returning false ends an enumeration.
using AudioEndpointVisitor = bool (*)(LPCWSTR id, LPCWSTR deviceName, void* context);

// Visits the endpoints of `flow` whose state is in `stateMask`
// (DEVICE_STATE_...), in the platform's order. An endpoint that cannot be
// read is passed over.
HRESULT EnumAudioEndpoints(EDataFlow flow, DWORD stateMask, AudioEndpointVisitor visit, void* context);

// Visits the default endpoint of `flow` for `role`, if there is one.
HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole role, AudioEndpointVisitor visit, void* context);

// Makes endpoint `id` the default of its data flow for `role`. There is no
// documented way; this asks the policy-configuration interface that the Sound
// control panel uses, and fails where the platform has none.
HRESULT SetDefaultAudioEndpoint(LPCWSTR id, ERole role);

}  // namespace platform
