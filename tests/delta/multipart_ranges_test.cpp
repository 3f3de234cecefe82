// Reading 206 answers: nginx's multi-range and single-range answers as captured from nginx 1.22,
// fed in pieces split at every offset; bytes in the data that look like delimiters; bare LF lines;
// the framing's leniencies (preamble, epilogue, padding, quoted boundaries, header case and
// whitespace); each refusal; a sink that stops; data handed on without copies; and damaged
// answers that must never yield more data than a part's range.
#include "delta/multipart_ranges.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace velmora::delta {
namespace {

using Error = RangeAnswerError;
using Ranges = std::vector<ByteRange>;
using Parts = std::vector<std::pair<ByteRange, std::string>>;

// nginx 1.22.1's answer to "Range: bytes=0-9,100-109" for a 200-byte file of "ABC...Z" repeated,
// captured with curl.
constexpr std::string_view kNginxType = "multipart/byteranges; boundary=00000000000000000001";
constexpr std::string_view kNginxBody =
    "\r\n--00000000000000000001\r\n"
    "Content-Type: application/octet-stream\r\n"
    "Content-Range: bytes 0-9/200\r\n"
    "\r\n"
    "ABCDEFGHIJ"
    "\r\n--00000000000000000001\r\n"
    "Content-Type: application/octet-stream\r\n"
    "Content-Range: bytes 100-109/200\r\n"
    "\r\n"
    "WXYZABCDEF"
    "\r\n--00000000000000000001--\r\n";
const Ranges kNginxRequested = {{0, 10}, {100, 10}};
const Parts kNginxParts = {{{0, 10}, "ABCDEFGHIJ"}, {{100, 10}, "WXYZABCDEF"}};

// Records the calls and checks what every sink may rely on: data only within a part, never empty
// and never more than the part's range.
class Recorder : public RangeSink {
 public:
  Parts parts;
  int stopAtPart = -1;  // returns false from this Part call (0-based)
  int stopAtData = -1;  // returns false from this Data call
  int dataCalls = 0;
  bool callsAfterStop = false;
  bool broken = false;  // an invariant failed

  bool Part(ByteRange range) override {
    if (stopped_) callsAfterStop = true;
    if (!parts.empty() && parts.back().second.size() != parts.back().first.length) broken = true;
    parts.push_back({range, ""});
    stopped_ = static_cast<int>(parts.size()) - 1 == stopAtPart;
    return !stopped_;
  }
  bool Data(std::string_view bytes) override {
    if (stopped_) callsAfterStop = true;
    if (parts.empty() || bytes.empty()) broken = true;
    if (!parts.empty()) {
      parts.back().second += bytes;
      if (parts.back().second.size() > parts.back().first.length) broken = true;
    }
    stopped_ = dataCalls++ == stopAtData;
    return !stopped_;
  }

