#include "install/shared_work.h"

#include <atomic>
#include <optional>
#include <system_error>
#include <thread>

namespace velmora::install {

void ForEachItem(std::size_t count, bool share, const std::function<bool(std::size_t)>& work) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopped{false};
  auto take = [&] {
    for (;;) {
      const std::size_t i = next.fetch_add(1);
      if (i >= count || stopped.load()) return;
      if (!work(i)) stopped.store(true);
    }
  };
  std::optional<std::thread> helper;
  if (share && count >= kSharedWorkFrom && std::thread::hardware_concurrency() > 1) {
    try {
      helper.emplace(take);
    } catch (const std::system_error&) {
      // No second thread: the calling thread does all of it.
    }
  }
  take();
  if (helper) helper->join();
}

}  // namespace velmora::install
