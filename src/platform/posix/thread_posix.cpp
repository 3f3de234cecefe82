// Threads on POSIX systems: std::thread, detached, with a small registry that maps the program's
// handles to each thread's state. A single thread cannot be killed here, so forced termination
// does nothing and reports false.
#include "platform/thread.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace velmora::platform {
namespace {

struct ThreadState {
  std::mutex mutex;
  std::condition_variable ended;
  bool running = true;
};

struct Registry {
  std::mutex mutex;
  ThreadHandle next = 1;
  std::map<ThreadHandle, std::shared_ptr<ThreadState>> threads;
};

Registry& Threads() {
  static Registry registry;
  return registry;
}

std::shared_ptr<ThreadState> Find(ThreadHandle thread) {
  Registry& registry = Threads();
  std::lock_guard lock(registry.mutex);
  const auto found = registry.threads.find(thread);
  return found == registry.threads.end() ? nullptr : found->second;
}

}  // namespace

ThreadHandle StartThread(std::function<void()> routine) {
  auto state = std::make_shared<ThreadState>();
  ThreadHandle handle = 0;
  {
    Registry& registry = Threads();
    std::lock_guard lock(registry.mutex);
    handle = registry.next++;
    registry.threads.emplace(handle, state);
  }
  try {
    std::thread([state, routine = std::move(routine)] {
      routine();
      {
        std::lock_guard lock(state->mutex);
        state->running = false;
        state->ended.notify_all();
      }
    }).detach();
  } catch (const std::system_error&) {
    Registry& registry = Threads();
    std::lock_guard lock(registry.mutex);
    registry.threads.erase(handle);
    return 0;
  }
  return handle;
}

bool ForceTerminateThread(ThreadHandle /*thread*/) { return false; }

bool IsThreadRunning(ThreadHandle thread) {
  const std::shared_ptr<ThreadState> state = Find(thread);
  if (!state) return false;
  std::lock_guard lock(state->mutex);
  return state->running;
}

bool WaitForThread(ThreadHandle thread, std::uint32_t timeoutMs) {
  const std::shared_ptr<ThreadState> state = Find(thread);
  if (!state) return false;
  std::unique_lock lock(state->mutex);
  return state->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !state->running; });
}

void ProcessPendingMessages() {}

void WaitProcessingMessages(std::uint64_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace velmora::platform
