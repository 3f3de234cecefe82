// Threads that are kept for the next job once they have done one.
//
// Starting a thread costs about 3 ms under Wine (a new stack, its thread block and their first page
// faults), more than the whole transfer of a small file over loopback. A release of many small
// files starts a worker per row and a request thread per file (see streamed_request_win32.cpp), one
// after another, so both take their threads from here: a thread that has finished a job waits for
// the next one instead of ending.
//
// A job that never returns (a WinINet call that waits for ever under Wine) keeps its thread; the
// next job gets another one. Idle threads end after a while, so a program that stops starting jobs
// is left without them. Thread-safe.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

namespace velmora::platform::win32 {

// One job: what it runs and how it can be followed and ended.
struct ReusableJob {
  std::function<void()> routine;  // must not throw
  // A manual-reset event, set once the routine has returned or has been ended (EndJob); null when
  // nobody waits for the job.
  HANDLE done = nullptr;
  // The kept thread that runs the routine (its handle stays open while the process runs); null
  // until a thread has taken the job.
  std::atomic<HANDLE> runner{nullptr};
  // Set by the runner as soon as the routine has returned, before it looks for the next job.
  std::atomic<bool> returned{false};
};

// Runs `job` on an idle kept thread, or on a new one when none is idle. False when no thread could
// be started (the job then never runs).
bool RunOnReusableThread(std::shared_ptr<ReusableJob> job);
bool RunOnReusableThread(std::function<void()> routine);

// Ends a job that has not returned by ending its thread (TerminateThread with exit code -1), and
// sets its `done` event. A thread is only ever ended inside the job's routine, never while it
// hands itself back to the pool (which takes a lock). False when the job had already returned.
bool EndJob(ReusableJob& job);

}  // namespace velmora::platform::win32
