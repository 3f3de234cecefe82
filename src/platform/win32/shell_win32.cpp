// Elevated start with ShellExecuteExW and the verb "runas".
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/shell.h"
#include "platform/win32/file_api_path.h"
#include "platform/win32/kernel_handle.h"
#include "text/encoding.h"

namespace velmora::platform {
namespace {

// The shell takes no path of MAX_PATH characters or more: a longer one (a product installed deep
// below Program Files) is given in its short 8.3 form, which Windows keeps on most volumes. Where
// the volume has none the path is given as it is, the start fails, and the caller logs it.
std::u16string ShellPath(const std::string& file) {
  const std::u16string wide = text::NarrowToWide(file, text::NarrowCodePage);
  if (wide.size() < MAX_PATH) return wide;
  const std::u16string extended = win32::FileApiPath(file);
  const auto* asked = reinterpret_cast<const wchar_t*>(extended.c_str());
  const DWORD needed = GetShortPathNameW(asked, nullptr, 0);
  if (needed == 0) return wide;
  std::wstring shortPath(needed, L'\0');
  const DWORD length = GetShortPathNameW(asked, shortPath.data(), needed);
  if (length == 0 || length >= needed) return wide;
  std::u16string result(shortPath.begin(), shortPath.begin() + length);
  // Back from the extended form: "\\?\C:\..." to "C:\...", "\\?\UNC\server\..." to "\\server\...".
  if (result.rfind(u"\\\\?\\UNC\\", 0) == 0) return u"\\\\" + result.substr(8);
  if (result.rfind(u"\\\\?\\", 0) == 0) return result.substr(4);
  return result;
}

// Starts `file` with "runas"; `extraMask` adds SEE_MASK_NOCLOSEPROCESS when the process is kept.
bool ShellStart(const std::string& file, const std::string& parameters, ULONG extraMask, HANDLE& process) {
  const std::u16string wideFile = ShellPath(file);
  const std::u16string wideParameters = text::NarrowToWide(parameters, text::NarrowCodePage);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // A failure is reported to the caller, never in a message box that would keep the updater
  // waiting for a click.
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_UNICODE | SEE_MASK_FLAG_NO_UI | extraMask;
  info.hwnd = nullptr;
  info.lpVerb = L"runas";
  info.lpFile = reinterpret_cast<const wchar_t*>(wideFile.c_str());
  info.lpParameters = reinterpret_cast<const wchar_t*>(wideParameters.c_str());
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOWDEFAULT;
  const bool started = ShellExecuteExW(&info) != FALSE;
  process = started ? info.hProcess : nullptr;
  return started;
}

class ShellProcess final : public StartedProcess {
 public:
  explicit ShellProcess(HANDLE process) : process_(process) {}
  std::optional<std::uint32_t> ExitStatus() override {
    if (WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (GetExitCodeProcess(process_.get(), &code) == FALSE) return std::nullopt;
    return static_cast<std::uint32_t>(code);
  }

 private:
  win32::KernelHandle process_;
};

}  // namespace

bool PlatformRunElevated(const std::string& file, const std::string& parameters) {
  HANDLE process = nullptr;  // not asked for: stays null
  return ShellStart(file, parameters, 0, process);
}

bool PlatformRunElevatedWatched(const std::string& file, const std::string& parameters,
                                std::unique_ptr<StartedProcess>& process) {
  HANDLE handle = nullptr;
  process.reset();
  if (!ShellStart(file, parameters, SEE_MASK_NOCLOSEPROCESS, handle)) return false;
  if (handle != nullptr) process = std::make_unique<ShellProcess>(handle);
  return true;
}

}  // namespace velmora::platform
