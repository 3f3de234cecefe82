// Copying short runs of UTF-16 units without a library call: keys, numbers and short strings are
// a few dozen units at most, where a call to memcpy costs more than the copy. Internal to
// src/json. Reads and writes stay inside [from, from + size) and [to, to + size).
#pragma once

#include <cstddef>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora::json {

// Copies `size` units; returns to + size.
inline char16_t* CopyUnits(char16_t* to, const char16_t* from, std::size_t size) noexcept {
#if defined(__SSE2__)
  // Overlapping loads and stores of eight (or four) units cover every size up to 32.
  const auto copy8 = [to, from](std::size_t at) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at)));
  };
  if (size >= 8 && size <= 32) {
    copy8(0);
    if (size > 16) {
      copy8(8);
      copy8(size - 16);
    }
    copy8(size - 8);
    return to + size;
  }
  if (size >= 4 && size < 8) {
    const __m128i head = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from));
    const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + size - 4));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), head);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + size - 4), tail);
    return to + size;
  }
#endif
  if (size < 4) {
    for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
    return to + size;
  }
  std::char_traits<char16_t>::copy(to, from, size);
  return to + size;
}

}  // namespace velmora::json
