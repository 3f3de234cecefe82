#include "app/single_instance.h"

#include "text/encoding.h"
#include "update/fingerprint.h"

namespace velmora::app {
namespace {

// Position of the last "\" or "/" in GBK text, or npos. A GBK lead byte (0x81-0xFE) takes the
// next byte with it, which may be 0x5C: "\xD7\x5C" is one character, not a separator.
std::size_t LastSeparator(const std::string& path) {
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (byte >= 0x81 && byte <= 0xFE && i + 1 < path.size()) {
      ++i;
    } else if (byte == '\\' || byte == '/') {
      last = i;
    }
  }
  return last;
}

std::string LowerAsciiLetters(const std::string& gbk) {
  std::u16string wide = text::NarrowToWide(gbk, text::NarrowCodePage);
  for (char16_t& unit : wide) {
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
  }
  return text::WideToNarrow(wide, text::NarrowCodePage);
}

}  // namespace

std::string DefaultEventName() { return update::Md5Hex(text::Utf8ToNarrow("你懒得输入，我就写死，略略")); }

std::string EventObjectName(const std::string& eventName) {
  if (eventName.find('\\') == std::string::npos) return eventName;
  return "VelmoraUpdate-" + update::Md5Hex(LowerAsciiLetters(eventName));
}

std::string FileNameOf(const std::string& path) {
  const std::size_t separator = LastSeparator(path);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = LastSeparator(path);
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

void SingleInstanceGuard(std::string& eventName, const GuardOptions& options, platform::InstanceServices& system) {
  if (eventName.empty()) eventName = DefaultEventName();
  const std::string objectName = EventObjectName(eventName);

  if (!system.NamedEventExists(objectName)) {
    // Looking for the event and creating it are two steps; if creation fails the copy runs
    // unguarded, which is better than not running at all.
    system.CreateNamedEvent(objectName);
    return;
  }

  if (options.beforeExit) options.beforeExit();
  if (options.showNotice) {
    const std::string text = options.noticeText.empty() ? text::Utf8ToNarrow("对不起,该进程已打开!") : options.noticeText;
    system.ShowMessageBox(text, text::Utf8ToNarrow("友情提醒:"), options.noticeStyle);
  }
  if (options.activateExisting) {
    // The own process has the same file name; skipping it keeps the search from ending on this
    // copy, which has no window yet.
    const std::uint32_t processId =
        system.FindProcessByName(FileNameOf(system.ExecutablePath()), system.CurrentProcessId());
    if (processId != 0) {
      const platform::WindowHandle window = system.FindTopWindowOfProcess(processId, kActivationSearchMs, true);
      if (window != 0) {
        if (!system.IsWindowVisible(window)) system.ShowWindowInPlace(window);
        if (system.IsMinimised(window)) system.RestoreWindow(window);
        system.ActivateWindow(window);
      }
    }
  }
  system.EndProcess(options.exitCode);
}

}  // namespace velmora::app
