#include "download/range_fetch.h"

#include <array>
#include <memory>

#include "download/download_session.h"
#include "platform/clock.h"
#include "platform/streamed_request.h"
#include "platform/thread.h"

namespace velmora::download {
namespace {

constexpr std::int32_t kStatusOk = 200;
constexpr std::int32_t kStatusPartialContent = 206;
constexpr std::uint32_t kMessageIntervalMs = 10;

}  // namespace

std::string RangeRequestHeaders(const std::vector<delta::ByteRange>& ranges) {
  std::string block = kRequestHeaders;
  if (!ranges.empty()) block += "\r\nRange: " + delta::RangeHeaderValue(ranges);
  return block;
}

RangeFetchResult FetchRanges(const std::string& url, const std::vector<delta::ByteRange>& ranges,
                             std::uint64_t wholeLength, delta::RangeSink& sink, DownloadTask& task,
                             const NetworkBytesCallback& onBytes) {
  if (task.StopRequested()) return RangeFetchResult::Stopped;
  const std::unique_ptr<platform::InternetSession> session = OpenDownloadSession();
  if (!session) return RangeFetchResult::Failed;
  const std::unique_ptr<platform::StreamedRequest> request =
      session->OpenUrl(url, RangeRequestHeaders(ranges), platform::kDownloadRequestFlags);
  if (!request) {
    task.SetLastAnswer(0, session->LastErrorCode());
    return RangeFetchResult::Failed;
  }

  const std::int32_t status = request->StatusCode();
  task.SetLastAnswer(status, 0);
  const std::string encoding = request->ContentEncoding();
  if (!encoding.empty() && encoding != "identity") return RangeFetchResult::NotServed;
  const bool whole = ranges.empty();
  if (status != (whole ? kStatusOk : kStatusPartialContent)) return RangeFetchResult::NotServed;
  // The whole resource reads as its one range from 0; its length must be the one expected.
  const std::vector<delta::ByteRange> asked = whole ? std::vector<delta::ByteRange>{{0, wholeLength}} : ranges;
  const std::string contentRange =
      whole ? "bytes 0-" + std::to_string(wholeLength - 1) + "/" + std::to_string(wholeLength) : request->ContentRange();
  if (whole && (wholeLength == 0 || request->ContentLength() != static_cast<std::int64_t>(wholeLength))) {
    return RangeFetchResult::NotServed;
  }
  delta::RangeAnswerParser parser(whole ? std::string() : request->ContentType(), contentRange, asked, sink);
  if (parser.Error() != delta::RangeAnswerError::kNone) return RangeFetchResult::NotServed;

  std::array<char, kChunkSize> buffer;
  std::uint32_t messagesTick = platform::TickCount();
  for (;;) {
    if (task.StopRequested()) return RangeFetchResult::Stopped;
    const std::int64_t got = request->Read(buffer.data(), kChunkSize);
    if (got < 0) return RangeFetchResult::Failed;
    if (got == 0) break;
    task.AddArrivedBytes(got);
    if (onBytes) onBytes(static_cast<std::uint64_t>(got));
    if (!parser.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
      return parser.Error() == delta::RangeAnswerError::kAborted ? RangeFetchResult::SinkStopped
                                                                 : RangeFetchResult::NotServed;
    }
    const std::uint32_t now = platform::TickCount();
    if (now - messagesTick >= kMessageIntervalMs) {
      platform::ProcessPendingMessages();
      messagesTick = now;
    }
  }
  if (parser.Finish()) return RangeFetchResult::Ok;
  // A body that ends early broke off; one whose framing is wrong was not served as asked.
  return parser.Error() == delta::RangeAnswerError::kTruncated ? RangeFetchResult::Failed
                                                               : RangeFetchResult::NotServed;
}

}  // namespace velmora::download
