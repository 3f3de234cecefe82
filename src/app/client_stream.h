// The update service's messages to its client (app/service_messages.h), from any thread.
//
// A sender never waits for the pipe: Send encodes the message into a pending block under a short
// lock, and a writer thread of the stream's own hands the whole block to the pipe at most every
// kSendIntervalMs (at once when it has grown past kSendBlockBytes). A release of 1,000 small files
// makes about ten cell changes a file; written one by one, each a round of overlapped I/O, they
// kept the runners waiting on the pipe and on each other. Messages keep their order. The client's
// window applies changes at most every 60 ms, so the grid is as live as before.
//
// The row counters go before the next message whenever they have changed since the last ones
// sent. A client that has gone is no reason to stop the update: further messages are dropped.
// Thread-safe.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "app/rollback_command.h"
#include "app/service_messages.h"
#include "platform/handles.h"
#include "platform/service_pipe.h"

namespace velmora::app {

class ClientStream {
 public:
  static constexpr std::uint32_t kSendIntervalMs = 20;
  static constexpr std::size_t kSendBlockBytes = kStreamBlockBytes;

  // `connection` must outlive the stream. `log` gets one line when the client has gone.
  ClientStream(platform::PipeConnection& connection, void (*log)(const std::string& line));
  // Sends what is pending and ends the writer.
  ~ClientStream();
  ClientStream(const ClientStream&) = delete;
  ClientStream& operator=(const ClientStream&) = delete;

  void Send(const ServiceMessage& message);
  // The end message, after everything sent before it; waits until it has been written. A client
  // that sent options learns whether a release was `installed` (it then starts the product).
  void Finish(std::int32_t exitCode, std::int32_t failedRows, bool timedOut, RollbackResult rollback,
              bool installed = false);

  // Whether the client's request carried options (set before the first message).
  bool withOptions = false;

 private:
  void AppendCountersIfChanged();
  void Append(const ServiceMessage& message);
  void WriteLoop();
  // Writes what is pending; the caller holds `writing_`.
  void WritePending();

  platform::PipeConnection& connection_;
  void (*log_)(const std::string& line);
  std::mutex mutex_;  // guards pending_, sent_, stop_
  std::condition_variable wake_;
  std::string pending_;
  ServiceMessage sent_;
  bool stop_ = false;
  std::mutex writing_;  // one writer on the pipe at a time
  std::atomic<bool> gone_{false};
  platform::ThreadHandle writer_ = 0;
};

}  // namespace velmora::app
