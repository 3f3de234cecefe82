// The update service's named pipe. Implements platform/service_pipe.h: one instance of
// \\.\pipe\VelmoraUpdate (FILE_FLAG_FIRST_PIPE_INSTANCE, byte mode, remote clients refused) whose
// security descriptor lets interactive users read and write it; overlapped I/O, so that every
// wait for a client or for bytes is bounded.
#include <windows.h>
#include <sddl.h>

#include "platform/service_pipe.h"
#include "platform/win32/kernel_handle.h"

namespace velmora::platform {
namespace {

constexpr wchar_t kPipeName[] = L"\\\\.\\pipe\\VelmoraUpdate";
// The system and administrators: everything; interactive users: read and write, but not
// FILE_CREATE_PIPE_INSTANCE (0x4, which GENERIC_WRITE would include), so that no user can add an
// instance of their own to the service's pipe: 0x12019B is FILE_GENERIC_READ | FILE_GENERIC_WRITE
// without it.
constexpr wchar_t kPipeSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12019b;;;IU)";
// What a client asks for: reading, and writing data (not creating instances).
constexpr DWORD kClientAccess = GENERIC_READ | FILE_WRITE_DATA;
constexpr DWORD kBufferBytes = 65536;
// A write that the other end does not take within this is given up, and the pipe with it: a
// client that stops reading cannot hold the service's run up.
constexpr DWORD kWriteWaitMs = 30000;

#ifndef PIPE_REJECT_REMOTE_CLIENTS
#define PIPE_REJECT_REMOTE_CLIENTS 0x00000008
#endif

class OverlappedPipe : public PipeConnection {
 public:
  // Closing the handle (not disconnecting) leaves what was written for the client to read.
  // `serverSide`: this end is the service's, so the peer is the client.
  OverlappedPipe(HANDLE pipe, bool serverSide)
      : pipe_(pipe), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), serverSide_(serverSide) {}

  HANDLE handle() const { return pipe_.get(); }

  bool Usable() const { return pipe_.valid() && event_.valid(); }

  std::int64_t Read(void* buffer, std::size_t size, std::uint32_t waitMs) override {
    if (closed_) return -1;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.get();
    ResetEvent(event_.get());
    DWORD got = 0;
    const DWORD asked = static_cast<DWORD>(size > kBufferBytes ? kBufferBytes : size);
    if (!ReadFile(pipe_.get(), buffer, asked, &got, &overlapped)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return Closed();
      if (error == ERROR_IO_PENDING && WaitForSingleObject(event_.get(), waitMs) != WAIT_OBJECT_0) {
        // Nothing in time: the read is cancelled and waited for, so that `buffer` is not written
        // once this call has returned.
        CancelIo(pipe_.get());
        if (GetOverlappedResult(pipe_.get(), &overlapped, &got, TRUE)) return static_cast<std::int64_t>(got);
        return GetLastError() == ERROR_OPERATION_ABORTED ? 0 : Closed();
      }
      if (!GetOverlappedResult(pipe_.get(), &overlapped, &got, TRUE) && GetLastError() != ERROR_MORE_DATA) {
        return Closed();
      }
    }
    return got == 0 ? Closed() : static_cast<std::int64_t>(got);
  }

  bool Write(const void* data, std::size_t size) override {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0 && !closed_) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = event_.get();
      ResetEvent(event_.get());
      DWORD written = 0;
      const DWORD piece = static_cast<DWORD>(size > kBufferBytes ? kBufferBytes : size);
      if (!WriteFile(pipe_.get(), bytes, piece, &written, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) {
          Closed();
          return false;
        }
        if (WaitForSingleObject(event_.get(), kWriteWaitMs) != WAIT_OBJECT_0) CancelIo(pipe_.get());
        if (!GetOverlappedResult(pipe_.get(), &overlapped, &written, TRUE)) {
          Closed();
          return false;
        }
      }
      bytes += written;
      size -= written;
    }
    return !closed_;
  }

  std::uint32_t PeerProcessId() override {
    ULONG processId = 0;
    const BOOL known = serverSide_ ? GetNamedPipeClientProcessId(pipe_.get(), &processId)
                                   : GetNamedPipeServerProcessId(pipe_.get(), &processId);
    return known ? processId : 0;
  }

 private:
  std::int64_t Closed() {
    closed_ = true;
    return -1;
  }

  win32::KernelHandle pipe_;
  win32::KernelHandle event_;
  bool serverSide_;
  bool closed_ = false;
};

