#include "json/json_parser.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <string>

#include "json/json_document.h"
#include "json/number_text.h"
#include "json_test_support.h"
#include "text/encoding.h"

namespace velmora::json {
namespace {

using testing::Dump;

struct ParseCase {
  const char* text;
  ParseError code;
  std::int32_t position;  // where scanning stopped (failures only)
  const char* tree;       // the root after the parse (Dump form)
};

// Each case parses into a fresh document. Failures leave the root empty, of the kind the parse
// had given it.
const ParseCase kParseCases[] = {
    // standard and lenient forms
    {R"({"a":1,"b":[true,null,"x"]})", ParseError::None, 0, R"({"a":1,"b":[true,null,"x"]})"},
    {"   \r\n\t", ParseError::None, 0, "{}"},
    {R"({"a":1,"a":2})", ParseError::None, 0, R"({"a":2})"},
    {"{a:1}", ParseError::None, 0, R"({"a":1})"},
    {"{'a':'x'}", ParseError::None, 0, R"({"a":"x"})"},
    {R"({"it's":1})", ParseError::None, 0, R"({"it's":1})"},
    {R"({'say "hi"':"it's"})", ParseError::None, 0, R"({"say "hi"":"it's"})"},
    {R"({"a":1,})", ParseError::None, 0, R"({"a":1})"},
    {"[1,]", ParseError::None, 0, "[1]"},
    {"[1,,2]", ParseError::None, 0, "[1,2]"},
    {"[,]", ParseError::None, 0, "[]"},
    {"[[1] 2]", ParseError::None, 0, "[[1],2]"},
    {R"({"a":{} "b":1})", ParseError::None, 0, R"({"a":{},"b":1})"},
    {"[1 2]", ParseError::None, 0, "[1 ]"},  // blanks end the counted token early
    {R"([ "a b" , 3 ])", ParseError::None, 0, R"(["a b",3])"},
    {R"({ "k" : "v" , "n" : -1.5e3 })", ParseError::None, 0, R"({"k":"v","n":-1.5e3})"},
    {"[[[]],{}]", ParseError::None, 0, "[[[]],{}]"},
    // several top-level values
    {R"({"a":1}{"b":2})", ParseError::None, 0, R"({"a":1,"b":2})"},
    {"[1][2]", ParseError::None, 0, "[1,2]"},
    {R"({"a":1}[2])", ParseError::None, 0, "[2]"},
    {"{} 5", ParseError::None, 0, "5"},
    // top-level scalars: the rest of the text is the token
    {"  42", ParseError::None, 0, "42"},
    {"42 ", ParseError::None, 0, "42 "},
    {R"("top")", ParseError::None, 0, R"("top")"},
    {"null", ParseError::None, 0, "null"},
    // failures: code and position
    {"", ParseError::NoInput, 0, "{}"},
    {R"({"":1})", ParseError::BadObject, 3, "{}"},
    //    ^ the colon after an empty key
    {R"({"a" "b":1})", ParseError::BadObject, 6, "{}"},
    //        ^ just after the quote that opens after key characters
    {R"({ab"c":1})", ParseError::BadObject, 4, "{}"},
    {"{,}", ParseError::BadValue, 0, "{}"},
    {"[{} {}]", ParseError::BadObject, 4, "[]"},
    //     ^ a container after a container without a comma
    {R"({"a":1 "b":2})", ParseError::BadValue, 5, "{}"},
    //      ^ the token "1 "b":" starts here
    {R"({"a":})", ParseError::BadValue, 5, "{}"},
    {R"({"a"})", ParseError::BadValue, 0, "{}"},  // no colon read: position 0
    {"[1,2", ParseError::Unclosed, 5, "[]"},      // L + 1
    {R"({"a":[1,2})", ParseError::BadValue, 8, "{}"},
    {"[1}", ParseError::BadValue, 1, "[]"},
    {R"(["abc)", ParseError::BadValue, 1, "[]"},
    {R"({"a":"x})", ParseError::BadValue, 5, "{}"},
    {R"("x" )", ParseError::BadValue, 0, "{}"},
    {"tru", ParseError::BadValue, 0, "{}"},
    {"TRUE", ParseError::BadValue, 0, "{}"},
    {R"({"a":1}})", ParseError::BadValue, 7, "{}"},
    {"[0x1F]", ParseError::BadValue, 1, "[]"},
    {"{{", ParseError::BadObject, 1, "{}"},
    {R"({"a":1 {)", ParseError::BadValue, 5, "{}"},
};

class ParseCases : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCases, GiveCodePositionAndTree) {
  const ParseCase& c = GetParam();
  JsonDocument document;
  ParseError code = ParseError::None;
  std::int32_t position = -1;
  const bool ok = document.Parse(c.text, false, &code, &position);
  EXPECT_EQ(ok, c.code == ParseError::None);
  EXPECT_EQ(code, c.code);
  EXPECT_EQ(position, c.code == ParseError::None ? 0 : c.position);
  EXPECT_EQ(Dump(document), c.tree);
}

