// download-probe: a console tool of the end-to-end tests, run under Wine.
//
//   download-probe <url> <local-path> [--resume <offset>] [--receive-timeout <ms>]
//
// Runs one download::DownloadTask::Download exactly as a grid row's worker does, with a progress
// callback that records every call. The platform's streamed request (WinINet) is used through a
// pass-through layer that notes what the task asked of it and what it answered, and that opens the
// session with --receive-timeout when one is given (the task itself keeps the default).
//
// Prints one line of JSON on stdout:
//   result, contentLength, position, elapsedMs, receivedBytes, stopRequested  the task after the call
//   callbacks, first, last            the number of progress calls; the first and last call's
//                                     arguments [contentLength, position, elapsedMs, received, userData]
//   positionsIncrease                 every call's position above the one before
//   connectedFlags, accessType, receiveTimeoutMs, agentHex, urlHex, headersHex, requestFlags
//                                     what the task asked for (texts as hex of their bytes)
//   opened, status, announced, encodingHex   the request as the platform answered (status -1 and
//                                     announced -2 when the task did not ask)
//   reads, readBytes, readFailures, endSeen  the body reads: with data, their bytes, failed, the end
//   ms                                the call's wall time
// Exit code 0 when the line was printed, 2 for wrong arguments.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "download/download_task.h"
#include "platform/streamed_request.h"

namespace {

namespace platform = velmora::platform;
namespace download = velmora::download;

constexpr std::int32_t kUserData = 0x5EED;

struct Observation {
  // Progress calls.
  std::int64_t callbacks = 0;
  std::int32_t first[5] = {};
  std::int32_t last[5] = {};
  bool positionsIncrease = true;
  // What the task asked of the platform.
  std::uint32_t connectedFlags = 0;
  std::uint32_t accessType = 0;
  std::uint32_t receiveTimeoutMs = 0;
  std::string agent;
  std::string url;
  std::string headers;
  std::uint32_t requestFlags = 0;
  // What the platform answered.
  bool opened = false;
  std::int32_t status = -1;
  std::int64_t announced = -2;
  std::string encoding;
  std::int64_t reads = 0;
  std::int64_t readBytes = 0;
  std::int64_t readFailures = 0;
  bool endSeen = false;
};

Observation observed;

void RecordProgress(std::int32_t contentLength, std::int32_t position, std::int32_t elapsedMs,
                    std::int32_t receivedBytes, std::int32_t userData) {
  const std::int32_t call[5] = {contentLength, position, elapsedMs, receivedBytes, userData};
  if (observed.callbacks == 0) {
    std::memcpy(observed.first, call, sizeof(call));
  } else if (position <= observed.last[1]) {
    observed.positionsIncrease = false;
  }
  std::memcpy(observed.last, call, sizeof(call));
  ++observed.callbacks;
}

class ObservedRequest final : public platform::StreamedRequest {
 public:
  explicit ObservedRequest(std::unique_ptr<platform::StreamedRequest> inner) : inner_(std::move(inner)) {}
  std::int32_t StatusCode() override { return observed.status = inner_->StatusCode(); }
  std::int64_t ContentLength() override { return observed.announced = inner_->ContentLength(); }
  std::string ContentEncoding() override { return observed.encoding = inner_->ContentEncoding(); }
  std::string ContentRange() override { return inner_->ContentRange(); }
  std::string ContentType() override { return inner_->ContentType(); }
  std::int64_t Read(void* buffer, std::uint32_t size) override {
    const std::int64_t got = inner_->Read(buffer, size);
    if (got < 0) {
      ++observed.readFailures;
    } else if (got == 0) {
      observed.endSeen = true;
    } else {
      ++observed.reads;
      observed.readBytes += got;
    }
    return got;
  }

 private:
  std::unique_ptr<platform::StreamedRequest> inner_;
};

class ObservedSession final : public platform::InternetSession {
 public:
  explicit ObservedSession(std::unique_ptr<platform::InternetSession> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<platform::StreamedRequest> OpenUrl(const std::string& url, const std::string& headers,
                                                     std::uint32_t flags) override {
    observed.url = url;
    observed.headers = headers;
    observed.requestFlags = flags;
    std::unique_ptr<platform::StreamedRequest> request = inner_->OpenUrl(url, headers, flags);
    observed.opened = request != nullptr;
    if (!request) return nullptr;
    return std::make_unique<ObservedRequest>(std::move(request));
  }

 private:
  std::unique_ptr<platform::InternetSession> inner_;
};

class ObservedHttp final : public platform::StreamingHttp {
 public:
  explicit ObservedHttp(std::uint32_t receiveTimeoutMs) : receiveTimeoutMs_(receiveTimeoutMs) {}
  std::uint32_t ConnectedStateFlags() override {
    return observed.connectedFlags = platform::PlatformStreamingHttp().ConnectedStateFlags();
  }
  std::unique_ptr<platform::InternetSession> OpenSession(const std::string& agent, std::uint32_t accessType,
                                                         std::uint32_t receiveTimeoutMs) override {
    observed.agent = agent;
    observed.accessType = accessType;
    observed.receiveTimeoutMs = receiveTimeoutMs_ != 0 ? receiveTimeoutMs_ : receiveTimeoutMs;
    std::unique_ptr<platform::InternetSession> session =
        platform::PlatformStreamingHttp().OpenSession(agent, accessType, observed.receiveTimeoutMs);
    if (!session) return nullptr;
    return std::make_unique<ObservedSession>(std::move(session));
  }

