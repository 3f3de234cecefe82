#include "probe_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>
#include <vector>

#include "automation/json_output.h"
#include "probe_answer.h"

namespace velmora::probe {
namespace {

constexpr std::size_t kMaxRequestBytes = 64 * 1024;
constexpr DWORD kRequestWaitMs = 10'000;
// A listener that keeps failing is broken: the probe ends rather than spin.
constexpr int kMaxFailedAccepts = 100;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The request's words, each sent as the hex digits of its UTF-8 bytes; none when one is not hex.
std::vector<std::string> DecodeWords(const std::string& line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < line.size()) {
    std::size_t end = line.find(' ', at);
    if (end == std::string::npos) end = line.size();
    if ((end - at) % 2 != 0) return {};
    std::string word;
    for (std::size_t i = at; i < end; i += 2) {
      const int high = HexDigit(line[i]);
      const int low = HexDigit(line[i + 1]);
      if (high < 0 || low < 0) return {};
      word.push_back(static_cast<char>(high * 16 + low));
    }
    words.push_back(word);
    at = end + 1;
  }
  return words;
}

// The request line, without its newline; empty when the client sent none in time.
std::string ReadRequest(SOCKET connection) {
  setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&kRequestWaitMs),
             sizeof(kRequestWaitMs));
  std::string line;
  char buffer[4096];
  while (line.size() < kMaxRequestBytes) {
    const int got = recv(connection, buffer, sizeof(buffer), 0);
    if (got <= 0) return {};
    line.append(buffer, static_cast<std::size_t>(got));
    const std::size_t end = line.find('\n');
    if (end != std::string::npos) return line.substr(0, end);
  }
  return {};
}

void SendAll(SOCKET connection, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const int put = send(connection, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (put <= 0) return;
    sent += static_cast<std::size_t>(put);
  }
}

SOCKET ListenOnLoopback(unsigned short& port) {
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return INVALID_SOCKET;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof(address);
  if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener, SOMAXCONN) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(listener);
    return INVALID_SOCKET;
  }
  port = ntohs(address.sin_port);
  return listener;
}

}  // namespace

int Serve(const RequestRunner& run) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
  unsigned short port = 0;
  const SOCKET listener = ListenOnLoopback(port);
  if (listener == INVALID_SOCKET) {
    WriteAnswerLine(JsonObject().Add("serving", false).Text());
    WSACleanup();
    return 1;
  }
  WriteAnswerLine(JsonObject().Add("serving", true).Add("port", static_cast<long long>(port)).Text());
  for (int failedAccepts = 0; failedAccepts < kMaxFailedAccepts;) {
    const SOCKET connection = accept(listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) {
      ++failedAccepts;
      Sleep(10);
      continue;
    }
    failedAccepts = 0;
    const std::string request = ReadRequest(connection);
    if (request == "quit") {
      closesocket(connection);
      break;
    }
    std::string reply;
    {
      AnswerCapture capture;
      const std::vector<std::string> words = DecodeWords(request);
      const int exitCode = words.empty() ? 2 : run(words);
      reply = std::to_string(exitCode) + "\n" + capture.Lines();
    }
    SendAll(connection, reply);
    shutdown(connection, SD_SEND);
    closesocket(connection);
  }
  closesocket(listener);
  WSACleanup();
  return 0;
}

}  // namespace velmora::probe