// The process that holds the pipe's name: a client's look at it, given up after a moment when
// the holder is busy with another client.
std::uint32_t PipeHolder() {
  if (!WaitNamedPipeW(kPipeName, 500)) return 0;
  win32::KernelHandle pipe(CreateFileW(kPipeName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ULONG processId = 0;
  if (!pipe.valid() || !GetNamedPipeServerProcessId(pipe.get(), &processId)) return 0;
  return processId;
}

// Wine ignores FILE_FLAG_FIRST_PIPE_INSTANCE and adds an instance to a pipe another program made
// first: a pipe of more than one instance, or made for more than one, is not the service's.
bool JoinedAnotherServersPipe(HANDLE pipe) {
  DWORD maxInstances = 0;
  DWORD instances = 0;
  if (!GetNamedPipeInfo(pipe, nullptr, nullptr, nullptr, &maxInstances)) return false;
  if (!GetNamedPipeHandleStateW(pipe, nullptr, &instances, nullptr, nullptr, nullptr, 0)) instances = 1;
  return maxInstances != 1 || instances > 1;
}

}  // namespace

PipeListening AcceptPipeClient(std::uint32_t waitMs) {
  PipeListening listening;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPipeSecurity, SDDL_REVISION_1, &descriptor, nullptr)) {
    return listening;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
  HANDLE pipe = CreateNamedPipeW(kPipeName,
                                 PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,  // dwOpenMode
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 1,             // nMaxInstances: one client at a time
                                 kBufferBytes,  // nOutBufferSize
                                 kBufferBytes,  // nInBufferSize
                                 0,             // nDefaultTimeOut
                                 &attributes);
  const DWORD createError = GetLastError();
  LocalFree(descriptor);
  if (pipe == INVALID_HANDLE_VALUE) {
    // FILE_FLAG_FIRST_PIPE_INSTANCE on a name that exists fails with ERROR_ACCESS_DENIED; a pipe
    // of one instance made by someone else answers ERROR_PIPE_BUSY.
    if (createError == ERROR_ACCESS_DENIED || createError == ERROR_PIPE_BUSY) {
      listening.nameTaken = true;
      listening.holderProcessId = PipeHolder();
    }
    return listening;
  }
  auto connection = std::make_unique<OverlappedPipe>(pipe, true);
  if (JoinedAnotherServersPipe(pipe)) {
    connection.reset();
    listening.nameTaken = true;
    listening.holderProcessId = PipeHolder();
    return listening;
  }
  if (!connection->Usable()) return listening;

  win32::KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event.valid()) return listening;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  bool connected = ConnectNamedPipe(pipe, &overlapped) != FALSE;
  if (!connected) {
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
      connected = true;
    } else if (error == ERROR_IO_PENDING) {
      DWORD ignored = 0;
      if (WaitForSingleObject(event.get(), waitMs) == WAIT_OBJECT_0) {
        connected = GetOverlappedResult(pipe, &overlapped, &ignored, FALSE) != FALSE;
      } else {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
      }
    }
  }
  if (connected) listening.client = std::move(connection);
  return listening;
}

std::unique_ptr<PipeConnection> ConnectToServicePipe(std::uint32_t waitMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    HANDLE pipe = CreateFileW(kPipeName, kClientAccess, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      auto connection = std::make_unique<OverlappedPipe>(pipe, false);
      if (!connection->Usable()) return nullptr;
      return connection;
    }
    const DWORD error = GetLastError();
    const DWORD spent = GetTickCount() - start;
    if (spent >= waitMs || (error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND)) return nullptr;
    // A busy pipe is waited for; an absent one (the service is starting) is looked for again.
    if (error == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(kPipeName, waitMs - spent);
    } else {
      Sleep(50);
    }
  }
}

}  // namespace velmora::platform
