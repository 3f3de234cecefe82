// A scripted stand-in for the platform's streamed requests: answers as a test sets it up and
// records what the download asked for, in order ("session Agent.. 4", "url <url> <flags>", "read
// 10240", "close request", "close session"). Requests take the queued answers first, one each,
// then `answer`.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/streamed_request.h"

namespace velmora::download::testing {

struct Answer {
  bool sessionOpens = true;
  bool urlOpens = true;
  std::int32_t status = 200;
  std::int64_t contentLength = -1;  // -1: no Content-Length
  std::string encoding;
  std::string contentRange;
  // The body as the reads return it, one piece per read; a piece "\x01FAIL" makes that read fail.
  std::vector<std::string> pieces;
  std::uint32_t connectionFlags = 0;
};

inline const std::string kFailedRead = "\x01" "FAIL";

class ScriptedHttp final : public platform::StreamingHttp {
 public:
  Answer answer;
  std::deque<Answer> queued;
  std::vector<std::string> log;
  std::string agent;
  std::string headers;                    // of the last request
  std::vector<std::string> headerBlocks;  // of every request, in order

  // Two download workers may use the double at once: the records take a lock.
  void Record(std::string line) {
    const std::lock_guard lock(recordMutex_);
    log.push_back(std::move(line));
  }
  void RecordHeaders(const std::string& headerBlock) {
    const std::lock_guard lock(recordMutex_);
    headerBlocks.push_back(headerBlock);
  }

 private:
  std::mutex recordMutex_;

 public:

  std::uint32_t ConnectedStateFlags() override {
    Record("flags");
    return answer.connectionFlags;
  }

  std::unique_ptr<platform::InternetSession> OpenSession(const std::string& agentName, std::uint32_t accessType,
                                                         std::uint32_t /*receiveTimeoutMs*/) override {
    agent = agentName;
    Record("session " + std::to_string(accessType));
    if (!answer.sessionOpens) return nullptr;
    return std::make_unique<Session>(*this);
  }

 private:
  class Request final : public platform::StreamedRequest {
   public:
    Request(ScriptedHttp& http, Answer answer) : http_(http), answer_(std::move(answer)) {}
    ~Request() override { http_.Record("close request"); }
    std::int32_t StatusCode() override { return answer_.status; }
    std::int64_t ContentLength() override { return answer_.contentLength; }
    std::string ContentEncoding() override { return answer_.encoding; }
    std::string ContentRange() override { return answer_.contentRange; }
    std::int64_t Read(void* buffer, std::uint32_t size) override {
      http_.Record("read " + std::to_string(size));
      if (next_ >= answer_.pieces.size()) return 0;
      const std::string& piece = answer_.pieces[next_++];
      if (piece == kFailedRead) return -1;
      const std::size_t length = std::min<std::size_t>(piece.size(), size);
      std::memcpy(buffer, piece.data(), length);
      return static_cast<std::int64_t>(length);
    }

   private:
    ScriptedHttp& http_;
    Answer answer_;
    std::size_t next_ = 0;
  };

  class Session final : public platform::InternetSession {
   public:
    explicit Session(ScriptedHttp& http) : http_(http) {}
    ~Session() override { http_.Record("close session"); }
    std::unique_ptr<platform::StreamedRequest> OpenUrl(const std::string& url, const std::string& headerBlock,
                                                       std::uint32_t flags) override {
      http_.headers = headerBlock;
      http_.RecordHeaders(headerBlock);
      http_.Record("url " + url + " " + std::to_string(flags));
      Answer current = http_.answer;
      if (!http_.queued.empty()) {
        current = std::move(http_.queued.front());
        http_.queued.pop_front();
      }
      if (!current.urlOpens) return nullptr;
      return std::make_unique<Request>(http_, std::move(current));
    }

   private:
    ScriptedHttp& http_;
  };
};

}  // namespace velmora::download::testing
