// Locked-file questions answered by the kernel: GetFileAttributesW (FindFirstFileW for a path with
// wildcards), an exclusive CreateFileW, a Toolhelp snapshot, GetProcessImageFileNameW,
// QueryDosDeviceW and TerminateProcess.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>

#include "platform/release_services.h"
#include "platform/win32/kernel_handle.h"
#include "platform/win32/file_api_path.h"
#include "text/encoding.h"

namespace velmora::platform {
namespace {

constexpr DWORD kImagePathCharacters = 260;
constexpr DWORD kLongestPathCharacters = 32768;  // what the extended form allows

const wchar_t* AsWide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

using win32::KernelHandle;

class Win32ReleaseServices final : public ReleaseServices {
 public:
  bool Find(const std::string& path, bool& isDirectory) override {
    const std::u16string wide = win32::FileApiPath(path);
    if (wide.empty()) return false;
    // Without wildcards, the attributes say the same as a search, for a fraction of its cost
    // under Wine (no directory handle to open, read and close).
    if (wide.find_first_of(u"*?") == std::u16string::npos) {
      const DWORD attributes = GetFileAttributesW(AsWide(wide));
      if (attributes == INVALID_FILE_ATTRIBUTES) return false;
      isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      return true;
    }
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(AsWide(wide), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
  }

  bool OpensExclusively(const std::string& path) override {
    const std::u16string wide = win32::FileApiPath(path);
    if (wide.empty()) return false;
    // Windows refuses to open a read-only file for writing; Wine run by root would open it, so
    // the attribute is read too.
    const DWORD attributes = GetFileAttributesW(AsWide(wide));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
    const KernelHandle file(CreateFileW(AsWide(wide),
                                        GENERIC_WRITE,
                                        0,        // dwShareMode: nobody else may have it open
                                        nullptr,  // lpSecurityAttributes
                                        OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL,
                                        nullptr));  // hTemplateFile
    return file.valid();
  }

  std::optional<std::vector<ProcessEntry>> Processes() override {
    const KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return std::nullopt;
    std::vector<ProcessEntry> processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
      ProcessEntry process;
      process.processId = entry.th32ProcessID;
      const std::wstring name(entry.szExeFile);
      process.exeFile.assign(name.begin(), name.end());
      processes.push_back(std::move(process));
    }
    return processes;
  }

  std::u16string ImageFileName(std::uint32_t processId) override {
    const KernelHandle opened(processId != 0 ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId)
                                             : nullptr);
    if (processId != 0 && !opened.valid()) return {};
    const HANDLE process = processId != 0 ? opened.get() : GetCurrentProcess();
    // A product installed deeper than MAX_PATH has a longer image path: the buffer grows until
    // the path fits (a path that filled it may have been cut), up to the longest path Windows has.
    for (DWORD capacity = kImagePathCharacters;; capacity = std::min(capacity * 4, kLongestPathCharacters)) {
      std::wstring image(capacity, L'\0');
      const DWORD length = GetProcessImageFileNameW(process, image.data(), capacity);
      if (length == 0 && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
      if (length != 0 && length < capacity - 1) return std::u16string(image.begin(), image.begin() + length);
      if (capacity == kLongestPathCharacters) return {};
    }
  }

  std::u16string DosDevice(char16_t letter) override {
    const wchar_t drive[3] = {static_cast<wchar_t>(letter), L':', L'\0'};
    wchar_t device[kImagePathCharacters] = {};
    if (QueryDosDeviceW(drive, device, kImagePathCharacters) == 0) return {};
    const std::wstring name(device);  // the first of the names returned
    return std::u16string(name.begin(), name.end());
  }

  void Terminate(std::uint32_t processId) override {
    const KernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    if (process.valid()) TerminateProcess(process.get(), 0);
  }

  std::uint32_t OwnProcessId() override { return GetCurrentProcessId(); }

  void SleepMs(std::uint32_t milliseconds) override { Sleep(milliseconds); }
};

}  // namespace

ReleaseServices& PlatformReleaseServices() {
  static Win32ReleaseServices services;
  return services;
}

}  // namespace velmora::platform