 private:
  std::uint32_t receiveTimeoutMs_;
};

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

std::string Call(const std::int32_t (&call)[5], bool present) {
  if (!present) return "null";
  std::string text = "[";
  for (int i = 0; i < 5; ++i) {
    if (i > 0) text += ",";
    text += std::to_string(call[i]);
  }
  return text + "]";
}

bool ParseNumber(const char* text, std::int64_t& value) {
  char* end = nullptr;
  const long long parsed = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || parsed < 0) return false;
  value = parsed;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: download-probe <url> <local-path> [--resume <offset>] [--receive-timeout <ms>]\n");
    return 2;
  }
  const std::string url = argv[1];
  const std::string localPath = argv[2];
  bool resume = false;
  std::int64_t offset = 0;
  std::int64_t receiveTimeoutMs = 0;
  for (int i = 3; i < argc; i += 2) {
    const std::string option = argv[i];
    std::int64_t* target = option == "--resume" ? &offset : option == "--receive-timeout" ? &receiveTimeoutMs : nullptr;
    if (target == nullptr || i + 1 >= argc || !ParseNumber(argv[i + 1], *target) ||
        (target == &receiveTimeoutMs && receiveTimeoutMs > 0xFFFFFFFFLL)) {
      std::fprintf(stderr, "download-probe: bad option '%s'\n", argv[i]);
      return 2;
    }
    if (target == &offset) resume = true;
  }

  ObservedHttp http(static_cast<std::uint32_t>(receiveTimeoutMs));
  platform::ReplaceStreamingHttp(&http);
  download::DownloadTask task;
  const auto started = std::chrono::steady_clock::now();
  const download::DownloadResult result = task.Download(url, localPath, RecordProgress, offset, resume, kUserData);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  platform::ReplaceStreamingHttp(nullptr);

  std::string json = "{";
  auto field = [&json](const char* name, const std::string& value) {
    if (json.size() > 1) json += ",";
    json += "\"" + std::string(name) + "\":" + value;
  };
  auto text = [](const std::string& value) { return "\"" + value + "\""; };
  auto flag = [](bool value) { return std::string(value ? "true" : "false"); };
  field("result", std::to_string(static_cast<std::int32_t>(result)));
  field("contentLength", std::to_string(task.ContentLength()));
  field("position", std::to_string(task.Position()));
  field("elapsedMs", std::to_string(task.ElapsedMs()));
  field("receivedBytes", std::to_string(task.ReceivedBytes()));
  field("stopRequested", flag(task.StopRequested()));
  field("callbacks", std::to_string(observed.callbacks));
  field("first", Call(observed.first, observed.callbacks > 0));
  field("last", Call(observed.last, observed.callbacks > 0));
  field("positionsIncrease", flag(observed.positionsIncrease));
  field("connectedFlags", std::to_string(observed.connectedFlags));
  field("accessType", std::to_string(observed.accessType));
  field("receiveTimeoutMs", std::to_string(observed.receiveTimeoutMs));
  field("agentHex", text(Hex(observed.agent)));
  field("urlHex", text(Hex(observed.url)));
  field("headersHex", text(Hex(observed.headers)));
  field("requestFlags", std::to_string(observed.requestFlags));
  field("opened", flag(observed.opened));
  field("status", std::to_string(observed.status));
  field("announced", std::to_string(observed.announced));
  field("encodingHex", text(Hex(observed.encoding)));
  field("reads", std::to_string(observed.reads));
  field("readBytes", std::to_string(observed.readBytes));
  field("readFailures", std::to_string(observed.readFailures));
  field("endSeen", flag(observed.endSeen));
  field("ms", std::to_string(ms));
  json += "}\n";
  std::fputs(json.c_str(), stdout);
  std::fflush(stdout);
  return 0;
}