INSTANTIATE_TEST_SUITE_P(Parser, ParseCases, ::testing::ValuesIn(kParseCases));

TEST(Parser, EmptyTextLeavesTheTreeAlone) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(R"({"a":1})"));
  ParseError code = ParseError::None;
  EXPECT_FALSE(document.Parse("", false, &code));
  EXPECT_EQ(code, ParseError::NoInput);
  EXPECT_EQ(document.GetText("a"), "1");
  EXPECT_FALSE(document.ParseWide(std::u16string(u"\0{}", 3), false, &code));  // read up to the NUL
  EXPECT_EQ(code, ParseError::NoInput);
}

TEST(Parser, ParsesIntoTheSameRootNodeSeenBySharingDocuments) {
  JsonDocument first;
  ASSERT_TRUE(first.Parse(R"({"a":1})"));
  JsonDocument second = first.Copy();
  ASSERT_TRUE(first.Parse("[5]"));
  EXPECT_EQ(first.GetRoot(), second.GetRoot());
  EXPECT_EQ(Dump(second), "[5]");
  EXPECT_FALSE(first.Parse("[5"));
  EXPECT_EQ(Dump(second), "[]");  // a failure leaves no partial content behind
}

TEST(Parser, ResetGivesAFreshRootAndLeavesTheOldOneToItsOtherHolders) {
  JsonDocument first;
  ASSERT_TRUE(first.Parse("[1]"));
  JsonDocument second = first.Copy();
  EXPECT_TRUE(first.Reset("ignored"));
  EXPECT_EQ(Dump(first), "{}");
  EXPECT_EQ(Dump(second), "[1]");
  ParseError code = ParseError::None;
  EXPECT_FALSE(first.ResetWide(u"[1,", true, false, &code));
  EXPECT_EQ(code, ParseError::Unclosed);
  EXPECT_TRUE(first.Reset(R"({"z":true})", true));
  EXPECT_TRUE(first.GetBool("z"));
}

TEST(Parser, KeepsNumbersAsWrittenAndClassifiesThem) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse("[9007199254740993, 1.50, 007, -12, +5, 1-2, 2e3, -0]"));
  const JsonNode* root = document.GetRoot();
  (void)root;
  EXPECT_EQ(document.GetType("[0]"), JsonKind::Integer);
  EXPECT_EQ(document.GetInt64("[0]"), 9007199254740993LL);
  EXPECT_EQ(document.GetType("[1]"), JsonKind::Real);
  EXPECT_EQ(document.GetLiteral("[1]"), "1.50");
  EXPECT_DOUBLE_EQ(document.GetNumber("[1]"), 1.5);
  EXPECT_EQ(document.GetType("[2]"), JsonKind::Integer);
  EXPECT_EQ(document.GetLiteral("[2]"), "007");
  EXPECT_EQ(document.GetInt("[2]"), 7);
  EXPECT_EQ(document.GetInt64("[3]"), -12);
  EXPECT_EQ(document.GetType("[4]"), JsonKind::Integer);
  EXPECT_EQ(document.GetInt64("[4]"), 5);
  EXPECT_EQ(document.GetType("[5]"), JsonKind::Real);
  EXPECT_DOUBLE_EQ(document.GetNumber("[5]"), 1.0);
  EXPECT_DOUBLE_EQ(document.GetNumber("[6]"), 2000.0);
  EXPECT_EQ(document.GetType("[7]"), JsonKind::Integer);
}

