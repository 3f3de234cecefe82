#include "release_digests.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/file.h"
#include "platform/hash.h"
#include "update/fingerprint.h"

namespace velmora::release {
namespace {

constexpr std::size_t kPieceSize = 128 << 10;

FileDigests DigestOf(const std::string& path, bool withSha256, char* buffer, std::atomic<std::uint64_t>& bytesRead) {
  FileDigests result;
  platform::InputFile file;
  if (!file.Open(path)) {
    result.md5 = update::Md5Hex({});  // as the updater sees a missing file
    return result;
  }
  result.state = update::FileReadState::ReadFailed;
  platform::HashComputation md5(update::kCalgMd5);
  std::optional<platform::HashComputation> sha256;
  if (withSha256) sha256.emplace(update::kCalgSha256);
  for (;;) {
    const std::int64_t got = file.Read(buffer, kPieceSize);
    if (got < 0) return result;
    if (got == 0) break;
    const std::string_view piece(buffer, static_cast<std::size_t>(got));
    if (!md5.Add(piece) || (sha256 && !sha256->Add(piece))) return result;
    result.bytesRead += static_cast<std::uint64_t>(got);
    bytesRead.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
  }
  result.md5 = update::Md5HexOfDigest(md5.Finish(update::kMd5DigestLength));
  if (sha256) result.sha256 = update::LowerHexOfDigest(sha256->Finish(update::kSha256DigestLength));
  const bool complete = !result.md5.empty() && (!withSha256 || result.sha256.size() == 2 * update::kSha256DigestLength);
  if (complete) {
    result.state = update::FileReadState::Read;
  } else {
    result.md5.clear();
    result.sha256.clear();
  }
  return result;
}

}  // namespace

bool Sha256Available() {
  static const bool available = [] {
    platform::HashComputation probe(update::kCalgSha256);
    return probe.Add("abc") && probe.Finish(update::kSha256DigestLength).size() == update::kSha256DigestLength;
  }();
  return available;
}

std::vector<FileDigests> DigestFiles(const std::vector<std::string>& paths, bool withSha256,
                                     const update::FingerprintOptions& options) {
  std::vector<FileDigests> results(paths.size());
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<std::uint64_t> bytesRead{0};
  std::mutex mutex;
  std::condition_variable finished;
  const auto work = [&] {
    const auto buffer = std::make_unique<char[]>(kPieceSize);
    for (;;) {
      const std::size_t index = next.fetch_add(1, std::memory_order_relaxed);
      if (index >= paths.size()) return;
      results[index] = DigestOf(paths[index], withSha256, buffer.get(), bytesRead);
      if (done.fetch_add(1, std::memory_order_acq_rel) + 1 == paths.size()) {
        const std::lock_guard<std::mutex> lock(mutex);
        finished.notify_all();
      }
    }
  };
  const auto progress = [&] {
    return update::FingerprintProgress{done.load(std::memory_order_acquire), paths.size(),
                                       bytesRead.load(std::memory_order_relaxed)};
  };

  const bool reporting = static_cast<bool>(options.progress);
  const std::size_t threadCount = std::min<std::size_t>(update::FingerprintThreadCount(), paths.size());
  // Without progress to report the calling thread hashes too.
  const std::size_t started = reporting ? threadCount : (threadCount > 0 ? threadCount - 1 : 0);
  std::vector<std::thread> threads;
  threads.reserve(started);
  for (std::size_t i = 0; i < started; ++i) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the threads that did start, and the caller, share the files
    }
  }
  if (reporting && !threads.empty()) {
    const auto interval = std::chrono::milliseconds(std::max<std::uint32_t>(options.progressIntervalMs, 1));
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, interval, [&] { return done.load(std::memory_order_acquire) == paths.size(); })) {
      lock.unlock();
      options.progress(progress());
      lock.lock();
    }
  } else {
    work();
  }
  for (std::thread& thread : threads) thread.join();
  if (reporting) options.progress(progress());
  return results;
}

}  // namespace velmora::release
