// The named pipe between the update service and the updater that asks it to run: one instance,
// one client at a time, bytes in both directions. What travels on it is app/service_messages.h.
//
// Windows: \\.\pipe\VelmoraUpdate, created by the service with a security descriptor that lets
// interactive users read and write it (and the system and administrators do anything), refusing
// remote clients; overlapped reads so that every wait is bounded. While a client is connected no
// other instance exists, so a second client finds the pipe busy. The POSIX layer has no pipe:
// nothing is accepted and nothing connects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora::platform {

// One end of a connected pipe; the connection closes when the object goes. Not thread-safe, but
// one thread may read while another writes.
class PipeConnection {
 public:
  virtual ~PipeConnection() = default;
  // Bytes read into `buffer` (at most `size`), waiting at most `waitMs` for the first of them;
  // 0 when none came in time, -1 when the other end closed the pipe or it failed.
  virtual std::int64_t Read(void* buffer, std::size_t size, std::uint32_t waitMs) = 0;
  // Writes all `size` bytes; false when the other end is gone or the write failed.
  virtual bool Write(const void* data, std::size_t size) = 0;
  // The process at the other end as the system reports it (GetNamedPipeServerProcessId on a
  // client's end, GetNamedPipeClientProcessId on the service's); 0 when it cannot be told.
  virtual std::uint32_t PeerProcessId() = 0;
};

// What waiting for a client came to.
struct PipeListening {
  std::unique_ptr<PipeConnection> client;  // null: no client came, or the pipe could not be made
  // The pipe's name is held by a process other than this one (its instance is not ours to make);
  // `holderProcessId` is that process when a look at the pipe could tell it (else 0).
  bool nameTaken = false;
  std::uint32_t holderProcessId = 0;
};

// The service's side: makes the pipe's one instance (as its first instance: an instance someone
// else made first is never joined) and waits at most `waitMs` for a client.
PipeListening AcceptPipeClient(std::uint32_t waitMs);

// A client's side: connects to the service's pipe, trying for at most `waitMs` while it is absent
// or busy; null when that did not succeed.
std::unique_ptr<PipeConnection> ConnectToServicePipe(std::uint32_t waitMs);

}  // namespace velmora::platform