 private:
  bool stopped_ = false;
};

struct Outcome {
  bool finished = false;  // Finish() said the body ended cleanly
  Error error = Error::kNone;
  Parts parts;
  std::optional<std::uint64_t> completeLength;
};

// Parses `body` fed in pieces of `pieceSize` bytes (0: all at once).
Outcome Parse(std::string_view contentType, std::string_view contentRange, const Ranges& requested,
              std::string_view body, std::size_t pieceSize = 0) {
  Recorder sink;
  RangeAnswerParser parser(contentType, contentRange, requested, sink);
  if (pieceSize == 0) pieceSize = body.size() + 1;
  for (std::size_t offset = 0; offset < body.size(); offset += pieceSize) parser.Feed(body.substr(offset, pieceSize));
  Outcome outcome;
  outcome.finished = parser.Finish();
  outcome.error = parser.Error();
  outcome.parts = sink.parts;
  outcome.completeLength = parser.CompleteLength();
  EXPECT_FALSE(sink.broken);
  EXPECT_EQ(outcome.finished, outcome.error == Error::kNone);
  return outcome;
}

Outcome ParseMultipart(std::string_view body, const Ranges& requested, std::string_view type = "multipart/byteranges; boundary=B") {
  return Parse(type, "", requested, body);
}

TEST(MultipartRanges, NginxAnswerFedInAnyPieces) {
  const Outcome whole = Parse(kNginxType, "", kNginxRequested, kNginxBody);
  EXPECT_TRUE(whole.finished) << DescribeRangeAnswerError(whole.error);
  EXPECT_EQ(whole.parts, kNginxParts);
  EXPECT_EQ(whole.completeLength, 200u);

  EXPECT_EQ(Parse(kNginxType, "", kNginxRequested, kNginxBody, 1).parts, kNginxParts) << "one byte at a time";
  // Split in two and in three pieces at every pair of offsets.
  for (std::size_t a = 0; a <= kNginxBody.size(); ++a) {
    for (std::size_t b = a; b <= kNginxBody.size(); b += 7) {
      Recorder sink;
      RangeAnswerParser parser(kNginxType, "", kNginxRequested, sink);
      parser.Feed(kNginxBody.substr(0, a));
      parser.Feed(kNginxBody.substr(a, b - a));
      parser.Feed(kNginxBody.substr(b));
      ASSERT_TRUE(parser.Finish()) << a << "," << b << ": " << DescribeRangeAnswerError(parser.Error());
      ASSERT_EQ(sink.parts, kNginxParts) << a << "," << b;
    }
  }
}

TEST(MultipartRanges, EveryEarlyEndIsTruncated) {
  for (std::size_t end = 0; end < kNginxBody.size(); ++end) {
    // The closing delimiter's own line end is epilogue: without it the body has ended cleanly.
    const bool clean = end >= kNginxBody.size() - 2;
    EXPECT_EQ(Parse(kNginxType, "", kNginxRequested, kNginxBody.substr(0, end)).error, clean ? Error::kNone : Error::kTruncated)
        << "ended after " << end << " bytes";
  }
}

TEST(MultipartRanges, NginxSingleRangeAnswer) {
  // nginx 1.22.1's answer to "Range: bytes=5-14" for the same file.
  const Ranges requested = {{5, 10}};
  const Parts expected = {{{5, 10}, "FGHIJKLMNO"}};
  for (const std::size_t piece : {0, 1, 3}) {
    const Outcome outcome = Parse("application/octet-stream", "bytes 5-14/200", requested, "FGHIJKLMNO", piece);
    EXPECT_TRUE(outcome.finished) << DescribeRangeAnswerError(outcome.error);
    EXPECT_EQ(outcome.parts, expected);
    EXPECT_EQ(outcome.completeLength, 200u);
  }
  EXPECT_EQ(Parse("text/plain", "bytes 5-14/200", requested, "FGHIJKLMNOP").error, Error::kLengthMismatch);
  EXPECT_EQ(Parse("text/plain", "bytes 5-14/200", requested, "FGHIJKLMNOP", 1).error, Error::kLengthMismatch);
  const Outcome shortBody = Parse("text/plain", "bytes 5-14/200", requested, "FGHIJ");
  EXPECT_EQ(shortBody.error, Error::kTruncated);
  EXPECT_EQ(shortBody.parts, (Parts{{{5, 10}, "FGHIJ"}}));
  EXPECT_EQ(Parse("text/plain", "bytes 5-14/200", requested, "").error, Error::kTruncated);
  EXPECT_TRUE(Parse("text/plain", "bytes 5-14/200", requested, "").parts.empty()) << "a part starts with its data";
  // A multipart type that is not byteranges is the file's own type.
  EXPECT_TRUE(Parse("multipart/mixed; boundary=x", " Bytes 5-14/* ", requested, "FGHIJKLMNO").finished);
  EXPECT_EQ(Parse("text/plain", "", requested, "FGHIJKLMNO").error, Error::kMissingContentRange);
  EXPECT_EQ(Parse("text/plain", "bytes 0-9/200", requested, "ABCDEFGHIJ").error, Error::kUnrequestedRange);
  EXPECT_EQ(Parse("text/plain", "bytes 14-5/200", requested, "").error, Error::kBadContentRange);
}

TEST(MultipartRanges, DelimiterLikeBytesInsideDataAreData) {
  const std::string data = "\r\n--B\r\nContent-Range: bytes 0-0/1\r\n\r\nx\r\n--B--\r\n--B";
  const std::string body = "--B\r\nContent-Range: bytes 0-" + std::to_string(data.size() - 1) + "/100\r\n\r\n" + data + "\r\n--B--";
  for (const std::size_t piece : {0, 1, 2, 5}) {
    const Outcome outcome = Parse("multipart/byteranges; boundary=B", "", {{0, 100}}, body, piece);
    EXPECT_TRUE(outcome.finished) << piece << ": " << DescribeRangeAnswerError(outcome.error);
    EXPECT_EQ(outcome.parts, (Parts{{{0, data.size()}, data}})) << piece;
  }
}

TEST(MultipartRanges, LinesMayEndWithABareLineFeed) {
  const std::string body =
      "--B\n"
      "content-range: bytes 0-3/10\n"
      "\n"
      "abcd\n"
      "--B\r\n"
      "CONTENT-RANGE:bytes 5-6/10\r\n"
      "\n"
      "xy\n"
      "--B--";
  const Outcome outcome = ParseMultipart(body, {{0, 10}});
  EXPECT_TRUE(outcome.finished) << DescribeRangeAnswerError(outcome.error);
  EXPECT_EQ(outcome.parts, (Parts{{{0, 4}, "abcd"}, {{5, 2}, "xy"}}));
}

TEST(MultipartRanges, TheFramingsLeniencies) {
  // A preamble (with a line that only starts like the delimiter), padding after the boundary,
  // other headers, whitespace around the value, a folded header, and an epilogue.
  const std::string body =
      "This is a preamble.\r\n--Bogus\r\n-- B\r\n"
      "--B \t\r\n"
      "X-Other: 1\r\n"
      "Content-range:   bytes 2-4/5 \t\r\n"
      "X-Folded: a\r\n"
      " b\r\n"
      "\r\n"
      "cde"
      "\r\n--B--\r\nAn epilogue, ignored: --B\r\nContent-Range: bytes 0-0/5\r\n\r\nz";
  const Outcome outcome = ParseMultipart(body, {{0, 5}});
  EXPECT_TRUE(outcome.finished) << DescribeRangeAnswerError(outcome.error);
  EXPECT_EQ(outcome.parts, (Parts{{{2, 3}, "cde"}}));

  // A folded Content-Range, a quoted boundary with a space and a quoted pair, other parameters,
  // the type in any case, and parts out of order (a server need not keep the request's order).
  const std::string quoted =
      "--a b?c\r\nContent-Range: bytes\r\n 100-101/200\r\n\r\nxy"
      "\r\n--a b?c\r\nContent-Range: bytes 0-0/200\r\n\r\nz\r\n--a b?c--\r\n";
  const Outcome outcome2 = ParseMultipart(quoted, kNginxRequested, "Multipart/ByteRanges ; charset=x;boundary=\"a b\\?c\"");
  EXPECT_TRUE(outcome2.finished) << DescribeRangeAnswerError(outcome2.error);
  EXPECT_EQ(outcome2.parts, (Parts{{{100, 2}, "xy"}, {{0, 1}, "z"}}));

  // A 70-character boundary is the longest allowed; a part may span requested ranges that touch.
  const std::string longest(70, '7');
  const Outcome outcome3 = ParseMultipart("--" + longest + "\r\nContent-Range: bytes 8-11/*\r\n\r\n89ab\r\n--" + longest + "--",
                                          {{10, 5}, {5, 5}}, "multipart/byteranges; boundary=" + longest);
  EXPECT_TRUE(outcome3.finished) << DescribeRangeAnswerError(outcome3.error);
  EXPECT_EQ(outcome3.completeLength, std::nullopt);
}

struct Refusal {
  const char* what;
  std::string contentType;
  std::string body;
  Error error;
};

std::string Part(const std::string& contentRange, const std::string& data) {
  return "\r\n--B\r\nContent-Range: " + contentRange + "\r\n\r\n" + data;
}

TEST(MultipartRanges, RefusesFaultyAnswersHoweverTheyAreFed) {
  const std::string type = "multipart/byteranges; boundary=B";
  const std::string end = "\r\n--B--\r\n";
  const std::vector<Refusal> refusals = {
      {"no boundary", "multipart/byteranges", Part("bytes 0-1/200", "ab") + end, Error::kBadBoundary},
      {"an empty boundary", "multipart/byteranges; boundary=\"\"", "", Error::kBadBoundary},
      {"a 71-character boundary", "multipart/byteranges; boundary=" + std::string(71, 'b'), "", Error::kBadBoundary},
      {"a character no boundary holds", "multipart/byteranges; boundary=\"a@b\"", "", Error::kBadBoundary},
      {"a boundary ending with a space", "multipart/byteranges; boundary=\"ab \"", "", Error::kBadBoundary},
      {"two boundaries", "multipart/byteranges; boundary=B; boundary=C", "", Error::kBadBoundary},
      {"an unclosed quote", "multipart/byteranges; boundary=\"B", "", Error::kBadBoundary},
      {"a parameter without a value", "multipart/byteranges; boundary=", "", Error::kBadBoundary},
      {"a part without Content-Range", type, "\r\n--B\r\nContent-Type: text/plain\r\n\r\nab" + end, Error::kMissingContentRange},
      {"a part without headers", type, "\r\n--B\r\n\r\nab" + end, Error::kMissingContentRange},
      {"no complete length", type, Part("bytes 0-1", "ab") + end, Error::kBadContentRange},
      {"an inverted range", type, Part("bytes 9-0/200", "") + end, Error::kBadContentRange},
      {"a range past the complete length", type, Part("bytes 100-109/105", "0123456789") + end, Error::kBadContentRange},
      {"an unsatisfied range", type, Part("bytes */200", "") + end, Error::kBadContentRange},
      {"another unit", type, Part("items 0-1/200", "ab") + end, Error::kBadContentRange},
      {"a number over 64 bits", type, Part("bytes 0-18446744073709551616/*", "ab") + end, Error::kBadContentRange},
      {"the last offset", type, Part("bytes 0-18446744073709551615/*", "ab") + end, Error::kBadContentRange},
      {"a negative start", type, Part("bytes -1/200", "ab") + end, Error::kBadContentRange},
      {"two Content-Ranges", type, "\r\n--B\r\nContent-Range: bytes 0-1/200\r\ncontent-range: bytes 100-101/200\r\n\r\nab" + end,
       Error::kBadContentRange},
      {"a range not asked for", type, Part("bytes 50-51/200", "ab") + end, Error::kUnrequestedRange},
      {"a range partly asked for", type, Part("bytes 5-14/200", "0123456789") + end, Error::kUnrequestedRange},
      {"the same part twice", type, Part("bytes 0-1/200", "ab") + Part("bytes 0-1/200", "ab") + end, Error::kOverlappingParts},
      {"overlapping parts", type, Part("bytes 2-5/200", "cdef") + Part("bytes 0-2/200", "abc") + end, Error::kOverlappingParts},
      {"different complete lengths", type, Part("bytes 0-1/200", "ab") + Part("bytes 100-101/300", "ab") + end, Error::kTotalMismatch},
      {"data shorter than the range", type, Part("bytes 0-9/200", "01234567") + end, Error::kLengthMismatch},
      {"data longer than the range", type, Part("bytes 0-9/200", "0123456789ab") + end, Error::kLengthMismatch},
      {"another boundary after the data", type, Part("bytes 0-1/200", "ab") + "\r\n--C--\r\n", Error::kLengthMismatch},
      {"a header line without a colon", type, "\r\n--B\r\nContent-Range bytes 0-1/200\r\n\r\nab" + end, Error::kMalformed},
      {"a blank before a header's colon", type, "\r\n--B\r\nContent-Range : bytes 0-1/200\r\n\r\nab" + end, Error::kMalformed},
      {"a section starting with a folded line", type, "\r\n--B\r\n x\r\nContent-Range: bytes 0-1/200\r\n\r\nab" + end,
       Error::kMalformed},
      {"text after a boundary", type, Part("bytes 0-1/200", "ab") + "\r\n--Bx\r\n" + end, Error::kMalformed},
      {"one dash after a boundary", type, Part("bytes 0-1/200", "ab") + "\r\n--B-\r\n", Error::kMalformed},
      {"a CR not before LF", type, Part("bytes 0-1/200", "ab") + "\r\n--B\rx", Error::kMalformed},
      {"a header section over the bound", type,
       "\r\n--B\r\nX-Long: " + std::string(kMaxPartHeaderBytes, 'x') + "\r\nContent-Range: bytes 0-1/200\r\n\r\nab" + end,
       Error::kHeadersTooLong},
      {"a header section without its end", type, "\r\n--B\r\nContent-Range: bytes 0-1/200\r\n" + std::string(10000, 'x'),
       Error::kHeadersTooLong},
      {"no parts", type, "\r\n--B--\r\n", Error::kNoParts},
      {"no delimiter at all", type, "ABCDEFGHIJ", Error::kTruncated},
      {"an empty body", type, "", Error::kTruncated},
      {"no closing delimiter", type, Part("bytes 0-1/200", "ab") + "\r\n--B\r\n", Error::kTruncated},
  };
  const Ranges requested = {{0, 10}, {100, 10}};
  for (const Refusal& refusal : refusals) {
    for (const std::size_t piece : {0, 1, 4}) {
      EXPECT_EQ(Parse(refusal.contentType, "", requested, refusal.body, piece).error, refusal.error)
          << refusal.what << ", pieces of " << piece;
    }
  }
  EXPECT_EQ(ParseMultipart(Part("bytes 0-1/200", "ab") + end, {{5, 10}}).error, Error::kUnrequestedRange)
      << "a range before every asked one";
  EXPECT_EQ(ParseMultipart(Part("bytes 0-1/200", "ab") + end, {}).error, Error::kUnrequestedRange) << "nothing asked";
  // A header section just within the bound is taken.
  const std::string header = "\r\n--B\r\nContent-Range: bytes 0-1/200\r\nX-Long: ";
  const std::size_t filler = kMaxPartHeaderBytes - (header.size() - 7) - 4;  // less "\r\n--B\r\n", less "\r\n\r\n"
  EXPECT_TRUE(ParseMultipart(header + std::string(filler, 'x') + "\r\n\r\nab" + end, requested).finished);
  EXPECT_EQ(ParseMultipart(header + std::string(filler + 1, 'x') + "\r\n\r\nab" + end, requested).error, Error::kHeadersTooLong);
}

// A range may come in many parts; parts that touch count as one stretch, scattered ones each count.
TEST(MultipartRanges, ManyPartsAreTakenWhileTheyJoinUp) {
  const std::size_t count = 3 * kMaxExtraStretches;
  std::string inOrder;
  std::string scattered;
  for (std::size_t i = 0; i < count; ++i) {
    inOrder += Part("bytes " + std::to_string(i) + "-" + std::to_string(i) + "/*", "x");
    scattered += Part("bytes " + std::to_string(2 * i) + "-" + std::to_string(2 * i) + "/*", "x");
  }
  const Outcome joined = ParseMultipart(inOrder + "\r\n--B--", {{0, 1000}});
  EXPECT_TRUE(joined.finished) << DescribeRangeAnswerError(joined.error);
  EXPECT_EQ(joined.parts.size(), count);
  const Outcome refused = ParseMultipart(scattered + "\r\n--B--", {{0, 1000}});
  EXPECT_EQ(refused.error, Error::kScatteredParts);
  EXPECT_EQ(refused.parts.size(), kMaxExtraStretches + 1);
}

TEST(MultipartRanges, ASinkThatStopsGetsNoFurtherCalls) {
  for (const auto& [atPart, atData] : {std::pair{0, -1}, {1, -1}, {-1, 0}, {-1, 5}}) {
    Recorder sink;
    sink.stopAtPart = atPart;
    sink.stopAtData = atData;
    RangeAnswerParser parser(kNginxType, "", kNginxRequested, sink);
    bool fed = true;
    for (const char c : kNginxBody) fed = parser.Feed(std::string_view(&c, 1)) && fed;
    EXPECT_FALSE(fed);
    EXPECT_FALSE(parser.Finish());
    EXPECT_EQ(parser.Error(), Error::kAborted);
    EXPECT_FALSE(sink.callsAfterStop) << atPart << " " << atData;
  }
}

TEST(MultipartRanges, DataIsHandedOnAsViewsIntoTheFedPieces) {
  std::string data(4 << 20, '\0');
  std::mt19937 generator(21);
  for (char& byte : data) byte = static_cast<char>(generator() & 0xFF);
  const std::string body = "--B\r\nContent-Range: bytes 0-" + std::to_string(data.size() - 1) + "/*\r\n\r\n" + data + "\r\n--B--\r\n";

  class ViewChecker : public RangeSink {
   public:
    std::string_view piece;
    std::uint64_t bytes = 0;
    bool outside = false;
    bool Part(ByteRange) override { return true; }
    bool Data(std::string_view view) override {
      outside = outside || view.data() < piece.data() || view.data() + view.size() > piece.data() + piece.size();
      bytes += view.size();
      return true;
    }
  } sink;
  RangeAnswerParser parser("multipart/byteranges; boundary=B", "", {{0, data.size()}}, sink);
  for (std::size_t offset = 0; offset < body.size(); offset += 65536) {
    sink.piece = std::string_view(body).substr(offset, 65536);
    ASSERT_TRUE(parser.Feed(sink.piece));
  }
  EXPECT_TRUE(parser.Finish());
  EXPECT_FALSE(sink.outside) << "data was copied";
  EXPECT_EQ(sink.bytes, data.size());
}

// Damaged answers (bytes changed, dropped or repeated) are refused or read consistently, never
// with more data than a part's range or a part outside what was asked.
TEST(MultipartRanges, DamagedAnswersNeverYieldMoreThanWasAskedFor) {
  std::mt19937 generator(22);
  for (int round = 0; round < 3000; ++round) {
    std::string body(kNginxBody);
    for (int change = 0, changes = 1 + static_cast<int>(generator() % 3); change < changes; ++change) {
      const std::size_t at = generator() % body.size();
      switch (generator() % 3) {
        case 0: body[at] = static_cast<char>(generator() & 0xFF); break;
        case 1: body.erase(at, 1 + generator() % 8); break;
        default: body.insert(at, body.substr(generator() % body.size(), 1 + generator() % 8)); break;
      }
      if (body.empty()) body = "x";
    }
    const Outcome outcome = Parse(kNginxType, "", kNginxRequested, body, 1 + generator() % 16);
    for (const auto& [range, data] : outcome.parts) {
      EXPECT_TRUE(range.End() <= 10 || (range.first >= 100 && range.End() <= 110)) << body;
      if (outcome.finished) {
        EXPECT_EQ(data.size(), range.length) << body;
      }
    }
  }
}

}  // namespace
}  // namespace velmora::delta
