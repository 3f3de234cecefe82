#include "window_watch.h"

#include <windows.h>

#include <set>
#include <vector>

#include "automation/json_output.h"
#include "automation/window_automation.h"
#include "platform/codepage.h"
#include "probe_answer.h"

namespace velmora::probe {
namespace {

bool FileExists(const std::string& utf8Path) {
  const std::u16string wide = platform::MultiByteToWide(utf8Path, CP_UTF8);
  return GetFileAttributesW(reinterpret_cast<const wchar_t*>(wide.c_str())) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int WatchWindows(const std::string& stopFile, const std::string titles[], int titleCount, std::uint32_t processId,
                 std::uint32_t limitMs) {
  using namespace platform::automation;
  std::set<platform::WindowHandle> known;
  std::vector<std::string> seen;
  long long looks = 0;
  const DWORD start = GetTickCount();
  for (;;) {
    for (int i = 0; i < titleCount; ++i) {
      for (const platform::WindowHandle window : FindTopWindows(titles[i], processId)) {
        if (!known.insert(window).second) continue;
        if (const auto info = DescribeWindow(window)) {
          seen.push_back(WindowJson(*info));
          // Said at once, so that a test can wait until a window it is about to close was seen.
          WriteAnswerLine(JsonObject().AddRaw("seen", seen.back()).Text());
        }
      }
    }
    if (++looks == 1) WriteAnswerLine(JsonObject().Add("watching", true).Text());
    if (FileExists(stopFile) || GetTickCount() - start >= limitMs) break;
    Sleep(20);
  }
  WriteAnswerLine(JsonObject().Add("ok", true).Add("looks", looks).AddRaw("windows", JsonArray(seen)).Text());
  return 0;
}

}  // namespace velmora::probe
