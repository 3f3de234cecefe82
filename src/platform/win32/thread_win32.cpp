// The program's threads, as jobs on kept threads; their handles stay valid for the life of the
// process.
#include "platform/thread.h"

#include <windows.h>

#include <memory>

#include "platform/win32/reusable_threads.h"

namespace velmora::platform {
namespace {

// A thread handle of the program names a job on a kept thread (win32/reusable_threads.h): starting
// a thread per grid row would cost about 3 ms under Wine each, more than a small file's transfer.
// The record stays allocated, and its event open, for the life of the process, as a thread handle
// would.
struct JobRecord {
  std::shared_ptr<win32::ReusableJob> job;
};

JobRecord* AsRecord(ThreadHandle thread) { return reinterpret_cast<JobRecord*>(thread); }

HANDLE DoneEvent(ThreadHandle thread) { return AsRecord(thread)->job->done; }

}  // namespace

ThreadHandle StartThread(std::function<void()> routine) {
  auto job = std::make_shared<win32::ReusableJob>();
  job->routine = std::move(routine);
  job->done = CreateEventW(nullptr,   // lpEventAttributes
                           TRUE,      // bManualReset: stays set for every waiter
                           FALSE,     // bInitialState
                           nullptr);  // lpName
  if (job->done == nullptr) return 0;
  auto record = std::make_unique<JobRecord>();
  record->job = job;
  if (!win32::RunOnReusableThread(job)) {
    CloseHandle(job->done);
    return 0;
  }
  return reinterpret_cast<ThreadHandle>(record.release());
}

bool ForceTerminateThread(ThreadHandle thread) {
  if (thread == 0) return false;
  return win32::EndJob(*AsRecord(thread)->job);
}

bool IsThreadRunning(ThreadHandle thread) {
  return thread != 0 && WaitForSingleObject(DoneEvent(thread), 0) == WAIT_TIMEOUT;
}

bool WaitForThread(ThreadHandle thread, std::uint32_t timeoutMs) {
  return thread != 0 && WaitForSingleObject(DoneEvent(thread), timeoutMs) == WAIT_OBJECT_0;
}

void ProcessPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void WaitProcessingMessages(std::uint64_t milliseconds) {
  HANDLE timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
  if (timer == nullptr) {
    Sleep(static_cast<DWORD>(milliseconds));
    return;
  }
  LARGE_INTEGER due{};
  due.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;  // relative, in 100 ns units
  SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
  while (MsgWaitForMultipleObjects(1, &timer, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
    ProcessPendingMessages();
  }
  CloseHandle(timer);
}

}  // namespace velmora::platform
