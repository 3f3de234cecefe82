// One HTTP request for byte ranges of a resource, its answer streamed into a delta::RangeSink:
// many ranges in one request ("Range: bytes=a-b,c-d", answered by a multipart/byteranges body),
// one range (a 206 with Content-Range), or the whole resource (no Range header, a 200 whose body
// is the range from 0).
//
// The answer must be what was asked: a 200 to a request with a Range header, a 416, any other
// status, a compressed body, or a multipart body that does not parse is NotServed, so that the
// caller can ask again in another way; a request that does not open or a body that breaks off is
// Failed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "delta/byte_ranges.h"
#include "delta/multipart_ranges.h"
#include "download/download_task.h"

namespace velmora::download {

enum class RangeFetchResult {
  Ok,           // every range asked for arrived, whole
  NotServed,    // the server answered, but not with the ranges as asked
  Failed,       // no answer, or the body broke off
  Stopped,      // the task was asked to stop
  SinkStopped,  // the sink refused what arrived
};

// Called after every piece of the body with the bytes that piece brought.
using NetworkBytesCallback = std::function<void(std::uint64_t bytes)>;

// Asks `url` (GBK, as the manifest gives it) for `ranges` (empty: the whole resource, of
// `wholeLength` bytes) and feeds the answer to `sink`. Counts the body's bytes into `task`'s
// arrived bytes, and the answer's status (or the error of a request that did not open) as its last
// answer, and honours its stop request between pieces. Blocks; never throws.
RangeFetchResult FetchRanges(const std::string& url, const std::vector<delta::ByteRange>& ranges,
                             std::uint64_t wholeLength, delta::RangeSink& sink, DownloadTask& task,
                             const NetworkBytesCallback& onBytes);

// The header block of such a request: kRequestHeaders and, with ranges, "Range: bytes=...".
std::string RangeRequestHeaders(const std::vector<delta::ByteRange>& ranges);

}  // namespace velmora::download