TEST(Parser, StringsAreUnescapedAndEscapesOfUnicodeDecodedOnRequest) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(R"(["a\nb", "\u0041", "\'", "\r\n", "tab\there", "q\"q", "\\n", "a\/b"])"));
  EXPECT_EQ(document.GetTextWide(u"[0]"), u"a\r\nb");
  EXPECT_EQ(document.GetTextWide(u"[1]"), u"\\u0041");
  EXPECT_EQ(document.GetTextWide(u"[2]"), u"\\'");
  EXPECT_EQ(document.GetTextWide(u"[3]"), u"\r\n");
  EXPECT_EQ(document.GetTextWide(u"[4]"), u"tab\there");
  EXPECT_EQ(document.GetTextWide(u"[5]"), u"q\"q");
  EXPECT_EQ(document.GetTextWide(u"[6]"), u"\\n");
  EXPECT_EQ(document.GetTextWide(u"[7]"), u"a/b");

  ASSERT_TRUE(document.Parse(R"({"\u0041\u00e9":"\uD83D\uDE00","x":"\u00zz"})", true));
  EXPECT_EQ(document.GetTextWide(u"A\u00E9"), u"\U0001F600");
  EXPECT_EQ(document.GetTextWide(u"x"), u"\\u00zz");  // not four hex digits: left as written
}

TEST(Parser, EscapesAtTheEndOfTheTextNeverReadPastIt) {
  for (const char16_t* text : {u"[\"\\", u"[\"\\u12", u"{\"a\\u", u"\"\\u00", u"[1\\"}) {
    JsonDocument document;
    ParseError code = ParseError::None;
    EXPECT_FALSE(document.ParseWide(text, true, &code)) << testing::Narrow(text);
  }
}

TEST(Parser, ParsesGbkText) {
  JsonDocument document;
  // {"名":"更新"} in GBK
  ASSERT_TRUE(document.Parse("{\"\xC3\xFB\":\"\xB8\xFC\xD0\xC2\"}"));
  EXPECT_EQ(document.GetText("\xC3\xFB"), "\xB8\xFC\xD0\xC2");
  EXPECT_EQ(document.GetTextWide(u"\u540D"), u"\u66F4\u65B0");
}

TEST(Parser, GbkTextReadsAsTheSystemConvertsItWhole) {
  // The leading ASCII is widened directly and the rest converted from the first byte of a
  // double-byte character: the result must equal the conversion of the whole text.
  const std::string cases[] = {
      "\"plain ascii text, longer than eight bytes\"",
      "\"twelve bytes\xB8\xFC\xD0\xC2 then ascii\"",  // a character after a long ASCII run
      "\"\xB8\xFC\"",                                   // at the start
      "\"abcdefg\x81\x40xyz\"",                          // a trail byte in the ASCII range
      "\"abc\xB8\"",                                     // a lead byte without its trail
      std::string("\"abcdefgh\"\0\"ignored\"", 20),      // the text ends at a NUL
      // characters between long ASCII runs, a lead byte before a quote, one at the very end
      "[\"\xB8\xFC" + std::string(300, 'a') + "\xD0\xC2\", \"\xB8\"" + std::string(200, ' ') + ",\"x\xB8",
  };
  for (const std::string& text : cases) {
    JsonDocument byGbk;
    JsonDocument byWide;
    const std::u16string whole = text::NarrowToWide(text, text::NarrowCodePage);
    EXPECT_EQ(byGbk.Parse(text), byWide.ParseWide(whole)) << text;
    EXPECT_EQ(byGbk.GetTextWide(u""), byWide.GetTextWide(u"")) << text;
    EXPECT_EQ(byGbk.NewText(text).GetTextWide(u""), byWide.NewTextWide(whole).GetTextWide(u"")) << text;
  }
}

