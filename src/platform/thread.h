// Threads whose handles the program keeps, and their forced termination.
//
// The window-destroy handling kills the update-check thread and the download workers without any
// co-operation from them. That is only safe because those threads never hold a lock that the
// window's thread needs: they reach the window by posting (see platform/update_window.h).
#pragma once

#include <cstdint>
#include <functional>

#include "platform/handles.h"

namespace velmora::platform {

// Runs `routine` on a thread of its own: a new one, or on Windows a kept thread that has finished
// an earlier routine (platform/win32/reusable_threads.h). Returns a handle of the routine's run,
// 0 when no thread could be had (the routine then never runs); waiting, testing and ending act on
// that run. The handle stays valid until the process ends; nobody closes it. Thread-safe.
ThreadHandle StartThread(std::function<void()> routine);

// Ends the routine's thread at once (TerminateThread with exit code -1 on Windows, only while the
// thread is still inside the routine). A 0 handle or a routine that has already returned is
// harmless. Returns false when nothing was terminated. The POSIX layer
// cannot kill a single thread and always returns false. Thread-safe.
bool ForceTerminateThread(ThreadHandle thread);

// True while the thread runs (tests and the window-destroy handling). 0 gives false.
bool IsThreadRunning(ThreadHandle thread);

// Waits up to `timeoutMs` milliseconds for the thread to end; true when it has ended.
bool WaitForThread(ThreadHandle thread, std::uint32_t timeoutMs);

// Dispatches the window messages waiting in the calling thread's queue and returns without
// waiting for more (a PeekMessage loop on Windows; nothing to do in the POSIX layer).
void ProcessPendingMessages();

// Waits `milliseconds` while the calling thread goes on processing its window messages, so that a
// window of this thread stays responsive (a waitable timer and MsgWaitForMultipleObjects on
// Windows; a plain sleep in the POSIX layer).
void WaitProcessingMessages(std::uint64_t milliseconds);

}  // namespace velmora::platform
