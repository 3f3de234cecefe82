#include "delta/multipart_ranges.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

namespace velmora::delta {
namespace {

constexpr std::uint64_t kMaxOffset = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t kMaxBoundaryLength = 70;  // RFC 2046 5.1.1

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A character of an HTTP token (RFC 9110 5.6.2): header names, parameter names and values.
bool IsTokenChar(char c) {
  return IsDigit(c) || IsAlpha(c) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// A character a multipart boundary may hold (RFC 2046 5.1.1; a space only inside).
bool IsBoundaryChar(char c) {
  return IsDigit(c) || IsAlpha(c) || std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

// `text` without the spaces and tabs around it (HTTP's optional whitespace).
std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A non-empty run of decimal digits that fits 64 bits.
std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kMaxOffset - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

struct ContentRange {
  ByteRange range;
  std::optional<std::uint64_t> completeLength;  // none for "*"
};

// "bytes first-last/complete" or "bytes first-last/*" (RFC 9110 14.4), the unit in any case,
// with optional whitespace around the value. The range must be in order and inside the complete
// length. An unsatisfied range ("bytes */complete") holds no data and is refused too.
std::optional<ContentRange> ParseContentRange(std::string_view value) {
  value = TrimBlanks(value);
  const std::size_t unitEnd = value.find_first_of(" \t");
  if (unitEnd == std::string_view::npos || !EqualsIgnoringCase(value.substr(0, unitEnd), "bytes")) return std::nullopt;
  const std::string_view rangeText = TrimBlanks(value.substr(unitEnd));
  const std::size_t dash = rangeText.find('-');
  const std::size_t slash = rangeText.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return std::nullopt;
  const std::optional<std::uint64_t> first = ParseDecimal(rangeText.substr(0, dash));
  const std::optional<std::uint64_t> last = ParseDecimal(rangeText.substr(dash + 1, slash - dash - 1));
  const std::string_view complete = rangeText.substr(slash + 1);
  std::optional<std::uint64_t> completeLength;
  if (complete != "*") {
    completeLength = ParseDecimal(complete);
    if (!completeLength) return std::nullopt;
  }
  // last < 2^64 - 1 keeps the length (last - first + 1) representable.
  if (!first || !last || *first > *last || *last == kMaxOffset) return std::nullopt;
  if (completeLength && *last >= *completeLength) return std::nullopt;
  return ContentRange{{*first, *last - *first + 1}, completeLength};
}

bool IsMultipartByteranges(std::string_view contentType) {
  return EqualsIgnoringCase(TrimBlanks(contentType.substr(0, contentType.find(';'))), "multipart/byteranges");
}

bool IsValidBoundary(std::string_view boundary) {
  return !boundary.empty() && boundary.size() <= kMaxBoundaryLength && boundary.back() != ' ' &&
         std::all_of(boundary.begin(), boundary.end(), IsBoundaryChar);
}

// The boundary parameter of a Content-Type value (RFC 9110 5.6.6: `; name=token` or
// `; name="quoted string"`), when the parameters are well-formed, it appears once and is a valid
// boundary.
std::optional<std::string> BoundaryParameter(std::string_view contentType) {
  std::optional<std::string> boundary;
  std::size_t i = contentType.find(';');
  while (i < contentType.size()) {  // at a ';'
    ++i;
    while (i < contentType.size() && IsBlank(contentType[i])) ++i;
    if (i == contentType.size()) break;
    if (contentType[i] == ';') continue;  // an empty parameter
    const std::size_t nameStart = i;
    while (i < contentType.size() && IsTokenChar(contentType[i])) ++i;
    const std::string_view name = contentType.substr(nameStart, i - nameStart);
    if (name.empty() || i == contentType.size() || contentType[i] != '=') return std::nullopt;
    ++i;
    std::string value;
    if (i < contentType.size() && contentType[i] == '"') {
      bool closed = false;
      for (++i; i < contentType.size() && !closed;) {
        char c = contentType[i++];
        if (c == '"') {
          closed = true;
        } else {
          if (c == '\\') {  // a quoted pair: the next character as it is
            if (i == contentType.size()) return std::nullopt;
            c = contentType[i++];
          }
          value.push_back(c);
        }
      }
      if (!closed) return std::nullopt;
    } else {
      while (i < contentType.size() && IsTokenChar(contentType[i])) value.push_back(contentType[i++]);
      if (value.empty()) return std::nullopt;
    }
    while (i < contentType.size() && IsBlank(contentType[i])) ++i;
    if (i < contentType.size() && contentType[i] != ';') return std::nullopt;
    if (EqualsIgnoringCase(name, "boundary")) {
      if (boundary) return std::nullopt;  // two boundaries: which one frames the body is unclear
      boundary = std::move(value);
    }
  }
  if (!boundary || !IsValidBoundary(*boundary)) return std::nullopt;
  return boundary;
}

}  // namespace

std::string_view DescribeRangeAnswerError(RangeAnswerError error) {
  switch (error) {
    case RangeAnswerError::kNone: return "no error";
    case RangeAnswerError::kBadBoundary: return "the multipart boundary is missing or not valid";
    case RangeAnswerError::kMissingContentRange: return "a part has no Content-Range";
    case RangeAnswerError::kBadContentRange: return "a Content-Range is malformed";
    case RangeAnswerError::kUnrequestedRange: return "a part holds bytes that were not asked for";
    case RangeAnswerError::kOverlappingParts: return "parts repeat bytes";
    case RangeAnswerError::kScatteredParts: return "the parts are scattered into too many pieces";
    case RangeAnswerError::kTotalMismatch: return "parts state different file lengths";
    case RangeAnswerError::kLengthMismatch: return "a part's data is not as long as its range";
    case RangeAnswerError::kHeadersTooLong: return "a part's header section is too long";
    case RangeAnswerError::kMalformed: return "the multipart framing is malformed";
    case RangeAnswerError::kNoParts: return "the multipart body has no parts";
    case RangeAnswerError::kTruncated: return "the body ended early";
    case RangeAnswerError::kAborted: return "the receiver stopped the answer";
  }
  return "unknown error";
}

RangeAnswerParser::RangeAnswerParser(std::string_view contentType, std::string_view contentRange,
                                     const std::vector<ByteRange>& requested, RangeSink& sink)
    : sink_(sink), requested_(MergeRanges(requested, 0)) {
  if (IsMultipartByteranges(contentType)) {
    multipart_ = true;
    const std::optional<std::string> boundary = BoundaryParameter(contentType);
    if (!boundary) {
      Fail(RangeAnswerError::kBadBoundary);
      return;
    }
    delimiter_ = "\r\n--" + *boundary;
    return;
  }
  if (TrimBlanks(contentRange).empty()) {
    Fail(RangeAnswerError::kMissingContentRange);
    return;
  }
  StartPart(contentRange);
}

bool RangeAnswerParser::Fail(RangeAnswerError error) {
  error_ = error;
  state_ = State::kFailed;
  return false;
}

bool RangeAnswerParser::Feed(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size() && state_ != State::kFailed) {
    if (state_ == State::kEpilogue) return true;  // ignored, however long
    if (state_ != State::kData) {
      Step(bytes[i++]);
      continue;
    }
    if (!partAnnounced_) {  // a single range: its one part starts with its first byte
      partAnnounced_ = true;
      if (!sink_.Part(pendingPart_)) return Fail(RangeAnswerError::kAborted);
    }
    if (remaining_ == 0) return Fail(RangeAnswerError::kLengthMismatch);  // a single range's data too long
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, bytes.size() - i));
    remaining_ -= size;
    if (!sink_.Data(bytes.substr(i, size))) return Fail(RangeAnswerError::kAborted);
    i += size;
    if (remaining_ == 0 && multipart_) {
      state_ = State::kDelimiter;
      matched_ = 0;
    }
  }
  return state_ != State::kFailed;
}

