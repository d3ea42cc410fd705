// The device-setup services both programs reach devices through: the setup
// API and the configuration manager (the new-device library, which is loaded
// at run time, is in platform/system_library.h).
//
// Every operation is spelled and typed as the platform spells it, in namespace
// platform. Two realisations are linked at build time: the Win32 one
// (platform/win32, one-line forwards) in the shipped binaries, and the
// simulated machine (tests/support) in the unit tests.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include "platform/unique_handle.h"

namespace platform {

// UpdateDriverForPlugAndPlayDevicesA, bound at run time from "newdev.dll"
// (platform/system_library.h).
using UpdateDriverForPlugAndPlayDevicesA_t =
    BOOL(WINAPI*)(HWND hwndParent, LPCSTR HardwareId, LPCSTR FullInfPath,
                  DWORD InstallFlags, PBOOL bRebootRequired);

BOOL SetupDiClassGuidsFromNameExA(PCSTR ClassName, LPGUID ClassGuidList,
                                  DWORD ClassGuidListSize, PDWORD RequiredSize,
                                  PCSTR MachineName, PVOID Reserved);

HDEVINFO SetupDiGetClassDevsExA(const GUID* ClassGuid, PCSTR Enumerator,
                                HWND hwndParent, DWORD Flags,
                                HDEVINFO DeviceInfoSet, PCSTR MachineName,
                                PVOID Reserved);

HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator,
                              HWND hwndParent, DWORD Flags);

HDEVINFO SetupDiCreateDeviceInfoListExA(const GUID* ClassGuid, HWND hwndParent,
                                        PCSTR MachineName, PVOID Reserved);

BOOL SetupDiOpenDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId,
                            HWND hwndParent, DWORD OpenFlags,
                            PSP_DEVINFO_DATA DeviceInfoData);

BOOL SetupDiGetDeviceInfoListDetailA(HDEVINFO DeviceInfoSet,
                                     PSP_DEVINFO_LIST_DETAIL_DATA_A DeviceInfoSetDetailData);

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                           PSP_DEVINFO_DATA DeviceInfoData);

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

CONFIGRET CM_Get_Device_ID_ExA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen,
                               ULONG ulFlags, HMACHINE hMachine);

// Whether a device runs (DN_STARTED without DN_HAS_PROBLEM) or is disabled
// (DN_HAS_PROBLEM with CM_PROB_DISABLED), so a device already in the state
// asked for is left alone.
CONFIGRET CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags);

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                       PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType,
                                       PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize);

BOOL SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                       PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, const BYTE* PropertyBuffer,
                                       DWORD PropertyBufferSize);

BOOL SetupDiSetClassInstallParamsA(HDEVINFO DeviceInfoSet,
                                   PSP_DEVINFO_DATA DeviceInfoData,
                                   PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                   DWORD ClassInstallParamsSize);

BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                               PSP_DEVINFO_DATA DeviceInfoData);

BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet,
                                    PSP_DEVINFO_DATA DeviceInfoData,
                                    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams);

BOOL SetupCopyOEMInfA(PCSTR SourceInfFileName, PCSTR OEMSourceMediaLocation,
                      DWORD OEMSourceMediaType, DWORD CopyStyle,
                      PSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                      PDWORD RequiredSize, PSTR* DestinationInfFileNameComponent);

// A device set, destroyed through the boundary that built it.
inline void DestroyDeviceSet(HDEVINFO set) { platform::SetupDiDestroyDeviceInfoList(set); }
using unique_hdevinfo = unique_handle<HDEVINFO, DestroyDeviceSet, -1>;

}  // namespace platform

// The record sizes the callers fill in come from sizeof, so each build gets its
// own; the 32-bit build must agree with the 32-bit platform.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA size on x86");
static_assert(sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A) == 287, "SP_DEVINFO_LIST_DETAIL_DATA_A size on x86");
static_assert(sizeof(SP_DEVINSTALL_PARAMS_A) == 296, "SP_DEVINSTALL_PARAMS_A size on x86");
static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20, "SP_PROPCHANGE_PARAMS size on x86");
static_assert(sizeof(SP_CLASSINSTALL_HEADER) == 8, "SP_CLASSINSTALL_HEADER size on x86");
#endif
