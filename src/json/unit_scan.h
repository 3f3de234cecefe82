// Scanning UTF-16 text eight units at a time (SSE2, which every x86-64 target has; other targets
// scan unit by unit). Internal to src/json: the parser's runs of blanks, quoted text and number
// tokens. Every function reads whole blocks only while eight units remain before `length`, so it
// never reads past the text; the caller's text must stay readable up to `length` and end (at
// `length` or before) in a unit that stops the scan.
#pragma once

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora::json {

#if defined(__SSE2__)
// The lanes of `block` that hold a decimal digit: all ones, the others zero.
inline __m128i DigitLanes(__m128i block) noexcept {
  const __m128i shifted = _mm_sub_epi16(block, _mm_set1_epi16(u'0'));
  return _mm_and_si128(_mm_cmpgt_epi16(shifted, _mm_set1_epi16(-1)), _mm_cmplt_epi16(shifted, _mm_set1_epi16(10)));
}
#endif

// The index of the first unit from `i` on that is not one of `units`, or (with `stopAt` set) that
// is one of them, looking at eight units at a time while eight remain before `length`; the
// rest unit by unit through `scalar`. Long runs (indentation, text inside quotes) are the
// common case this serves.
template <bool stopAt, typename Scalar, typename... Units>
inline std::size_t ScanRun(const char16_t* text, std::size_t length, std::size_t i, Scalar scalar, Units... units) noexcept {
#if defined(__SSE2__)
  while (i + 8 <= length) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    __m128i hits = _mm_setzero_si128();
    ((hits = _mm_or_si128(hits, _mm_cmpeq_epi16(block, _mm_set1_epi16(static_cast<short>(units))))), ...);
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if constexpr (!stopAt) mask ^= 0xFFFFu;
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask)) / 2;
    i += 8;
  }
#else
  (void)length;
#endif
  while (!scalar(text[i])) ++i;
  return i;
}

// The index of the first unit from `i` on that is not a space, one comparison per eight units:
// indentation is mostly spaces, and the unit that ends them is usually no blank at all.
inline std::size_t SkipSpaces(const char16_t* text, std::size_t length, std::size_t i) noexcept {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi16(u' ');
  while (i + 8 <= length) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const auto spaces = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, space)));
    if (spaces != 0xFFFFu) return i + static_cast<std::size_t>(__builtin_ctz(~spaces & 0xFFFFu)) / 2;
    i += 8;
  }
#else
  (void)length;
#endif
  while (text[i] == u' ') ++i;
  return i;
}

// The index of the first block of eight units from `i` on that holds a unit which cannot be part
// of a number (anything but digits, ".", "+", "-", "e" and "E"), looking only at whole blocks
// before `length`; the block where a number token ends is left to the caller's unit-by-unit scan.
inline std::size_t SkipNumberBlocks(const char16_t* text, std::size_t length, std::size_t i) noexcept {
#if defined(__SSE2__)
  while (i + 8 <= length) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const auto is = [&block](char16_t unit) { return _mm_cmpeq_epi16(block, _mm_set1_epi16(static_cast<short>(unit))); };
    const __m128i digit = DigitLanes(block);
    const __m128i signs = _mm_or_si128(is(u'-'), is(u'+'));
    const __m128i marks = _mm_or_si128(_mm_or_si128(is(u'.'), is(u'e')), is(u'E'));
    if (_mm_movemask_epi8(_mm_or_si128(digit, _mm_or_si128(signs, marks))) != 0xFFFF) break;
    i += 8;
  }
#else
  (void)text;
  (void)length;
#endif
  return i;
}

}  // namespace velmora::json
