// The POSIX layer has no task dialogs: nothing is shown and the result is -1.
#include "platform/task_dialog.h"

namespace velmora::platform {
namespace {

class NoDialogs final : public TaskDialogPresenter {
 public:
  TaskDialogResult Show(const TaskDialogRequest&) override { return {}; }
};

}  // namespace

TaskDialogPresenter& PlatformTaskDialogPresenter() {
  static NoDialogs presenter;
  return presenter;
}

}  // namespace velmora::platform
