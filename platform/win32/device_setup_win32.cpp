// The shipped realisation of the device-setup boundary: forwards to the
// platform's own services.
#include "platform/device_setup.h"

namespace platform {

BOOL SetupDiClassGuidsFromNameExA(PCSTR ClassName, LPGUID ClassGuidList,
                                  DWORD ClassGuidListSize, PDWORD RequiredSize,
                                  PCSTR MachineName, PVOID Reserved) {
  return ::SetupDiClassGuidsFromNameExA(ClassName, ClassGuidList, ClassGuidListSize,
                                        RequiredSize, MachineName, Reserved);
}

HDEVINFO SetupDiGetClassDevsExA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                DWORD Flags, HDEVINFO DeviceInfoSet, PCSTR MachineName,
                                PVOID Reserved) {
  return ::SetupDiGetClassDevsExA(ClassGuid, Enumerator, hwndParent, Flags, DeviceInfoSet,
                                  MachineName, Reserved);
}

CONFIGRET CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags) {
  return ::CM_Get_DevNode_Status(pulStatus, pulProblemNumber, dnDevInst, ulFlags);
}

HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                              DWORD Flags) {
  return ::SetupDiGetClassDevsA(ClassGuid, Enumerator, hwndParent, Flags);
}

HDEVINFO SetupDiCreateDeviceInfoListExA(const GUID* ClassGuid, HWND hwndParent,
                                        PCSTR MachineName, PVOID Reserved) {
  return ::SetupDiCreateDeviceInfoListExA(ClassGuid, hwndParent, MachineName, Reserved);
}

BOOL SetupDiOpenDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId, HWND hwndParent,
                            DWORD OpenFlags, PSP_DEVINFO_DATA DeviceInfoData) {
  return ::SetupDiOpenDeviceInfoA(DeviceInfoSet, DeviceInstanceId, hwndParent, OpenFlags,
                                  DeviceInfoData);
}

BOOL SetupDiGetDeviceInfoListDetailA(HDEVINFO DeviceInfoSet,
                                     PSP_DEVINFO_LIST_DETAIL_DATA_A DeviceInfoSetDetailData) {
  return ::SetupDiGetDeviceInfoListDetailA(DeviceInfoSet, DeviceInfoSetDetailData);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                           PSP_DEVINFO_DATA DeviceInfoData) {
  return ::SetupDiEnumDeviceInfo(DeviceInfoSet, MemberIndex, DeviceInfoData);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  return ::SetupDiDestroyDeviceInfoList(DeviceInfoSet);
}

CONFIGRET CM_Get_Device_ID_ExA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags,
                               HMACHINE hMachine) {
  if (Buffer == nullptr || BufferLen == 0) {
    return ::CM_Get_Device_ID_ExA(dnDevInst, Buffer, BufferLen, ulFlags, hMachine);
  }
  // Whatever the service does, the caller never gets an unterminated buffer.
  Buffer[0] = '\0';
  CONFIGRET result;
  if (hMachine == nullptr) {
    // The local machine: the same service without the machine handle. Some
    // implementations answer the _Ex form with success and no text.
    result = ::CM_Get_Device_IDA(dnDevInst, Buffer, BufferLen, ulFlags);
  } else {
    result = ::CM_Get_Device_ID_ExA(dnDevInst, Buffer, BufferLen, ulFlags, hMachine);
  }
  Buffer[BufferLen - 1] = '\0';
  return result;
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType,
                                       PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize) {
  return ::SetupDiGetDeviceRegistryPropertyA(DeviceInfoSet, DeviceInfoData, Property,
                                             PropertyRegDataType, PropertyBuffer,
                                             PropertyBufferSize, RequiredSize);
}

BOOL SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, const BYTE* PropertyBuffer,
                                       DWORD PropertyBufferSize) {
  return ::SetupDiSetDeviceRegistryPropertyA(DeviceInfoSet, DeviceInfoData, Property,
                                             PropertyBuffer, PropertyBufferSize);
}

BOOL SetupDiSetClassInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                   PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                   DWORD ClassInstallParamsSize) {
  return ::SetupDiSetClassInstallParamsA(DeviceInfoSet, DeviceInfoData, ClassInstallParams,
                                         ClassInstallParamsSize);
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                               PSP_DEVINFO_DATA DeviceInfoData) {
  return ::SetupDiCallClassInstaller(InstallFunction, DeviceInfoSet, DeviceInfoData);
}

BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
  return ::SetupDiGetDeviceInstallParamsA(DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
}

BOOL SetupCopyOEMInfA(PCSTR SourceInfFileName, PCSTR OEMSourceMediaLocation,
                      DWORD OEMSourceMediaType, DWORD CopyStyle, PSTR DestinationInfFileName,
                      DWORD DestinationInfFileNameSize, PDWORD RequiredSize,
                      PSTR* DestinationInfFileNameComponent) {
  return ::SetupCopyOEMInfA(SourceInfFileName, OEMSourceMediaLocation, OEMSourceMediaType,
                            CopyStyle, DestinationInfFileName, DestinationInfFileNameSize,
                            RequiredSize, DestinationInfFileNameComponent);
}

}  // namespace platform
