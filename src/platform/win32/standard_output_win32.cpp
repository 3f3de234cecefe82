#include <windows.h>

#include "platform/standard_output.h"

namespace velmora::platform {
namespace {

// The handle the caller gave the program, else the console of the process that started it.
HANDLE StandardOutputHandle() {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) return handle;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return nullptr;
  handle = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

}  // namespace

bool WriteStandardOutput(const std::string& utf8) {
  const HANDLE handle = StandardOutputHandle();
  if (handle == nullptr) return false;
  std::size_t written = 0;
  while (written < utf8.size()) {
    DWORD wrote = 0;
    if (!WriteFile(handle, utf8.data() + written, static_cast<DWORD>(utf8.size() - written), &wrote, nullptr) ||
        wrote == 0) {
      return false;
    }
    written += wrote;
  }
  return true;
}

}  // namespace velmora::platform
