#include "download/unattended_run.h"

#include "download/scheduler.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "state/program_state.h"

namespace velmora::download {
namespace {

// How often the calling thread looks whether every row has ended: the commit follows the last
// row within this, not at the next tick.
constexpr std::uint32_t kEndPollMs = 10;
// How long the rows' starter may take to return once the run has ended.
constexpr std::uint32_t kStarterWaitMs = 2000;

bool EveryRowEnded(const state::ProgramState& state) {
  return state.counters.succeeded.load() + state.counters.failed.load() == state.entryCount;
}

}  // namespace

RunEnd RunUnattendedDownloads(WorkerRoutine worker) {
  state::ProgramState& state = state::State();
  ResetRunCounters();
  FreeLaunchTarget();
  const platform::ThreadHandle starter = platform::StartThread([worker] { StartRows(worker); });

  std::uint32_t lastTick = platform::TickCount();
  for (;;) {
    platform::WaitProcessingMessages(kEndPollMs);
    const bool tickDue = platform::TickCount() - lastTick >= kCompletionTickMs;
    if (!tickDue && !EveryRowEnded(state)) continue;
    if (tickDue) lastTick += kCompletionTickMs;
    if (const std::optional<RunEnd> end = CompletionTick()) {
      if (end->timedOut) StopThreads();
      // The program's state outlives every thread that uses it: the starter, then each worker,
      // which may still be returning from its row.
      if (starter != 0) platform::WaitForThread(starter, kStarterWaitMs);
      for (const state::TaskRecord& record : state.taskList) {
        if (record.workerThread != 0) platform::WaitForThread(record.workerThread, kStarterWaitMs);
      }
      return *end;
    }
  }
}

}  // namespace velmora::download
