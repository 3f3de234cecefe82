// A stand-in for the platform's streamed requests that serves resources the way web servers do
// with ranges: no Range header gets the whole resource (200), one range a 206 with Content-Range,
// several ranges a multipart/byteranges body. Modes make it answer like servers that do not:
// several ranges answered with the whole resource, with 416, or with a body that does not parse;
// one range answered with the whole resource or 416; several ranges answered with only the first.
// Records every request's URL and Range value.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/streamed_request.h"

namespace velmora::download::testing {

class RangeServer final : public platform::StreamingHttp {
 public:
  enum class Answer { AsAsked, Whole, Refused416, Garbled, FirstOnly };

  std::map<std::string, std::string> resources;  // by URL
  Answer manyRanges = Answer::AsAsked;
  Answer oneRange = Answer::AsAsked;
  struct Request {
    std::string url;
    std::string range;  // the Range header's value, "" without one
  };
  std::vector<Request> requests;
  std::uint64_t bodyBytes = 0;  // every body's bytes, as sent

  std::uint32_t ConnectedStateFlags() override { return 0; }
  std::unique_ptr<platform::InternetSession> OpenSession(const std::string&, std::uint32_t, std::uint32_t) override {
    return std::make_unique<Session>(*this);
  }

  // The ranges of a Range value "bytes=a-b,c-d" as (first, last) pairs.
  static std::vector<std::pair<std::uint64_t, std::uint64_t>> ParseRanges(const std::string& value) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::size_t at = value.find('=') + 1;
    while (at < value.size()) {
      const std::size_t dash = value.find('-', at);
      const std::size_t comma = value.find(',', dash);
      ranges.emplace_back(std::stoull(value.substr(at, dash - at)), std::stoull(value.substr(dash + 1, comma - dash - 1)));
      at = comma == std::string::npos ? value.size() : comma + 1;
    }
    return ranges;
  }

 private:
  struct Response {
    std::int32_t status = 404;
    std::string contentType;
    std::string contentRange;
    std::string body;
  };

  class StreamedAnswer final : public platform::StreamedRequest {
   public:
    explicit StreamedAnswer(Response response) : response_(std::move(response)) {}
    std::int32_t StatusCode() override { return response_.status; }
    std::int64_t ContentLength() override { return static_cast<std::int64_t>(response_.body.size()); }
    std::string ContentEncoding() override { return {}; }
    std::string ContentRange() override { return response_.contentRange; }
    std::string ContentType() override { return response_.contentType; }
    std::int64_t Read(void* buffer, std::uint32_t size) override {
      const std::size_t length = std::min<std::size_t>({size, response_.body.size() - next_, 7000});
      std::memcpy(buffer, response_.body.data() + next_, length);
      next_ += length;
      return static_cast<std::int64_t>(length);
    }

   private:
    Response response_;
    std::size_t next_ = 0;
  };

  class Session final : public platform::InternetSession {
   public:
    explicit Session(RangeServer& server) : server_(server) {}
    std::unique_ptr<platform::StreamedRequest> OpenUrl(const std::string& url, const std::string& headers,
                                                       std::uint32_t) override {
      const std::size_t at = headers.find("Range: ");
      const std::string range = at == std::string::npos ? "" : headers.substr(at + 7, headers.find("\r\n", at) - at - 7);
      server_.requests.push_back({url, range});
      Response response = server_.Respond(url, range);
      server_.bodyBytes += response.body.size();
      return std::make_unique<StreamedAnswer>(std::move(response));
    }

   private:
    RangeServer& server_;
  };

  Response Respond(const std::string& url, const std::string& range) {
    const auto found = resources.find(url);
    if (found == resources.end()) return {};
    const std::string& resource = found->second;
    if (range.empty()) return {200, "application/octet-stream", "", resource};
    const auto ranges = ParseRanges(range);
    const Answer answer = ranges.size() > 1 ? manyRanges : oneRange;
    if (answer == Answer::Whole) return {200, "application/octet-stream", "", resource};
    if (answer == Answer::Refused416) return {416, "text/html", "bytes */" + std::to_string(resource.size()), ""};
    const std::string total = "/" + std::to_string(resource.size());
    auto slice = [&](std::uint64_t first, std::uint64_t last) { return resource.substr(first, last - first + 1); };
    if (ranges.size() == 1) {
      const auto [first, last] = ranges[0];
      return {206, "application/octet-stream", "bytes " + std::to_string(first) + "-" + std::to_string(last) + total,
              slice(first, last)};
    }
    const std::string boundary = "00000000000000000042";
    std::string body;
    for (const auto& [first, last] : answer == Answer::FirstOnly ? decltype(ranges){ranges[0]} : ranges) {
      body += "\r\n--" + boundary + "\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes " +
              std::to_string(first) + "-" + std::to_string(last) + total + "\r\n\r\n" + slice(first, last);
    }
    body += "\r\n--" + boundary + "--\r\n";
    if (answer == Answer::Garbled) body.replace(body.find("Content-Range"), 7, "Content-Rxxx");
    return {206, "multipart/byteranges; boundary=" + boundary, "", body};
  }
};

}  // namespace velmora::download::testing
