// The POSIX layer has no window: the update window's operations are dropped, as they are on
// Windows while no window exists.
#include "platform/update_window.h"

namespace velmora::platform {
namespace {

class NoWindow final : public UpdateWindow {
 public:
  void InsertRow(int, const std::string&) override {}
  void SetCellText(int, int, const std::string&) override {}
  void MakeProgressCell(int, int, const ProgressCellSpec&) override {}
  void SetProgressValue(int, int, std::int32_t) override {}
  void EnableButton(bool) override {}
  void SetButtonCaption(const std::string&) override {}
  void SetTimerInterval(std::uint32_t) override {}
};

}  // namespace

UpdateWindow& PlatformUpdateWindow() {
  static NoWindow window;
  return window;
}

}  // namespace velmora::platform
