// The handlers of the update window's events. All run on the window's thread.
#pragma once

#include "platform/handles.h"
#include "platform/window.h"

namespace velmora::app {

// Window created: starts the update check (update::UpdateCheck) on a new thread and keeps its
// handle in State().checkThread.
void OnWindowCreated(platform::WindowHandle window);

// Window about to be destroyed: force-terminates every started worker thread of the TaskList and
// then the update-check thread (also when the TaskList is empty, so that a check still running
// never outlives its window).
void StopThreads();

// The handlers above, plus the button's and the timer's (which the downloads take over), as the
// window's events.
platform::WindowEvents UpdateWindowEvents();

}  // namespace velmora::app
