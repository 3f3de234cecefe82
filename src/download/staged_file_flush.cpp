#include "download/staged_file_flush.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "platform/file.h"
#include "platform/thread.h"

namespace velmora::download {
namespace {

// How long the flusher waits for another file before its thread goes back to the pool.
constexpr auto kIdleEnd = std::chrono::seconds(1);

// A staged file to flush: its path, and the file itself when it is still open.
struct QueuedFile {
  std::string path;
  std::unique_ptr<platform::OutputFile> open;
};

// Flushes the file, through its open handle when it has one (then closed); true when it reached
// the disk.
bool FlushQueuedFile(QueuedFile& file) {
  if (!file.open) return platform::FlushFile(file.path);
  const bool flushed = file.open->Flush();
  file.open->Close();
  return flushed;
}

struct Flusher {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<QueuedFile> queue;  // queued, not taken yet
  std::size_t inFlight = 0;       // taken by the flusher, not flushed yet
  std::vector<std::string> failed;
  bool running = false;  // a flusher job runs
  bool idle = false;     // it waits for work
};

// Never destroyed: a flusher may still run while the process ends.
Flusher& TheFlusher() {
  static Flusher* flusher = new Flusher;
  return *flusher;
}

// Counts one flush done; wakes those waiting for the queue to empty. Called under the lock.
void Done(Flusher& flusher, std::string&& path, bool flushed) {
  --flusher.inFlight;
  if (!flushed) flusher.failed.push_back(std::move(path));
  if (flusher.queue.empty() && flusher.inFlight == 0) flusher.changed.notify_all();
}

void FlushQueued() {
  Flusher& flusher = TheFlusher();
  std::unique_lock<std::mutex> lock(flusher.mutex);
  for (;;) {
    if (flusher.queue.empty()) {
      flusher.idle = true;
      const bool more = flusher.changed.wait_for(lock, kIdleEnd, [&] { return !flusher.queue.empty(); });
      flusher.idle = false;
      if (!more) {
        flusher.running = false;
        return;
      }
    }
    QueuedFile file = std::move(flusher.queue.front());
    flusher.queue.pop_front();
    ++flusher.inFlight;
    lock.unlock();
    const bool flushed = FlushQueuedFile(file);
    lock.lock();
    Done(flusher, std::move(file.path), flushed);
  }
}

}  // namespace

void FlushInBackground(const std::string& staging, std::unique_ptr<platform::OutputFile> open) {
  QueuedFile file{staging, std::move(open)};
  Flusher& flusher = TheFlusher();
  std::unique_lock<std::mutex> lock(flusher.mutex);
  if (flusher.running) {
    flusher.queue.push_back(std::move(file));
    if (flusher.idle) flusher.changed.notify_all();
    return;
  }
  flusher.running = platform::StartThread(FlushQueued) != 0;
  if (flusher.running) {
    flusher.queue.push_back(std::move(file));
    return;
  }
  // No thread to be had: flushed on this one.
  ++flusher.inFlight;
  lock.unlock();
  const bool flushed = FlushQueuedFile(file);
  lock.lock();
  Done(flusher, std::move(file.path), flushed);
}

std::vector<std::string> WaitForFlushes() {
  Flusher& flusher = TheFlusher();
  std::unique_lock<std::mutex> lock(flusher.mutex);
  flusher.changed.wait(lock, [&] { return flusher.queue.empty() && flusher.inFlight == 0; });
  return std::exchange(flusher.failed, {});
}

}  // namespace velmora::download
