// The handlers of the update window's events, wiring the subsystems to the window. All run on the
// window's thread.
#pragma once

#include "platform/handles.h"
#include "platform/window.h"

namespace velmora::app {

// Window created: starts the update check (update::UpdateCheck) on a new thread and keeps its
// handle in State().checkThread.
void OnWindowCreated(platform::WindowHandle window);

// The window's events: created (above), the start button (download::StartDownloads), the timer
// (download::CheckCompletion) and the window about to be destroyed (download::StopThreads).
platform::WindowEvents UpdateWindowEvents();

}  // namespace velmora::app
