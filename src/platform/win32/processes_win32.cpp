// Processes with the Toolhelp snapshot and OpenProcess / TerminateProcess.
#include "platform/processes.h"

#include <windows.h>
#include <tlhelp32.h>

#include "platform/codepage.h"
#include "platform/win32/kernel_handle.h"

namespace velmora::platform {
namespace {

constexpr std::uint32_t kNarrowCodePage = 936;

using win32::KernelHandle;

}  // namespace

std::uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

std::string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::u16string wide(path.begin(), path.end());
  return WideToMultiByte(wide, kNarrowCodePage);
}

bool TerminateProcessWithCode(std::uint32_t processId, std::uint32_t exitCode) {
  if (processId == 0) return TerminateProcess(GetCurrentProcess(), exitCode) != FALSE;
  KernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
  if (!process.valid()) return false;
  return TerminateProcess(process.get(), exitCode) != FALSE;
}

std::uint32_t FindProcessByName(const std::string& exeFileName, std::uint32_t excludedProcessId) {
  const std::u16string wanted = MultiByteToWide(exeFileName, kNarrowCodePage);
  KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == excludedProcessId && excludedProcessId != 0) continue;
    const auto* name = reinterpret_cast<const wchar_t*>(wanted.c_str());
    if (CompareStringOrdinal(entry.szExeFile, -1, name, -1, TRUE) == CSTR_EQUAL) return entry.th32ProcessID;
  }
  return 0;
}

}  // namespace velmora::platform
