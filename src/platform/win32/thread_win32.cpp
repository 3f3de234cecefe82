// Threads with CreateThread; their handles stay open for the life of the process.
#include "platform/thread.h"

#include <windows.h>

#include <memory>

namespace velmora::platform {
namespace {

DWORD WINAPI RunRoutine(LPVOID parameter) {
  std::unique_ptr<std::function<void()>> routine(static_cast<std::function<void()>*>(parameter));
  (*routine)();
  return 0;
}

HANDLE AsHandle(ThreadHandle thread) { return reinterpret_cast<HANDLE>(thread); }

}  // namespace

ThreadHandle StartThread(std::function<void()> routine) {
  auto owned = std::make_unique<std::function<void()>>(std::move(routine));
  HANDLE thread = CreateThread(nullptr,       // lpThreadAttributes
                               0,             // dwStackSize: the executable's default
                               RunRoutine,    // lpStartAddress
                               owned.get(),   // lpParameter: the routine, owned by the thread
                               0,             // dwCreationFlags: runs at once
                               nullptr);      // lpThreadId
  if (thread == nullptr) return 0;
  owned.release();
  return reinterpret_cast<ThreadHandle>(thread);
}

bool ForceTerminateThread(ThreadHandle thread) {
  if (thread == 0) return false;
  return TerminateThread(AsHandle(thread), static_cast<DWORD>(-1)) != FALSE;
}

bool IsThreadRunning(ThreadHandle thread) {
  return thread != 0 && WaitForSingleObject(AsHandle(thread), 0) == WAIT_TIMEOUT;
}

bool WaitForThread(ThreadHandle thread, std::uint32_t timeoutMs) {
  return thread != 0 && WaitForSingleObject(AsHandle(thread), timeoutMs) == WAIT_OBJECT_0;
}

void ProcessPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

bool WaitForAnyThreadProcessingMessages(const std::vector<ThreadHandle>& threads, std::uint32_t timeoutMs) {
  std::vector<HANDLE> handles;
  for (ThreadHandle thread : threads) {
    // MsgWaitForMultipleObjects takes at most MAXIMUM_WAIT_OBJECTS - 1 handles.
    if (thread != 0 && handles.size() < MAXIMUM_WAIT_OBJECTS - 1) handles.push_back(AsHandle(thread));
  }
  const DWORD count = static_cast<DWORD>(handles.size());
  const DWORD woken = MsgWaitForMultipleObjects(count, count == 0 ? nullptr : handles.data(), FALSE, timeoutMs, QS_ALLINPUT);
  if (woken < WAIT_OBJECT_0 + count) return true;
  if (woken == WAIT_OBJECT_0 + count) ProcessPendingMessages();
  return false;
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
