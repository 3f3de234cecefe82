#include "platform/task_dialog.h"

#include <atomic>

namespace velmora::platform {
namespace {

std::atomic<TaskDialogPresenter*> replacement{nullptr};

}  // namespace

TaskDialogPresenter& CurrentTaskDialogPresenter() {
  TaskDialogPresenter* presenter = replacement.load(std::memory_order_acquire);
  return presenter != nullptr ? *presenter : PlatformTaskDialogPresenter();
}

void ReplaceTaskDialogPresenter(TaskDialogPresenter* presenter) {
  replacement.store(presenter, std::memory_order_release);
}

}  // namespace velmora::platform