bool RangeAnswerParser::Finish() {
  if (state_ == State::kFailed) return false;
  const bool complete = multipart_ ? state_ == State::kEpilogue : remaining_ == 0 && partAnnounced_;
  return complete || Fail(RangeAnswerError::kTruncated);
}

bool RangeAnswerParser::Step(char c) {
  switch (state_) {
    case State::kPreamble:
      // A delimiter in the preamble starts a line: "--boundary" at the body's start or after a LF.
      if (atLineStart_ || matched_ > 0) {
        if (c == delimiter_[2 + matched_]) {
          atLineStart_ = false;
          if (2 + ++matched_ == delimiter_.size()) state_ = State::kBoundaryEnd;
          return true;
        }
        matched_ = 0;
      }
      atLineStart_ = c == '\n';
      return true;
    case State::kDelimiter:
      // "\r\n--boundary" right after the data; a bare "\n" is taken for the line end too.
      if (matched_ == 0 && c == '\n') {
        matched_ = 2;
      } else if (c == delimiter_[matched_]) {
        ++matched_;
      } else {
        return Fail(RangeAnswerError::kLengthMismatch);
      }
      if (matched_ == delimiter_.size()) state_ = State::kBoundaryEnd;
      return true;
    case State::kBoundaryEnd:
    case State::kBoundaryPadding:
    case State::kBoundaryCr:
    case State::kCloseDash:
      return StepAfterBoundary(c);
    case State::kHeaders:
      if (headers_.size() == kMaxPartHeaderBytes) return Fail(RangeAnswerError::kHeadersTooLong);
      headers_.push_back(c);
      return c != '\n' || EndOfHeaderLine();
    case State::kData:
    case State::kEpilogue:
    case State::kFailed:
      break;
  }
  return state_ != State::kFailed;
}

