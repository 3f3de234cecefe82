// A scripted stand-in for the platform's streamed requests: answers as a test sets it up and
// records what the download asked for, in order ("session Agent.. 4", "url <url> <flags>", "read
// 10240", "close request", "close session").
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
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
  // The body as the reads return it, one piece per read; a piece "\x01FAIL" makes that read fail.
  std::vector<std::string> pieces;
  std::uint32_t connectionFlags = 0;
};

inline const std::string kFailedRead = "\x01" "FAIL";

class ScriptedHttp final : public platform::StreamingHttp {
 public:
  Answer answer;
  std::vector<std::string> log;
  std::string agent;
  std::string headers;

  std::uint32_t ConnectedStateFlags() override {
    log.push_back("flags");
    return answer.connectionFlags;
  }

  std::unique_ptr<platform::InternetSession> OpenSession(const std::string& agentName, std::uint32_t accessType,
                                                         std::uint32_t /*receiveTimeoutMs*/) override {
    agent = agentName;
    log.push_back("session " + std::to_string(accessType));
    if (!answer.sessionOpens) return nullptr;
    return std::make_unique<Session>(*this);
  }

 private:
  class Request final : public platform::StreamedRequest {
   public:
    explicit Request(ScriptedHttp& http) : http_(http) {}
    ~Request() override { http_.log.push_back("close request"); }
    std::int32_t StatusCode() override { return http_.answer.status; }
    std::int64_t ContentLength() override { return http_.answer.contentLength; }
    std::string ContentEncoding() override { return http_.answer.encoding; }
    std::int64_t Read(void* buffer, std::uint32_t size) override {
      http_.log.push_back("read " + std::to_string(size));
      if (next_ >= http_.answer.pieces.size()) return 0;
      const std::string& piece = http_.answer.pieces[next_++];
      if (piece == kFailedRead) return -1;
      const std::size_t length = std::min<std::size_t>(piece.size(), size);
      std::memcpy(buffer, piece.data(), length);
      return static_cast<std::int64_t>(length);
    }

   private:
    ScriptedHttp& http_;
    std::size_t next_ = 0;
  };

  class Session final : public platform::InternetSession {
   public:
    explicit Session(ScriptedHttp& http) : http_(http) {}
    ~Session() override { http_.log.push_back("close session"); }
    std::unique_ptr<platform::StreamedRequest> OpenUrl(const std::string& url, const std::string& headerBlock,
                                                       std::uint32_t flags) override {
      http_.headers = headerBlock;
      http_.log.push_back("url " + url + " " + std::to_string(flags));
      if (!http_.answer.urlOpens) return nullptr;
      return std::make_unique<Request>(http_);
    }

   private:
    ScriptedHttp& http_;
  };
};

}  // namespace velmora::download::testing
