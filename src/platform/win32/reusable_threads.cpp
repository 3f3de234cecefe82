#include "platform/win32/reusable_threads.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace velmora::platform::win32 {
namespace {

constexpr auto kIdleLifetime = std::chrono::seconds(10);

struct Pool {
  std::mutex mutex;
  std::condition_variable jobArrived;
  std::deque<std::shared_ptr<ReusableJob>> jobs;  // handed over, not yet taken by an idle thread
  int idle = 0;                                   // threads waiting for a job
};

// Never destroyed: kept threads may still wait on it while the process ends.
Pool& ThePool() {
  static Pool* pool = new Pool;
  return *pool;
}

struct KeptThread {
  HANDLE self = nullptr;  // its own handle, open for the life of the process (jobs refer to it)
  std::shared_ptr<ReusableJob> job;
};

void RunJob(HANDLE self, ReusableJob& job) {
  job.runner.store(self);
  job.routine();
  job.returned.store(true);
  if (job.done != nullptr) SetEvent(job.done);
}

DWORD WINAPI KeptThreadLoop(LPVOID parameter) {
  std::unique_ptr<KeptThread> kept(static_cast<KeptThread*>(parameter));
  Pool& pool = ThePool();
  std::shared_ptr<ReusableJob> job = std::move(kept->job);
  for (;;) {
    RunJob(kept->self, *job);
    job.reset();
    std::unique_lock lock(pool.mutex);
    ++pool.idle;
    const bool got = pool.jobArrived.wait_for(lock, kIdleLifetime, [&] { return !pool.jobs.empty(); });
    --pool.idle;
    if (!got) return 0;
    job = std::move(pool.jobs.front());
    pool.jobs.pop_front();
  }
}

}  // namespace

bool RunOnReusableThread(std::shared_ptr<ReusableJob> job) {
  Pool& pool = ThePool();
  {
    std::lock_guard lock(pool.mutex);
    // More idle threads than jobs waiting: one of them takes it.
    if (pool.idle > static_cast<int>(pool.jobs.size())) {
      pool.jobs.push_back(std::move(job));
      pool.jobArrived.notify_one();
      return true;
    }
  }
  auto kept = std::make_unique<KeptThread>();
  kept->job = std::move(job);
  HANDLE thread = CreateThread(nullptr,           // lpThreadAttributes
                               0,                 // dwStackSize: the executable's default
                               KeptThreadLoop,    // lpStartAddress
                               kept.get(),        // lpParameter: owned by the thread once it runs
                               CREATE_SUSPENDED,  // dwCreationFlags: runs once it knows its handle
                               nullptr);          // lpThreadId
  if (thread == nullptr) return false;
  kept->self = thread;
  kept.release();
  ResumeThread(thread);
  return true;
}

bool RunOnReusableThread(std::function<void()> routine) {
  auto job = std::make_shared<ReusableJob>();
  job->routine = std::move(routine);
  return RunOnReusableThread(std::move(job));
}

bool EndJob(ReusableJob& job) {
  if (job.returned.load()) return false;
  HANDLE runner = job.runner.load();
  if (runner == nullptr) return false;  // not taken by a thread yet: nothing runs it
  // Held still while it is looked at: a runner caught after its routine returned is let go.
  if (SuspendThread(runner) == static_cast<DWORD>(-1)) return false;
  if (job.returned.load()) {
    ResumeThread(runner);
    return false;
  }
  const bool ended = TerminateThread(runner, static_cast<DWORD>(-1)) != FALSE;
  if (job.done != nullptr) SetEvent(job.done);
  return ended;
}

}  // namespace velmora::platform::win32