bool RangeAnswerParser::StepAfterBoundary(char c) {
  // "--boundary" ends its line, after optional blanks, or closes the body with "--".
  if (state_ == State::kBoundaryEnd && c == '-') {
    state_ = State::kCloseDash;
    return true;
  }
  if (state_ == State::kCloseDash) {
    if (c == '-') {
      if (!sawPart_) return Fail(RangeAnswerError::kNoParts);
      state_ = State::kEpilogue;
      return true;
    }
  } else if (state_ != State::kBoundaryCr && IsBlank(c)) {
    state_ = State::kBoundaryPadding;
    return true;
  } else if (state_ != State::kBoundaryCr && c == '\r') {
    state_ = State::kBoundaryCr;
    return true;
  } else if (c == '\n') {
    state_ = State::kHeaders;
    headers_.clear();
    lineStart_ = 0;
    pastPreamble_ = true;
    return true;
  }
  // A preamble line that merely starts like a delimiter ("--boundaryX") is preamble text.
  if (!pastPreamble_) {
    state_ = State::kPreamble;
    matched_ = 0;
    atLineStart_ = c == '\n';
    return true;
  }
  return Fail(RangeAnswerError::kMalformed);
}

bool RangeAnswerParser::EndOfHeaderLine() {
  std::string_view line = std::string_view(headers_).substr(lineStart_);
  line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  lineStart_ = headers_.size();
  if (!line.empty()) return true;

  // The empty line ends the section: find its Content-Range among "Name: value" lines (names
  // in any case). A line starting with a blank continues the one before (obsolete folding).
  std::string contentRange;
  bool inContentRange = false;
  bool sawHeader = false;
  int contentRanges = 0;
  std::string_view rest = std::string_view(headers_).substr(0, headers_.size() - 1);
  while (!rest.empty()) {
    std::string_view header = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(std::min(rest.size(), header.size() + 1));
    if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
    if (header.empty()) break;  // the section's end
    if (IsBlank(header.front())) {
      if (!sawHeader) return Fail(RangeAnswerError::kMalformed);
      if (inContentRange) contentRange += " " + std::string(TrimBlanks(header));
      continue;
    }
    const std::size_t colon = header.find(':');
    const std::string_view name = header.substr(0, colon);
    if (colon == std::string_view::npos || name.empty() || !std::all_of(name.begin(), name.end(), IsTokenChar)) {
      return Fail(RangeAnswerError::kMalformed);
    }
    sawHeader = true;
    inContentRange = EqualsIgnoringCase(name, "Content-Range");
    if (inContentRange) {
      ++contentRanges;
      contentRange = TrimBlanks(header.substr(colon + 1));
    }
  }
  if (contentRanges == 0) return Fail(RangeAnswerError::kMissingContentRange);
  if (contentRanges > 1) return Fail(RangeAnswerError::kBadContentRange);  // which one holds?
  return StartPart(contentRange);
}

bool RangeAnswerParser::StartPart(std::string_view contentRange) {
  const std::optional<ContentRange> parsed = ParseContentRange(contentRange);
  if (!parsed) return Fail(RangeAnswerError::kBadContentRange);
  const ByteRange range = parsed->range;

  if (parsed->completeLength) {
    if (completeLength_ && *completeLength_ != *parsed->completeLength) return Fail(RangeAnswerError::kTotalMismatch);
    completeLength_ = parsed->completeLength;
  }

  // Within one requested range: the last one starting at or before the part's first byte.
  auto within = std::upper_bound(requested_.begin(), requested_.end(), range.first,
                                 [](std::uint64_t first, const ByteRange& requested) { return first < requested.first; });
  if (within == requested_.begin() || range.End() > std::prev(within)->End()) {
    return Fail(RangeAnswerError::kUnrequestedRange);
  }

  // No byte twice. The bytes received so far are kept as joined stretches, so a usual answer
  // keeps as many entries as there are requested ranges.
  auto next = received_.lower_bound(range.first);
  if (next != received_.end() && next->first < range.End()) return Fail(RangeAnswerError::kOverlappingParts);
  std::uint64_t first = range.first;
  std::uint64_t end = range.End();
  if (next != received_.begin()) {
    const auto previous = std::prev(next);
    if (previous->second > range.first) return Fail(RangeAnswerError::kOverlappingParts);
    if (previous->second == range.first) {
      first = previous->first;
      received_.erase(previous);
    }
  }
  if (next != received_.end() && next->first == end) {
    end = next->second;
    received_.erase(next);
  }
  received_[first] = end;
  if (received_.size() > requested_.size() + kMaxExtraStretches) return Fail(RangeAnswerError::kScatteredParts);

  state_ = State::kData;
  remaining_ = range.length;
  if (!multipart_) {
    pendingPart_ = range;  // announced with the first data byte
    return true;
  }
  sawPart_ = true;
  partAnnounced_ = true;
  if (!sink_.Part(range)) return Fail(RangeAnswerError::kAborted);
  return true;
}

}  // namespace velmora::delta
