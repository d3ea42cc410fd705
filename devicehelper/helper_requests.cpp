#include "devicehelper/helper_requests.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "devicecontrol/device_status.h"
#include "devicecontrol/state_change.h"
#include "wire/helper_protocol.h"
#include "platform/unique_handle.h"
#include "installer/usb_install.h"

namespace {

void AnswerStateChange(const helper::StateChangeRequest& request) {
  // A set of exactly the devices the caller selected, whatever their class.
  platform::unique_hdevinfo set(platform::SetupDiCreateDeviceInfoListExA(nullptr, nullptr, nullptr, nullptr));
  for (std::size_t b = 0; b < request.batchCount(); ++b) {
    const helper::StateChangeRequest::Batch& batch = request.batch(b);
    DeviceStateChangeContext context = MakeStateChangeContext(batch.stateChange);
    for (std::size_t i = batch.first; i < batch.first + batch.count; ++i) {
      SP_DEVINFO_DATA element{};
      element.cbSize = sizeof(element);
      if (set && platform::SetupDiOpenDeviceInfoA(set.get(), request.id(i), nullptr, 0, &element)) {
        ApplyStateChange(set.get(), &element, static_cast<uint32_t>(i), &context);
      } else {
        // Gone since it was selected: nothing was changed.
        PrintStatusLine(request.id(i), context.failText);
      }
    }
  }
  std::fputs(helper::kAnswerEnd, StatusOutput());
}

void AnswerInstall(const helper::InstallRequest& request) {
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
      error = ::GetLastError();  // after a success, 0 or the restart it needs
      hook.reset();  // before the new-device library goes with `install`
    }
  }
  if (!installed && error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
  wire::Text answer;
  helper::WriteInstallAnswer(answer, installed, error);
  std::fwrite(answer.data(), 1, answer.size(), StatusOutput());
}

}  // namespace

DWORD HandleHelperRequest(const char* data, std::size_t size) {
  switch (helper::KindOfRequest(data, size)) {
    case helper::RequestKind::StateChange: {
      helper::StateChangeRequest request;
      if (!helper::ParseStateChangeRequest(data, size, request)) return ERROR_INVALID_DATA;
      AnswerStateChange(request);
      break;
    }
    case helper::RequestKind::Install: {
      helper::InstallRequest request;
      if (!helper::ParseInstallRequest(data, size, request)) return ERROR_INVALID_DATA;
      AnswerInstall(request);
      break;
    }
    default:
      return ERROR_INVALID_DATA;
  }
  std::fflush(StatusOutput());
  return ERROR_SUCCESS;
}
