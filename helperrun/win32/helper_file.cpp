#include "helperrun/win32/helper_file.h"

#include <cstring>
#include <utility>

#include "helperrun/win32/helper_image.h"
#include "helperrun/win32/write_all.h"

namespace helperrun {

namespace {

// The module this code is linked into: the program or the library.
HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

// Writes the helper and holds it from then to its start: the writing handle
// lets nobody else write; it goes only once a reading one that lets others
// write is open, and that one only once one that lets nobody write is. The
// file is compared with the image through the last: what starts is then what
// this binary carries. In an elevated caller's folder nobody but an
// administrator can even open it.
bool WriteAndHoldHelper(const char* path, const void* image, DWORD size, platform::unique_hfile* hold) {
  platform::unique_hfile written(::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!written || !WriteAll(written.get(), image, size) || !::FlushFileBuffers(written.get())) return false;
  platform::unique_hfile between(::ReOpenFile(written.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0));
  if (!between) return false;
  written.reset();
#ifdef NORZA_HELPER_FILE_TEST_HOOK
  if (g_afterHelperWritten != nullptr) g_afterHelperWritten(path);
#endif
  platform::unique_hfile file(::ReOpenFile(between.get(), GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN));
  if (!file) return false;
  between.reset();
  const char* expected = static_cast<const char*>(image);
  DWORD compared = 0;
  for (;;) {
    char chunk[8192];
    DWORD read = 0;
    if (!::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) return false;
    if (read > size - compared || std::memcmp(chunk, expected + compared, read) != 0) break;
    if (read == 0) {
      if (compared != size) break;
      *hold = std::move(file);
      return true;
    }
    compared += read;
  }
  ::SetLastError(kHelperChangedError);
  return false;
}

}  // namespace

#ifdef NORZA_HELPER_FILE_TEST_HOOK
void (*g_afterHelperWritten)(const char* path) = nullptr;
#endif

bool HelperFile::Place() {
  HelperImage image;
  if (!image.UnpackResource(ThisModule()) || !folder_.Create()) return false;
  std::strcpy(path_, folder_.path());
  std::strcat(path_, "\\");
  std::strcat(path_, kHelperFile);
  written_ = true;
  if (WriteAndHoldHelper(path_, image.bytes(), image.size(), &hold_)) return true;
  // Nothing is left behind, the error stays.
  if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_GEN_FAILURE);
  RemoveFile();
  folder_.Remove();
  return false;
}

void HelperFile::RemoveFile() {
  platform::last_error_guard keep;  // the caller's failure, if any, stays its result
  hold_.reset();
  if (!written_) return;
  written_ = false;
  RemoveSoon(::DeleteFileA, path_);
}

}  // namespace helperrun