struct UnescapeCase {
  const char16_t* input;
  bool decode;
  const char16_t* output;
};

const UnescapeCase kUnescapeCases[] = {
    {u"plain", false, u"plain"},
    {u"a\\\\b", false, u"a\\b"},
    {u"\\/\\\"", false, u"/\""},
    {u"\\b\\t\\r\\f", false, u"\b\t\r\f"},
    {u"a\\nb", false, u"a\r\nb"},
    {u"\\nb", false, u"\nb"},          // a backslash that starts the buffer
    {u"\\r\\n", false, u"\r\n"},       // after a CR: LF only
    {u"\\\\n", false, u"\\n"},         // what an escape produced is not read again
    {u"\\u0041", false, u"\\u0041"},
    {u"\\u0041", true, u"A"},
    {u"\\u004a\\u004A", true, u"JJ"},
    {u"\\u12", true, u"\\u12"},
    {u"\\'\\x", false, u"\\'\\x"},
    {u"end\\", false, u"end\\"},
};

TEST(Unescape, FollowsTheEscapeTable) {
  for (const UnescapeCase& c : kUnescapeCases) {
    std::u16string buffer(c.input);
    buffer.resize(Unescape(buffer.data(), buffer.size(), c.decode));
    EXPECT_EQ(buffer, c.output) << testing::Narrow(c.input);
  }
}

struct NumberCase {
  const char16_t* token;
  NumberClass kind;
  double value;
};

const NumberCase kNumberCases[] = {
    {u"-12", NumberClass::Integer, -12},  {u"+5", NumberClass::Integer, 5},     {u"1.5", NumberClass::Real, 1.5},
    {u"2e3", NumberClass::Real, 2000},    {u"1e+3", NumberClass::Real, 1000},   {u"1-2", NumberClass::Real, 1},
    {u".", NumberClass::Real, 0},         {u"-", NumberClass::Integer, 0},      {u"007", NumberClass::Integer, 7},
    {u".5", NumberClass::Real, 0.5},      {u"5.", NumberClass::Real, 5},        {u"1e", NumberClass::Real, 1},
    {u"0x1F", NumberClass::NotANumber, 0}, {u"1.2.3", NumberClass::NotANumber, 0}, {u"1e2e3", NumberClass::NotANumber, 0},
    {u"", NumberClass::NotANumber, 0},    {u"e5", NumberClass::NotANumber, 0},  {u"1 ", NumberClass::Integer, 1},
};

TEST(NumberText, ClassifiesAndReadsTokens) {
  for (const NumberCase& c : kNumberCases) {
    EXPECT_EQ(ClassifyNumber(c.token), c.kind) << testing::Narrow(c.token);
    if (c.kind == NumberClass::Real) {
      EXPECT_DOUBLE_EQ(ReadReal(c.token), c.value) << testing::Narrow(c.token);
    }
    if (c.kind == NumberClass::Integer) {
      EXPECT_EQ(ReadInt64(c.token), static_cast<std::int64_t>(c.value));
    }
  }
}

