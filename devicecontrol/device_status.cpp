#include "devicecontrol/device_status.h"

namespace devicecontrol {

namespace {

std::FILE* g_statusOutput = nullptr;  // null: standard output
StatusForm g_form = StatusForm::Lines;
bool g_withErrors = false;
// A line is written whole or not at all, and never by a muted thread.
SRWLOCK g_statusLock = SRWLOCK_INIT;
DWORD g_mutedThread = 0;

void Write(const char* line, std::size_t length) {
  ::AcquireSRWLockExclusive(&g_statusLock);
  if (length != 0 && ::GetCurrentThreadId() != g_mutedThread) {
    std::fwrite(line, 1, length, StatusOutput());
    // Lines reach a redirected output at once, even if the session ends next.
    std::fflush(StatusOutput());
  }
  ::ReleaseSRWLockExclusive(&g_statusLock);
}

}  // namespace

void SetStatusOutput(std::FILE* output, StatusForm form) {
  g_statusOutput = output;
  g_form = form;
}

std::FILE* StatusOutput() { return g_statusOutput != nullptr ? g_statusOutput : stdout; }

void SetStatusErrors(bool withErrors) { g_withErrors = withErrors; }

void PrintStatusLine(const char* id, const char* word) {
  char line[wire::kStatusLineSize];
  Write(line, wire::FormatStatusLine(line, sizeof line, id, word));
}

void PrintOutcome(const wire::DeviceOutcome& outcome, DWORD stateChange) {
  if (g_form == StatusForm::Wire) {
    wire::Text text;
    wire::WriteOutcome(text, outcome);
    Write(text.data(), text.ok() ? text.size() : 0);
    return;
  }
  char line[wire::kStatusLineSize];
  Write(line, wire::FormatOutcomeLine(line, sizeof line, outcome, stateChange, g_withErrors));
}

void MuteStatusLines(unsigned long thread) {
  ::AcquireSRWLockExclusive(&g_statusLock);
  g_mutedThread = thread;
  ::ReleaseSRWLockExclusive(&g_statusLock);
}

void UnmuteStatusLines(unsigned long thread) {
  ::AcquireSRWLockExclusive(&g_statusLock);
  if (g_mutedThread == thread) g_mutedThread = 0;
  ::ReleaseSRWLockExclusive(&g_statusLock);
}

bool ReadInstanceId(HDEVINFO set, PSP_DEVINFO_DATA element, char (&id)[kInstanceIdSize]) {
  SP_DEVINFO_LIST_DETAIL_DATA_A detail{};
  detail.cbSize = sizeof(detail);
  if (platform::SetupDiGetDeviceInfoListDetailA(set, &detail) &&
      platform::CM_Get_Device_ID_ExA(element->DevInst, id, kInstanceIdSize, 0, detail.RemoteMachineHandle) ==
          CR_SUCCESS) {
    id[kInstanceIdSize - 1] = '\0';
    return true;
  }
  id[0] = '\0';
  return false;
}

bool PrintDeviceStatus(HDEVINFO set, PSP_DEVINFO_DATA element, const char* word) {
  char id[kInstanceIdSize];
  const bool known = ReadInstanceId(set, element, id);
  PrintStatusLine(known ? id : "?", word);
  return known;
}

}  // namespace devicecontrol
