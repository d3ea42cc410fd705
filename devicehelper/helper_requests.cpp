#include "devicehelper/helper_requests.h"

#include <cstdio>
#include <cstring>

#include "devicecontrol/state_change.h"
#include "installer/usb_install.h"
#include "platform/unique_handle.h"
#include "wire/helper_protocol.h"

namespace devicehelper {

namespace {

void AnswerStateChange(const wire::StateChangeRequest& request, wire::Text& answer) {
  // A set of exactly the devices the caller selected, whatever their class.
  platform::unique_hdevinfo set(platform::SetupDiCreateDeviceInfoListExA(nullptr, nullptr, nullptr, nullptr));
  for (std::size_t b = 0; b < request.batchCount(); ++b) {
    const wire::StateChangeRequest::Batch& batch = request.batch(b);
    for (std::size_t i = batch.first; i < batch.first + batch.count; ++i) {
      SP_DEVINFO_DATA element{};
      element.cbSize = sizeof(element);
      wire::DeviceOutcome outcome;
      if (set && platform::SetupDiOpenDeviceInfoA(set.get(), request.id(i), nullptr, 0, &element)) {
        outcome = devicecontrol::ChangeState(set.get(), &element, request.id(i), batch.stateChange);
      } else {
        // Gone since it was selected: nothing was changed.
        std::strcpy(outcome.id, request.id(i));
        outcome.error = ::GetLastError();
      }
      wire::WriteOutcome(answer, outcome);
    }
  }
  answer.AppendEnd();
}

void AnswerInstall(const wire::InstallRequest& request, wire::Text& answer) {
  const bool installed = tambrel::InstallConfirming(request);
  DWORD error = ::GetLastError();
  if (!installed && error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
  wire::WriteInstallAnswer(answer, installed, error);
}

}  // namespace

DWORD HandleHelperRequest(const char* data, std::size_t size) {
  wire::Text answer;
  switch (wire::KindOfRequest(data, size)) {
    case wire::RequestKind::StateChange: {
      wire::StateChangeRequest request;
      if (!wire::ParseStateChangeRequest(data, size, request)) return ERROR_INVALID_DATA;
      AnswerStateChange(request, answer);
      break;
    }
    case wire::RequestKind::Install: {
      wire::InstallRequest request;
      if (!wire::ParseInstallRequest(data, size, request)) return ERROR_INVALID_DATA;
      AnswerInstall(request, answer);
      break;
    }
    default:
      return ERROR_INVALID_DATA;
  }
  if (!answer.ok()) return ERROR_NOT_ENOUGH_MEMORY;
  std::fwrite(answer.data(), 1, answer.size(), stdout);
  std::fflush(stdout);
  return ERROR_SUCCESS;
}

}  // namespace devicehelper