TEST(NumberText, ReadersFollowTheirConversionRules) {
  EXPECT_EQ(ReadInt64(u"  -42abc"), -42);
  EXPECT_EQ(ReadInt64(u"99999999999999999999"), INT64_MAX);
  EXPECT_EQ(ReadInt64(u"-99999999999999999999"), INT64_MIN);
  EXPECT_EQ(ReadInt64(u"-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(ReadInt32(u"12x"), 12);
  EXPECT_EQ(ReadInt32(u"-7"), -7);
  EXPECT_EQ(ReadInt32(u" 7"), 0);  // no leading blanks
  EXPECT_EQ(ReadInt32(u""), 0);
  EXPECT_DOUBLE_EQ(ReadReal(u" \t-65.613616999999977,"), -65.613616999999977);
  EXPECT_DOUBLE_EQ(ReadReal(u"1e400"), HUGE_VAL);
  EXPECT_DOUBLE_EQ(ReadReal(u"inf"), 0.0);  // decimal numbers only
  EXPECT_EQ(FormatReal(0.1), u"0.1");
  EXPECT_EQ(FormatReal(100.0), u"100");
  EXPECT_EQ(FormatReal(1e20), u"1e+20");
  EXPECT_EQ(FormatReal(1.0 / 3), u"0.3333333333333");
  EXPECT_EQ(FormatInteger(-5), u"-5");
}

TEST(NumberText, IntegerTokensSaturateAsTheIntegerReaderDoes) {
  for (const char16_t* text : {u"9223372036854775807", u"9223372036854775808", u"-9223372036854775808",
                               u"-9223372036854775809", u"9999999999999999999", u"-9999999999999999999",
                               u"99999999999999999999", u"0000000000000000000000012", u"-0", u"+0", u"+42"}) {
    std::int64_t integer = 1;
    double real = 0;
    ASSERT_EQ(ReadNumber(text, &integer, &real), NumberClass::Integer) << testing::Narrow(text);
    EXPECT_EQ(integer, ReadInt64(text)) << testing::Narrow(text);
  }
}

TEST(NumberText, RealsAreCorrectlyRounded) {
  // Long mantissas with moderate exponents take the parser's fast path; every result must be
  // the correctly rounded double, as the general conversion gives it.
  std::mt19937_64 random(936);
  for (int i = 0; i < 20000; ++i) {
    const int digits = 1 + static_cast<int>(random() % 20);
    std::string text = std::to_string(random() % 9 + 1);
    for (int d = 1; d < digits; ++d) text += static_cast<char>('0' + random() % 10);
    const int point = static_cast<int>(random() % static_cast<unsigned>(digits + 1));
    text = testing::Joined(text.substr(0, static_cast<std::size_t>(point)), ".", text.substr(static_cast<std::size_t>(point)));
    if (random() % 3 == 0) text += testing::Joined("e", static_cast<int>(random() % 40) - 20);
    double expected = 0;
    std::from_chars(text.data(), text.data() + text.size(), expected);
    std::int64_t integer = 0;
    double real = 0;
    ASSERT_EQ(ReadNumber(std::u16string(text.begin(), text.end()), &integer, &real), NumberClass::Real) << text;
    ASSERT_EQ(real, expected) << text;
  }
  // Values on or next to a midpoint between two doubles (ties go to the even neighbour), with
  // 19 and more significant digits, and tiny scales.
  for (const char16_t* text : {u"9007199254740993", u"9007199254740993.0", u"1.00000000000000011102230246251565404",
                               u"2.2250738585072011e-308", u"-65.613616999999977", u"0.1e1", u"123456789012345678.9e-10",
                               u"4503599627370496.5", u"4503599627370497.5", u"4503599627370496.50000001",
                               u"-4503599627370497.49999", u"9999999999999999999e-27", u"9999999999999999999e-28",
                               u"1844674407370955161.5", u"0.000000000000000000000000001", u"-0.0"}) {
    std::int64_t integer = 0;
    double real = 0;
    const std::u16string wide(text);
    const std::string narrow(wide.begin(), wide.end());
    double expected = 0;
    std::from_chars(narrow.data() + (narrow[0] == '-'), narrow.data() + narrow.size(), expected);
    if (narrow[0] == '-') expected = -expected;
    if (ReadNumber(wide, &integer, &real) == NumberClass::Real) {
      EXPECT_EQ(real, expected) << narrow;
    }
  }
}

}  // namespace
}  // namespace velmora::json
