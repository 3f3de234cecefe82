#include "platform/task_dialog.h"

#include "platform/replaceable.h"

namespace velmora::platform {
namespace {

Replaceable<TaskDialogPresenter> service{PlatformTaskDialogPresenter};

}  // namespace

TaskDialogPresenter& CurrentTaskDialogPresenter() { return service.Current(); }

void ReplaceTaskDialogPresenter(TaskDialogPresenter* presenter) { service.Replace(presenter); }

}  // namespace velmora::platform
