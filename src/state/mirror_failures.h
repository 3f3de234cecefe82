// How often each of the manifest's mirrors failed in this run, shared by every row's worker.
// Counters only, changed atomically: a worker killed at any point leaves nothing held.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora::state {

class MirrorFailures {
 public:
  explicit MirrorFailures(std::size_t mirrors)
      : counts_(std::make_unique<std::atomic<std::int32_t>[]>(mirrors)), size_(mirrors) {}

  // The failures of `mirror` so far; 0 for a position past the list. Thread-safe.
  std::int32_t Of(std::size_t mirror) const {
    return mirror < size_ ? counts_[mirror].load(std::memory_order_acquire) : 0;
  }
  // Counts one more failure of `mirror` (a position past the list is ignored). Thread-safe.
  void Add(std::size_t mirror) {
    if (mirror < size_) counts_[mirror].fetch_add(1, std::memory_order_acq_rel);
  }

 private:
  std::unique_ptr<std::atomic<std::int32_t>[]> counts_;
  std::size_t size_;
};

}  // namespace velmora::state
