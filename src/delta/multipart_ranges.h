// Reading the body of a 206 (Partial Content) answer as it arrives: a multipart/byteranges body
// (RFC 9110 14.6, framed as in RFC 2046 5.1.1) or the single range of a non-multipart 206. Either
// way the caller gets the same calls: each part's range, then that part's data in pieces.
//
// The answer is untrusted. Every part must carry a well-formed Content-Range within the bytes that
// were asked for, no byte may come twice, every part must state the same complete length, and a
// part's data must be exactly as long as its range: the delimiter after it must follow right
// there. So data is never searched for delimiters, and bytes in the data that look like one are
// just data. Anything else puts the parser into a lasting error state. Memory stays bounded: data
// is handed on as views into the fed pieces, and only a part's header section (at most
// kMaxPartHeaderBytes) and the stretches received so far (at most kMaxExtraStretches more than the
// ranges asked for) are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delta/byte_ranges.h"

namespace velmora::delta {

// Receives what a 206 answer holds. Returning false from either call stops the parse
// (RangeAnswerError::kAborted); no further call follows.
class RangeSink {
 public:
  virtual ~RangeSink() = default;
  // A part with these bytes of the file starts; exactly `range.length` bytes of Data follow.
  virtual bool Part(ByteRange range) = 0;
  // The next bytes of the current part (never empty; a view valid only during the call).
  virtual bool Data(std::string_view bytes) = 0;
};

enum class RangeAnswerError {
  kNone,
  kBadBoundary,          // multipart without a boundary, or one that is empty, over 70 characters or not allowed
  kMissingContentRange,  // a part (or a single-range answer) without Content-Range
  kBadContentRange,      // not "bytes first-last/complete", inverted, or past the complete length
  kUnrequestedRange,     // a range that is not within the bytes asked for
  kOverlappingParts,     // bytes that an earlier part already held
  kScatteredParts,       // parts scattered into far more separate stretches than ranges were asked for
  kTotalMismatch,        // parts that state different complete lengths
  kLengthMismatch,       // a part's data longer or shorter than its range
  kHeadersTooLong,       // a part's header section over kMaxPartHeaderBytes
  kMalformed,            // framing that is neither a delimiter nor a header line
  kNoParts,              // a multipart body that closes without any part
  kTruncated,            // the body ended before the closing delimiter or the range's end
  kAborted,              // the sink stopped the parse
};

// A short English description for logs ("the body ended early", ...).
std::string_view DescribeRangeAnswerError(RangeAnswerError error);

// The longest header section of one part, its empty line included.
inline constexpr std::size_t kMaxPartHeaderBytes = 8 * 1024;

// Received bytes are remembered as stretches, parts that touch joined into one. A server that
// answers each range with one part, in any order, never holds more stretches than ranges were
// asked for; this many more allow for one that splits ranges, while an answer of many tiny
// scattered parts cannot make the parser hold memory in proportion to its length.
inline constexpr std::size_t kMaxExtraStretches = 64;

class RangeAnswerParser {
 public:
  // `contentType` and `contentRange` are the answer's header values ("" when absent). A
  // Content-Type of multipart/byteranges means a multipart body with that type's boundary
  // parameter; any other means a single range, given by `contentRange`. `requested` holds the
  // ranges the request asked for, in any order; a part may span ranges that touch. `sink` must
  // outlive the parser. A header fault shows in Error() at once.
  RangeAnswerParser(std::string_view contentType, std::string_view contentRange,
                    const std::vector<ByteRange>& requested, RangeSink& sink);

  // Feeds the body's next bytes, in pieces of any size. False once the answer is refused or the
  // sink stopped it (see Error()); later calls do nothing.
  bool Feed(std::string_view bytes);
  // The body has ended: true when it ended cleanly, after the closing delimiter (multipart) or
  // after exactly the range's bytes (single range); otherwise Error() says why.
  bool Finish();

  RangeAnswerError Error() const { return error_; }
  bool IsMultipart() const { return multipart_; }
  // The file's complete length as the parts state it, when any part has stated it (not "*").
  std::optional<std::uint64_t> CompleteLength() const { return completeLength_; }

 private:
  enum class State {
    kPreamble,         // before the first delimiter
    kBoundaryEnd,      // right after "--boundary"
    kBoundaryPadding,  // spaces or tabs after the boundary
    kBoundaryCr,       // a CR after the boundary; LF must follow
    kCloseDash,        // one '-' after the boundary; the second closes the body
    kHeaders,          // a part's header section
    kData,             // a part's data (or the single range's)
    kDelimiter,        // the delimiter that must follow a part's data
    kEpilogue,         // after the closing delimiter
    kFailed,
  };

  bool Fail(RangeAnswerError error);
  // Steps the framing over one byte outside data; false when it refused the answer.
  bool Step(char c);
  bool StepAfterBoundary(char c);
  bool EndOfHeaderLine();
  bool StartPart(std::string_view contentRange);

  RangeSink& sink_;
  std::vector<ByteRange> requested_;          // merged: sorted and disjoint
  std::map<std::uint64_t, std::uint64_t> received_;  // first -> end of the bytes so far, joined
  std::optional<std::uint64_t> completeLength_;
  RangeAnswerError error_ = RangeAnswerError::kNone;
  bool multipart_ = false;
  State state_ = State::kPreamble;

  std::string delimiter_;     // "\r\n--" + boundary; the preamble's first one lacks the line end
  std::size_t matched_ = 0;   // bytes of delimiter_ matched so far (after its line end, in the preamble)
  bool atLineStart_ = true;   // in the preamble: the next byte starts a line
  bool pastPreamble_ = false; // a first delimiter line has ended
  bool sawPart_ = false;
  std::string headers_;       // the current part's header section so far
  std::size_t lineStart_ = 0; // where its current line starts
  std::uint64_t remaining_ = 0;  // data bytes of the current part still to come
  ByteRange pendingPart_;     // single range: announced with the first data
  bool partAnnounced_ = false;
};

}  // namespace velmora::delta
