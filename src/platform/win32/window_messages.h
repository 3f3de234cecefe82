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

// The window that receives the changes from now on (called on its thread when it has been
// created), or none (when it is being destroyed): changes are dropped while there is none.
void OpenUpdateWindowChanges(HWND window);
void CloseUpdateWindowChanges();

// The window's thread: applies every pending change to `target`; the number applied.
std::size_t ApplyUpdateWindowChanges(WindowChangeTarget& target);
// Whether insertions, button or timer changes wait: the window then applies at once what is
// pending, however soon after its last visit.
bool UpdateWindowOrderedChangesPending();

}  // namespace velmora::platform::win32
