#include "text/encoding.h"

#include <gtest/gtest.h>

namespace velmora::text {
namespace {

// "更新" in UTF-8 and in GBK.
const std::string kUpdateUtf8 = "\xE6\x9B\xB4\xE6\x96\xB0";
const std::string kUpdateGbk = "\xB8\xFC\xD0\xC2";
const std::u16string kUpdateWide = u"\u66F4\u65B0";

TEST(Utf8ToNarrow, ConvertsChineseToGbk) {
  EXPECT_EQ(Utf8ToNarrow(kUpdateUtf8), kUpdateGbk);
  EXPECT_EQ(Utf8ToNarrow("plain ascii"), "plain ascii");
  EXPECT_EQ(Utf8ToNarrow(""), "");
}

TEST(Utf8ToNarrow, StopsAtFirstZeroByte) {
  EXPECT_EQ(Utf8ToNarrow(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(Utf8ToNarrow(std::string("\0cd", 3)), "");
}

TEST(Utf8ToNarrow, CharactersGbkCannotHoldBecomeQuestionMarks) {
  // Korean "한" (U+D55C) has no GBK form.
  EXPECT_EQ(Utf8ToNarrow("a\xED\x95\x9C" "b"), "a?b");
}

TEST(NarrowToWide, DecodesEachCodePage) {
  EXPECT_EQ(NarrowToWide(kUpdateUtf8), kUpdateWide);
  EXPECT_EQ(NarrowToWide(kUpdateGbk, NarrowCodePage), kUpdateWide);
  EXPECT_EQ(NarrowToWide("abc", NarrowCodePage), u"abc");
  // A character outside the Basic Multilingual Plane becomes a surrogate pair.
  EXPECT_EQ(NarrowToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(NarrowToWide, EmptyWhenNoCharacterBeforeTheFirstZero) {
  EXPECT_TRUE(NarrowToWide("").empty());
  EXPECT_TRUE(NarrowToWide(std::string("\0abc", 4)).empty());
  EXPECT_EQ(NarrowToWide(std::string("x\0abc", 5)), u"x");
}

TEST(NarrowToWide, InvalidUtf8BecomesReplacementCharacter) {
  const std::u16string wide = NarrowToWide("a\xFF" "b");
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(wide[0], u'a');
  EXPECT_EQ(wide[1], u'\xFFFD');
  EXPECT_EQ(wide[2], u'b');
}

TEST(WideToNarrow, EncodesEachCodePage) {
  EXPECT_EQ(WideToNarrow(kUpdateWide, NarrowCodePage), kUpdateGbk);
  EXPECT_EQ(WideToNarrow(kUpdateWide, Utf8CodePage), kUpdateUtf8);
  EXPECT_EQ(WideToNarrow(u"\U0001F600", Utf8CodePage), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToNarrow(u"x\U0001F600y", NarrowCodePage).front(), 'x');
  EXPECT_EQ(WideToNarrow(u"x\U0001F600y", NarrowCodePage).back(), 'y');
}

TEST(WideToNarrow, EmptyWhenNoCharacterBeforeTheFirstZeroUnit) {
  EXPECT_EQ(WideToNarrow(u"", NarrowCodePage), "");
  EXPECT_EQ(WideToNarrow(std::u16string(u"\0ab", 3), NarrowCodePage), "");
  EXPECT_EQ(WideToNarrow(std::u16string(u"a\0b", 3), NarrowCodePage), "a");
}

TEST(Conversions, RoundTripGbkThroughUtf16AndUtf8) {
  // "你懒得输入，我就写死，略略" in GBK.
  const std::string gbk =
      "\xC4\xE3\xC0\xC1\xB5\xC3\xCA\xE4\xC8\xEB\xA3\xAC\xCE\xD2\xBE\xCD\xD0\xB4\xCB\xC0\xA3\xAC\xC2\xD4\xC2\xD4";
  EXPECT_EQ(WideToNarrow(NarrowToWide(gbk, NarrowCodePage), NarrowCodePage), gbk);
  EXPECT_EQ(Utf8ToNarrow(NarrowToUtf8(gbk)), gbk);
}

TEST(CompareTexts, OrdersBytesUnsignedUpToTheFirstZero) {
  EXPECT_EQ(CompareTexts("", ""), 0);
  EXPECT_EQ(CompareTexts(std::string("\0x", 2), ""), 0);
  EXPECT_LT(CompareTexts("", "a"), 0);
  EXPECT_LT(CompareTexts("a", "b"), 0);
  EXPECT_GT(CompareTexts("b", "a"), 0);
  EXPECT_LT(CompareTexts("ab", "abc"), 0);
  EXPECT_GT(CompareTexts("\xB8\xFC", "z"), 0);  // bytes above 127 sort after ASCII
  EXPECT_EQ(CompareTexts(std::string("ab\0x", 4), std::string("ab\0y", 4)), 0);
}

}  // namespace
}  // namespace velmora::text
