// The parser's one-pass reading of a number token: the run of number units is followed with
// eight-unit reads, classified as ReadNumber classifies it, and an integer's value read eight
// digits at a time. Internal to src/json; inline, as the parser runs it for every number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "json/number_text.h"
#include "json/unit_scan.h"

namespace velmora::json {

inline bool IsDecimalDigit(char16_t c) noexcept { return static_cast<unsigned>(c - u'0') <= 9u; }

#if defined(__SSE2__)
// The value of eight ASCII digits packed in a 64-bit word, the first digit in the lowest byte:
// pairs, then quadruples, then the whole, each step one multiplication.
inline std::uint32_t EightDigits(std::uint64_t digits) noexcept {
  constexpr std::uint64_t kLowBytes = 0x000000FF000000FFull;
  constexpr std::uint64_t kPairs = 100 + (1000000ull << 32);
  constexpr std::uint64_t kSingles = 1 + (10000ull << 32);
  digits -= 0x3030303030303030ull;
  digits = digits * 10 + (digits >> 8);
  digits = (((digits & kLowBytes) * kPairs) + (((digits >> 16) & kLowBytes) * kSingles)) >> 32;
  return static_cast<std::uint32_t>(digits);
}

// The `count` (1 to 8) digits that end at `last` (exclusive), packed as ASCII bytes with "0"
// in front: the eight units before `last` are read, so at least eight must be readable there.
inline std::uint64_t PackedDigits(const char16_t* last, std::size_t count) noexcept {
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(last - 8));
  std::uint64_t packed;
  _mm_storel_epi64(reinterpret_cast<__m128i*>(&packed), _mm_packus_epi16(units, units));
  if (count < 8) {
    const std::uint64_t leading = (std::uint64_t{1} << (8 * (8 - count))) - 1;  // bytes before the digits
    packed = (packed & ~leading) | (0x3030303030303030ull & leading);
  }
  return packed;
}
#endif

// The value of `count` (at most 18) decimal digits starting at text[first].
inline std::uint64_t DigitsValue(const char16_t* text, std::size_t first, std::size_t count) noexcept {
#if defined(__SSE2__)
  // Read in blocks of eight that end at the last digit; the units before the first digit that a
  // block takes in (at least eight are there) count as zeros.
  const std::size_t end = first + count;
  if (count >= 1 && count <= 16 && end >= 16) {
    const std::uint64_t low = EightDigits(PackedDigits(text + end, count < 8 ? count : 8));
    if (count <= 8) return low;
    return std::uint64_t{EightDigits(PackedDigits(text + end - 8, count - 8))} * 100000000u + low;
  }
#endif
  std::uint64_t value = 0;
  for (std::size_t k = first; k < first + count; ++k) value = value * 10 + static_cast<std::uint64_t>(text[k] - u'0');
  return value;
}

// The end of the run of decimal digits from `i` on, eight units at a time while eight remain.
inline std::size_t SkipDigits(const char16_t* text, std::size_t length, std::size_t i) noexcept {
#if defined(__SSE2__)
  while (i + 8 <= length) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i digit = DigitLanes(block);
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(digit));
    if (mask != 0xFFFFu) return i + static_cast<std::size_t>(__builtin_ctz(~mask & 0xFFFFu)) / 2;
    i += 8;
  }
#else
  (void)length;
#endif
  while (IsDecimalDigit(text[i])) ++i;
  return i;
}

inline bool IsNumberMark(char16_t c) noexcept { return c == u'.' || c == u'e' || c == u'E' || c == u'+' || c == u'-'; }

// ScanNumberRun for any run: found to its end, then read by ReadNumber (number_text.cpp).
NumberClass CountNumberRun(const char16_t* text, std::size_t length, std::size_t start, std::size_t* end,
                           std::int64_t* integer) noexcept;

// The run of number units (digits, ".", "e", "E", "+", "-") that starts at `start` with a digit
// or "-". Sets *end to one past the run and returns what ReadNumber returns for the run (with
// *integer set for an integer; reals are only classified). `text` must stay readable up to
// `length` and hold a unit after the run that is not one of them.
[[gnu::always_inline]] inline NumberClass ScanNumberRun(const char16_t* text, std::size_t length, std::size_t start, std::size_t* end,
                          std::int64_t* integer) noexcept {
  // The usual shapes, -?digits(.digits)?([eE][+-]?digits)?, are followed digit run by digit run;
  // a mark anywhere else sends the run to the general count.
  std::size_t i = SkipDigits(text, length, start + 1);
  bool real = false;
  if (text[i] == u'.') {
    real = true;
    i = SkipDigits(text, length, i + 1);
  }
  if (text[i] == u'e' || text[i] == u'E') {
    real = true;
    ++i;
    if (text[i] == u'+' || text[i] == u'-') ++i;
    i = SkipDigits(text, length, i);
  }
  if (IsNumberMark(text[i])) return CountNumberRun(text, length, start, end, integer);
  *end = i;
  if (real) return NumberClass::Real;
  const bool negative = text[start] == u'-';
  const std::size_t first = negative ? start + 1 : start;
  if (i - start > 18) {
    *integer = ReadInt64(std::u16string_view(text + start, i - start));
  } else {
    // Digits after at most a leading "-" (18 at most: no overflow), as ShortInteger reads them.
    const auto value = static_cast<std::int64_t>(DigitsValue(text, first, i - first));
    *integer = negative ? -value : value;
  }
  return NumberClass::Integer;
}

}  // namespace velmora::json
