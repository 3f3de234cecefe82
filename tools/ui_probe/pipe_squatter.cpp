#include "pipe_squatter.h"

#include <windows.h>

#include "app/service_messages.h"
#include "automation/json_output.h"
#include "platform/codepage.h"
#include "probe_answer.h"

namespace velmora::probe {
namespace {

bool FileExists(const std::string& utf8Path) {
  const std::u16string wide = platform::MultiByteToWide(utf8Path, CP_UTF8);
  return GetFileAttributesW(reinterpret_cast<const wchar_t*>(wide.c_str())) != INVALID_FILE_ATTRIBUTES;
}

// What a client sent within a moment (a refused client sends nothing).
long long DrainClient(HANDLE pipe, HANDLE event) {
  long long bytes = 0;
  char buffer[256];
  for (;;) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, sizeof buffer, &got, &overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING) return bytes;
      if (WaitForSingleObject(event, 1000) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &got, TRUE);
        return bytes;
      }
      if (!GetOverlappedResult(pipe, &overlapped, &got, FALSE) || got == 0) return bytes;
    }
    bytes += got;
  }
}

}  // namespace

int SquatServicePipe(const std::string& stopFile, std::uint32_t waitMs) {
  HANDLE pipe = CreateNamedPipeW(L"\\\\.\\pipe\\VelmoraUpdate", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096,
                                 4096, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    WriteAnswerLine(JsonObject().Add("squatting", false).Add("error", static_cast<long long>(GetLastError())).Text());
    return 1;
  }
  WriteAnswerLine(JsonObject().Add("squatting", true).Add("pid", static_cast<long long>(GetCurrentProcessId())).Text());
  app::ServiceMessage lie;
  lie.type = app::MessageType::Finished;
  lie.installed = true;
  const std::string frame = app::EncodeMessage(lie);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  long long clients = 0;
  long long requestBytes = 0;
  const DWORD start = GetTickCount();
  while (!FileExists(stopFile) && GetTickCount() - start < waitMs) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ResetEvent(event);
    bool connected = ConnectNamedPipe(pipe, &overlapped) != FALSE || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!connected && GetLastError() == ERROR_IO_PENDING) {
      DWORD ignored = 0;
      if (WaitForSingleObject(event, 200) == WAIT_OBJECT_0) {
        connected = GetOverlappedResult(pipe, &overlapped, &ignored, FALSE) != FALSE;
      } else {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
      }
    }
    if (!connected) continue;
    ++clients;
    DWORD written = 0;
    OVERLAPPED writing{};
    writing.hEvent = event;
    ResetEvent(event);
    if (WriteFile(pipe, frame.data(), static_cast<DWORD>(frame.size()), &written, &writing) ||
        GetLastError() == ERROR_IO_PENDING) {
      GetOverlappedResult(pipe, &writing, &written, TRUE);
    }
    ResetEvent(event);
    requestBytes += DrainClient(pipe, event);
    DisconnectNamedPipe(pipe);
  }
  CloseHandle(event);
  CloseHandle(pipe);
  WriteAnswerLine(JsonObject().Add("ok", true).Add("clients", clients).Add("requestBytes", requestBytes).Text());
  return 0;
}

}  // namespace velmora::probe
