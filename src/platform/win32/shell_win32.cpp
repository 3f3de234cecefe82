// Elevated start with ShellExecuteExW and the verb "runas".
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/shell.h"
#include "platform/win32/file_api_path.h"
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

}  // namespace

bool PlatformRunElevated(const std::string& file, const std::string& parameters) {
  const std::u16string wideFile = ShellPath(file);
  const std::u16string wideParameters = text::NarrowToWide(parameters, text::NarrowCodePage);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // No process handle is asked for; a failure is reported to the caller, never in a message box
  // that would keep the updater waiting for a click.
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_UNICODE | SEE_MASK_FLAG_NO_UI;
  info.hwnd = nullptr;
  info.lpVerb = L"runas";
  info.lpFile = reinterpret_cast<const wchar_t*>(wideFile.c_str());
  info.lpParameters = reinterpret_cast<const wchar_t*>(wideParameters.c_str());
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOWDEFAULT;
  return ShellExecuteExW(&info) != FALSE;
}

}  // namespace velmora::platform
