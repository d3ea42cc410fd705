#include "helper_requests.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device_control.h"
#include "helper_protocol.h"
#include "mode_functions.h"
#include "mode_store.h"
#include "platform/unique_handle.h"
#include "usb_install.h"

namespace {

// The instance IDs of the Norza functions present now, as this process finds
// them itself.
struct NorzaFunctions {
  char (*ids)[kInstanceIdSize] = nullptr;
  std::size_t count = 0;
  std::size_t capacity = 0;
  bool complete = true;
  ~NorzaFunctions() { std::free(ids); }
};

int32_t RememberFunction(HDEVINFO set, PSP_DEVINFO_DATA element, uint32_t, void* context) {
  auto* found = static_cast<NorzaFunctions*>(context);
  if (found->count == found->capacity) {
    const std::size_t capacity = found->capacity == 0 ? 8 : found->capacity * 2;
    void* grown = std::realloc(found->ids, capacity * kInstanceIdSize);
    if (grown == nullptr) {
      found->complete = false;
      return Failure;
    }
    found->ids = static_cast<char(*)[kInstanceIdSize]>(grown);
    found->capacity = capacity;
  }
  if (ReadInstanceId(set, element, found->ids[found->count])) ++found->count;
  return 0;
}

// Started with an administrator's rights on behalf of a process without
// them, the helper changes the Norza's functions and nothing else: every
// device of the request must be one the WDM and ASIO patterns select.
bool OnlyNorzaFunctions(const helper::Request& request) {
  const char* const patterns[] = {WdmInterfacePatterns[0], WdmInterfacePatterns[1], AsioInterfacePatterns[0]};
  NorzaFunctions found;
  CDeviceControl control;
  if (control.ForEachMatchingDevice(nullptr, DIGCF_PRESENT, 3, patterns, RememberFunction, &found) != Success ||
      !found.complete) {
    return false;
  }
  for (std::size_t i = 0; i < request.idCount; ++i) {
    bool known = false;
    for (std::size_t f = 0; f < found.count && !known; ++f) known = std::strcmp(found.ids[f], request.ids[i]) == 0;
    if (!known) return false;
  }
  return true;
}

void AnswerStateChange(const helper::Request& request) {
  // The mode first, as the control panel stores it before it switches.
  if (request.mode >= 0) WriteAudioMode(request.mode);
  // A set of exactly the devices the caller selected, whatever their class.
  platform::unique_hdevinfo set(platform::SetupDiCreateDeviceInfoListExA(nullptr, nullptr, nullptr, nullptr));
  for (std::size_t b = 0; b < request.batchCount; ++b) {
    const helper::Request::Batch& batch = request.batches[b];
    DeviceStateChangeContext context = MakeStateChangeContext(batch.stateChange);
    for (std::size_t i = batch.first; i < batch.first + batch.count; ++i) {
      SP_DEVINFO_DATA element{};
      element.cbSize = sizeof(element);
      if (set && platform::SetupDiOpenDeviceInfoA(set.get(), request.ids[i], nullptr, 0, &element)) {
        ApplyStateChange(set.get(), &element, static_cast<uint32_t>(i), &context);
      } else {
        // Gone since it was selected: nothing was changed.
        PrintStatusLine(request.ids[i], context.failText);
      }
    }
  }
}

void AnswerInstall(const helper::Request& request) {
  bool installed = false;
  DWORD error = ERROR_SUCCESS;
  {
    ButtonArming arming(request.buttonId);
    // This process's windows come up on this thread: the update's own, and
    // those of class installers it runs.
    platform::unique_hhook hook(::SetWindowsHookExA(WH_CBT, CbtHookProc, nullptr, ::GetCurrentThreadId()));
    if (!hook) {
      error = ::GetLastError();
    } else {
      CUsbInstall install;
      installed = install.Install(request.infDir, request.infName, request.hardwareId);
      error = installed ? ERROR_SUCCESS : ::GetLastError();
      hook.reset();  // before the new-device library goes with `install`
    }
  }
  if (!installed && error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
  helper::Text answer;
  helper::WriteInstallAnswer(answer, installed, error);
  std::fwrite(answer.data(), 1, answer.size(), StatusOutput());
}

}  // namespace

DWORD HandleHelperRequest(const char* data, std::size_t size, bool elevatedForAnother) {
  helper::Request request;
  if (!helper::ParseRequest(data, size, request)) return ERROR_INVALID_DATA;
  // The installer library never asks for consent; an elevated run only ever
  // switches the Norza.
  if (elevatedForAnother &&
      (request.kind != helper::Request::Kind::StateChange || !OnlyNorzaFunctions(request))) {
    return ERROR_ACCESS_DENIED;
  }
  if (request.kind == helper::Request::Kind::Install) {
    AnswerInstall(request);
  } else {
    AnswerStateChange(request);
    std::fputs(helper::kAnswerEnd, StatusOutput());
  }
  std::fflush(StatusOutput());
  return ERROR_SUCCESS;
}
