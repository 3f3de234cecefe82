#include "update/file_fingerprints.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/file.h"
#include "platform/hash.h"
#include "update/fingerprint.h"

namespace velmora::update {
namespace {

// Bytes read are hashed while they are still in the core's cache: with 1 MiB pieces two threads
// scaled to 1.45 times one thread, with 128 KiB to 1.7-1.9 times (2 cores, 2,000 files).
constexpr std::size_t kPieceSize = 128 << 10;
constexpr unsigned kMostThreads = 16;

std::atomic<unsigned> replacedThreadCount{0};

// Md5HexOfFile, telling apart why a file gave the digest it gave, and counting its bytes into
// `bytesRead` as they are hashed.
FileFingerprint Fingerprint(const std::string& path, char* buffer, std::atomic<std::uint64_t>& bytesRead,
                            std::unique_ptr<delta::LocalFileChunks> chunks) {
  FileFingerprint result;
  platform::InputFile file;
  if (!file.Open(path)) {
    result.md5 = Md5Hex({});  // a missing file hashes like empty data
    result.notFound = file.NotFound();
    return result;
  }
  result.state = FileReadState::ReadFailed;
  platform::HashComputation hash(kCalgMd5);
  for (;;) {
    const std::int64_t got = file.Read(buffer, kPieceSize);
    if (got < 0) return result;
    if (got == 0) break;
    const std::string_view piece(buffer, static_cast<std::size_t>(got));
    if (!hash.Add(piece)) return result;
    if (chunks) chunks->Feed(piece);
    result.bytesRead += static_cast<std::uint64_t>(got);
    bytesRead.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
  }
  result.md5 = Md5HexOfDigest(hash.Finish(kMd5DigestLength));
  if (!result.md5.empty()) result.state = FileReadState::Read;
  if (chunks && result.state == FileReadState::Read) {
    chunks->Finish();
    result.chunks = std::move(chunks);
  }
  return result;
}

// What the hashing threads share: the list, the next file to take, the results and the counters.
class FingerprintRun {
 public:
  FingerprintRun(const std::vector<std::string>& paths, const FingerprintOptions& options)
      : paths_(paths), options_(options), results_(paths.size()) {}

  // Takes files until none is left. Runs on each hashing thread (and may run on the caller).
  void Work() {
    const auto buffer = std::make_unique<char[]>(kPieceSize);
    for (;;) {
      const std::size_t index = next_.fetch_add(1, std::memory_order_relaxed);
      if (index >= paths_.size()) return;
      std::unique_ptr<delta::LocalFileChunks> chunks;
      if (options_.cutIntoChunks && options_.cutIntoChunks(index)) {
        // Its list of chunks is sized from the file's length at once.
        const std::int64_t length = platform::FileLength(paths_[index]);
        chunks = std::make_unique<delta::LocalFileChunks>(static_cast<std::uint32_t>(index),
                                                          length > 0 ? static_cast<std::uint64_t>(length) : 0);
      }
      results_[index] = Fingerprint(paths_[index], buffer.get(), bytesRead_, std::move(chunks));
      if (done_.fetch_add(1, std::memory_order_acq_rel) + 1 == paths_.size()) {
        const std::lock_guard<std::mutex> lock(mutex_);
        finished_.notify_all();
      }
    }
  }

  // Waits until every file is done, reporting progress meanwhile.
  void WaitReporting(const FingerprintOptions& options) {
    const auto interval = std::chrono::milliseconds(std::max<std::uint32_t>(options.progressIntervalMs, 1));
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_.wait_for(lock, interval, [this] { return AllDone(); })) {
      lock.unlock();
      options.progress(Progress());
      lock.lock();
    }
  }

  FingerprintProgress Progress() const {
    return {done_.load(std::memory_order_acquire), paths_.size(), bytesRead_.load(std::memory_order_relaxed)};
  }

  std::vector<FileFingerprint> TakeResults() { return std::move(results_); }

 private:
  bool AllDone() const { return done_.load(std::memory_order_acquire) == paths_.size(); }

  const std::vector<std::string>& paths_;
  const FingerprintOptions& options_;
  std::vector<FileFingerprint> results_;  // each element written by the one thread that took it
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> done_{0};
  std::atomic<std::uint64_t> bytesRead_{0};
  std::mutex mutex_;
  std::condition_variable finished_;
};

}  // namespace

unsigned FingerprintThreadCount() {
  const unsigned replaced = replacedThreadCount.load(std::memory_order_relaxed);
  if (replaced != 0) return replaced;
  return std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
}

void ReplaceFingerprintThreadCount(unsigned threads) { replacedThreadCount.store(threads, std::memory_order_relaxed); }

std::vector<FileFingerprint> FingerprintFiles(const std::vector<std::string>& paths,
                                              const FingerprintOptions& options) {
  FingerprintRun run(paths, options);
  const bool reporting = static_cast<bool>(options.progress);
  const std::size_t threadCount = std::min<std::size_t>(FingerprintThreadCount(), paths.size());
  // Without progress to report the calling thread hashes too, so one thread fewer is started.
  const std::size_t started = reporting ? threadCount : (threadCount > 0 ? threadCount - 1 : 0);

  std::vector<std::thread> threads;
  threads.reserve(started);
  for (std::size_t i = 0; i < started; ++i) {
    try {
      threads.emplace_back([&run] { run.Work(); });
    } catch (const std::system_error&) {
      break;  // the threads that did start, and the caller, share the files
    }
  }
  if (reporting && !threads.empty()) {
    run.WaitReporting(options);
  } else {
    run.Work();
  }
  for (std::thread& thread : threads) thread.join();
  if (reporting) options.progress(run.Progress());
  return run.TakeResults();
}

}  // namespace velmora::update
