#include "app/client_stream.h"

#include <chrono>

#include "platform/thread.h"
#include "state/program_state.h"

namespace velmora::app {
namespace {

// Bounds the wait for the writer when the stream goes (it writes with the pipe's own bound).
constexpr std::uint32_t kWriterEndWaitMs = 35000;

}  // namespace

ClientStream::ClientStream(platform::PipeConnection& connection, void (*log)(const std::string& line))
    : connection_(connection), log_(log) {
  writer_ = platform::StartThread([this] { WriteLoop(); });
}

ClientStream::~ClientStream() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  // No writer thread (none could be had): what is pending is written here.
  if (writer_ == 0 || !platform::WaitForThread(writer_, kWriterEndWaitMs)) {
    std::lock_guard<std::mutex> lock(writing_);
    WritePending();
  }
}

void ClientStream::Send(const ServiceMessage& message) {
  bool full = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    AppendCountersIfChanged();
    Append(message);
    full = pending_.size() >= kSendBlockBytes;
  }
  if (full || writer_ == 0) wake_.notify_one();
  if (writer_ == 0) {
    std::lock_guard<std::mutex> lock(writing_);
    WritePending();
  }
}

void ClientStream::Finish(std::int32_t exitCode, std::int32_t failedRows, bool timedOut, RollbackResult rollback,
                          bool installed) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    AppendCountersIfChanged();
    ServiceMessage end;
    end.type = MessageType::Finished;
    end.exitCode = exitCode;
    end.failedRows = failedRows;
    end.timedOut = timedOut;
    end.rollback = rollback;
    if (withOptions) end.installed = installed;
    Append(end);
  }
  // Written here, so that the end has reached the pipe when Finish returns (the service's process
  // may end right after it).
  std::lock_guard<std::mutex> lock(writing_);
  WritePending();
}

void ClientStream::AppendCountersIfChanged() {
  const state::DownloadCounters& counters = state::State().counters;
  ServiceMessage now;
  now.type = MessageType::Counters;
  now.succeeded = counters.succeeded.load();
  now.failed = counters.failed.load();
  now.deferred = counters.deferred.load();
  if (now.succeeded == sent_.succeeded && now.failed == sent_.failed && now.deferred == sent_.deferred) return;
  sent_ = now;
  Append(now);
}

void ClientStream::Append(const ServiceMessage& message) {
  if (!gone_.load()) pending_ += EncodeMessage(message);
}

void ClientStream::WriteLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, std::chrono::milliseconds(kSendIntervalMs),
                   [this] { return stop_ || pending_.size() >= kSendBlockBytes; });
    if (pending_.empty()) continue;
    lock.unlock();
    {
      std::lock_guard<std::mutex> writing(writing_);
      WritePending();
    }
    lock.lock();
  }
  lock.unlock();
  std::lock_guard<std::mutex> writing(writing_);
  WritePending();
}

void ClientStream::WritePending() {
  std::string block;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    block.swap(pending_);
  }
  if (block.empty() || gone_.load()) return;
  if (!connection_.Write(block.data(), block.size())) {
    gone_.store(true);
    log_("the client has gone; the run goes on");
  }
}

}  // namespace velmora::app
