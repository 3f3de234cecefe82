#include "state/process_control.h"

#include <atomic>

#include "platform/processes.h"

namespace velmora::state {
namespace {

std::atomic<TerminateFunction> replacement{nullptr};

}  // namespace

bool TerminateProcessById(std::uint32_t processId) {
  if (const TerminateFunction terminate = replacement.load(std::memory_order_acquire)) return terminate(processId);
  return platform::TerminateProcessWithCode(processId, 0);
}

void ReplaceProcessTermination(TerminateFunction terminate) {
  replacement.store(terminate, std::memory_order_release);
}

}  // namespace velmora::state
