// How other threads' changes reach the update window (see platform/pending_window_changes.h).
// Internal to the Win32 layer.
#pragma once

#include <windows.h>

#include <cstddef>

#include "platform/pending_window_changes.h"

namespace velmora::platform::win32 {

// Posted to the window when changes are waiting; at most two are in the queue at a time (one for
// cells, one more for insertions, button or timer changes).
constexpr UINT kApplyChangesMessage = WM_APP + 1;
// Everything pending is applied and drawn at once (sent by the window's own thread).
constexpr UINT kApplyChangesNowMessage = WM_APP + 2;

// The window that receives the changes from now on (called on its thread when it has been
// created), or none (when it is being destroyed): changes are dropped while there is none.
void OpenUpdateWindowChanges(HWND window);
void CloseUpdateWindowChanges();

// The window's thread: applies every pending change to `target`; the number applied.
std::size_t ApplyUpdateWindowChanges(WindowChangeTarget& target);
// Whether insertions, button or timer changes wait: the window then applies at once what is
// pending, however soon after its last visit.
bool UpdateWindowOrderedChangesPending();
// Called on the window's thread (elsewhere it does nothing): applies and draws what is pending
// now, however soon after the window's last visit. Before a notice opens, so that it never stands
// over a grid that has not caught up with the run's end.
void ApplyUpdateWindowChangesNowOnItsThread();

}  // namespace velmora::platform::win32
