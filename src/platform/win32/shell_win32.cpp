// Elevated start with ShellExecuteExW and the verb "runas".
#include <windows.h>
#include <shellapi.h>

#include "platform/shell.h"
#include "text/encoding.h"

namespace velmora::platform {

bool PlatformRunElevated(const std::string& file, const std::string& parameters) {
  const std::u16string wideFile = text::NarrowToWide(file, text::NarrowCodePage);
  const std::u16string wideParameters = text::NarrowToWide(parameters, text::NarrowCodePage);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_UNICODE;  // 0x4100: no process handle is asked for
  info.hwnd = nullptr;
  info.lpVerb = L"runas";
  info.lpFile = reinterpret_cast<const wchar_t*>(wideFile.c_str());
  info.lpParameters = reinterpret_cast<const wchar_t*>(wideParameters.c_str());
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOWDEFAULT;
  return ShellExecuteExW(&info) != FALSE;
}

}  // namespace velmora::platform
