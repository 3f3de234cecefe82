#include "state/process_control.h"

#include <atomic>

#include "platform/processes.h"

namespace velmora::state {
namespace {

std::atomic<TerminateFunction> replacement{nullptr};

}  // namespace

bool TerminateProcessById(std::uint32_t processId, std::uint32_t exitCode) {
  if (const TerminateFunction terminate = replacement.load(std::memory_order_acquire)) {
    return terminate(processId, exitCode);
  }
  return platform::TerminateProcessWithCode(processId, exitCode);
}

void ReplaceProcessTermination(TerminateFunction terminate) {
  replacement.store(terminate, std::memory_order_release);
}

}  // namespace velmora::state
