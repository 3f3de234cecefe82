// The system's task scheduler: registering a task from its XML definition, removing it, asking
// whether it exists.
//
// Windows: the Task Scheduler 2.0 COM interfaces (ITaskService, the root ITaskFolder,
// RegisterTask with TASK_CREATE_OR_UPDATE as the local system's service account, DeleteTask,
// GetTask). The POSIX layer has no scheduler: every call reports that it is not supported.
#pragma once

#include <string>

namespace velmora::platform {

// Registers (or replaces) the task `name` with the definition `xml` (UTF-16 task XML). False with
// `error` set when that failed; needs an administrator.
bool RegisterScheduledTask(const std::u16string& name, const std::u16string& xml, std::string& error);

// Removes the task `name`. True when no such task is left (also when there was none).
bool DeleteScheduledTask(const std::u16string& name, std::string& error);

// The task `name` is registered.
bool ScheduledTaskExists(const std::u16string& name);

}  // namespace velmora::platform
