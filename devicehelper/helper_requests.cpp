#include "helper_requests.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device_control.h"
#include "helper_protocol.h"
#include "platform/unique_handle.h"
#include "usb_install.h"

namespace {

void AnswerStateChange(const helper::Request& request) {
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

DWORD HandleHelperRequest(const char* data, std::size_t size) {
  helper::Request request;
  if (!helper::ParseRequest(data, size, request)) return ERROR_INVALID_DATA;
  if (request.kind == helper::Request::Kind::Install) {
    AnswerInstall(request);
  } else {
    AnswerStateChange(request);
    std::fputs(helper::kAnswerEnd, StatusOutput());
  }
  std::fflush(StatusOutput());
  return ERROR_SUCCESS;
}
