#include "json/number_text.h"

#include "json/json_node.h"
#include "json/number_scan.h"
#include "json/unit_scan.h"

#include <charconv>
#include <cstdlib>
#include <limits>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora::json {
namespace {

bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }

// White space as the C library's isspace sees it in the "C" locale.
bool IsCSpace(char16_t c) noexcept { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string Widen(const char* begin, const char* end) { return std::u16string(begin, end); }

}  // namespace

NumberClass ClassifyNumber(std::u16string_view token) noexcept {
  if (token.empty()) return NumberClass::NotANumber;
  int points = 0;
  int exponents = 0;
  int signs = 0;
  for (std::size_t k = 0; k < token.size(); ++k) {
    const char16_t c = token[k];
    if (c <= 0x20) continue;
    if (k == 0) {
      if (c == u'.') {
        ++points;
      } else if (!IsDigit(c) && c != u'+' && c != u'-') {
        return NumberClass::NotANumber;
      }
      continue;
    }
    if (IsDigit(c)) continue;
    if (c == u'.') {
      if (++points > 1) return NumberClass::NotANumber;
    } else if (c == u'e' || c == u'E') {
      if (++exponents > 1) return NumberClass::NotANumber;
    } else if (c == u'+' || c == u'-') {
      if (++signs > 1) return NumberClass::NotANumber;
    } else {
      return NumberClass::NotANumber;
    }
  }
  return points + exponents + signs > 0 ? NumberClass::Real : NumberClass::Integer;
}

namespace {

// What one pass over a token found: its units copied as ASCII (when all fit), the counts that
// classify it, and whether it holds a unit that makes the general rules apply.
struct TokenScan {
  int points = 0;
  int exponents = 0;
  int signs = 0;     // after the first position
  bool plain = true; // no blank or control unit, and short enough for the copy
  bool number = true;
};

// Classifies units [from, to) of a token into `scan`, copying them to `ascii`.
void ScanUnits(const char16_t* units, std::size_t from, std::size_t to, char* ascii, TokenScan* scan) noexcept {
  for (std::size_t k = from; k < to && scan->number && scan->plain; ++k) {
    const char16_t c = units[k];
    ascii[k] = static_cast<char>(c);
    if (static_cast<unsigned>(c - u'0') <= 9u) continue;
    if (c == u'.') {
      ++scan->points;
    } else if (c == u'+' || c == u'-') {
      if (k > 0) ++scan->signs;
    } else if ((c == u'e' || c == u'E') && k > 0) {
      ++scan->exponents;
    } else if (c <= 0x20) {
      scan->plain = false;  // blanks and control units are skipped: the general rules apply
    } else {
      scan->number = false;
    }
  }
}

#if defined(__SSE2__)
// How many units a byte mask marks (two bits each), told apart only as 0, 1 or more: more than
// one of any kind makes the token no number.
int CountOf(unsigned mask) noexcept {
  const unsigned units = mask & 0x5555u;
  return units == 0 ? 0 : ((units & (units - 1)) == 0 ? 1 : 2);
}

// ScanUnits for eight units at once, starting past the first position.
void ScanEight(const char16_t* units, std::size_t from, char* ascii, TokenScan* scan) noexcept {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + from));
  const auto is = [&block](char16_t unit) { return _mm_cmpeq_epi16(block, _mm_set1_epi16(static_cast<short>(unit))); };
  // Digits: unit - '0' below 10, compared as signed 16-bit lanes after the shift.
  const __m128i digit = DigitLanes(block);
  const auto point = static_cast<unsigned>(_mm_movemask_epi8(is(u'.')));
  const auto sign = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(is(u'+'), is(u'-'))));
  const auto exponent = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(is(u'e'), is(u'E'))));
  const auto known = static_cast<unsigned>(_mm_movemask_epi8(digit)) | point | sign | exponent;
  if (known != 0xFFFFu) {  // some other unit: decided one by one
    ScanUnits(units, from, from + 8, ascii, scan);
    return;
  }
  _mm_storel_epi64(reinterpret_cast<__m128i*>(ascii + from), _mm_packus_epi16(block, block));
  scan->points += CountOf(point);
  scan->signs += CountOf(sign);
  scan->exponents += CountOf(exponent);
}
#endif

// Digits after at most a leading sign, 18 units at most: no overflow is possible.
std::int64_t ShortInteger(std::u16string_view token) noexcept {
  std::size_t k = 0;
  const bool negative = token[0] == u'-';
  if (token[0] == u'-' || token[0] == u'+') k = 1;
  std::int64_t value = 0;
  for (; k < token.size(); ++k) value = value * 10 + (token[k] - u'0');
  return negative ? -value : value;
}

}  // namespace

NumberClass ReadNumber(std::u16string_view token, std::int64_t* integer, double* real) noexcept {
  // The common token ("-65.613616999999977", "12") has no blanks and fits the buffer: classified
  // and copied as ASCII in one pass, eight units at a time where it can, then converted.
  constexpr std::size_t kLongest = 64;
  char ascii[kLongest];
  TokenScan scan;
  scan.plain = !token.empty() && token.size() <= kLongest;
  std::size_t k = 0;
  if (scan.plain) {
    ScanUnits(token.data(), 0, 1, ascii, &scan);  // the first unit has rules of its own
    k = 1;
#if defined(__SSE2__)
    for (; k + 8 <= token.size() && scan.number && scan.plain; k += 8) ScanEight(token.data(), k, ascii, &scan);
#endif
    ScanUnits(token.data(), k, token.size(), ascii, &scan);
  }
  if (!scan.number || scan.points > 1 || scan.exponents > 1 || scan.signs > 1) return NumberClass::NotANumber;
  if (!scan.plain) {
    const NumberClass kind = ClassifyNumber(token);
    if (kind == NumberClass::Integer) *integer = ReadInt64(token);
    if (kind == NumberClass::Real && real != nullptr) *real = ReadReal(token);
    return kind;
  }
  if (scan.points + scan.exponents + scan.signs == 0) {  // digits after at most a leading sign
    *integer = token.size() <= 18 ? ShortInteger(token) : ReadInt64(token);
    return NumberClass::Integer;
  }
  if (real == nullptr) return NumberClass::Real;
  // The longest decimal prefix, as atof reads it ("1-2" is 1, "." is 0), correctly rounded.
  const char* begin = ascii;
  const char* end = ascii + token.size();
  bool negative = false;
  if (*begin == '+' || *begin == '-') negative = *begin++ == '-';
  double value = 0.0;
  if (begin < end && *begin != '+' && *begin != '-') {
    const auto result = std::from_chars(begin, end, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
      value = ReadReal(token.substr(static_cast<std::size_t>(begin - ascii)));
    } else if (result.ec != std::errc()) {
      value = 0.0;
    }
  }
  *real = negative ? -value : value;
  return NumberClass::Real;
}

NumberClass CountNumberRun(const char16_t* text, std::size_t length, std::size_t start, std::size_t* end,
                           std::int64_t* integer) noexcept {
  std::size_t i = SkipNumberBlocks(text, length, start + 1);
  while (IsDigit(text[i]) || IsNumberMark(text[i])) ++i;
  *end = i;
  return ReadNumber(std::u16string_view(text + start, i - start), integer, nullptr);
}

double ReadParsedReal(std::u16string_view text) noexcept {
  std::int64_t integer = 0;
  double real = 0.0;
  ReadNumber(text, &integer, &real);
  return real;
}

std::int64_t ReadInt64(std::u16string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  // Accumulated as a negative number, which reaches the minimum of the type.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  bool overflow = false;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    const int digit = text[i] - u'0';
    if (value < (kMin + digit) / 10) {
      overflow = true;
      continue;
    }
    value = value * 10 - digit;
  }
  if (overflow) return negative ? kMin : std::numeric_limits<std::int64_t>::max();
  if (negative) return value;
  return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}

std::int32_t ReadInt32(std::u16string_view text) noexcept {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  std::uint32_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) value = value * 10u + static_cast<std::uint32_t>(text[i] - u'0');
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

double ReadReal(std::u16string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  // Copy the longest decimal prefix, as ASCII, into a buffer for the conversion.
  char local[96];
  std::string spill;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  const std::size_t mantissaStart = i;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == u'.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  std::size_t end = i;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) ++j;
      end = j;
    }
  }
  const std::size_t length = end - mantissaStart;
  char* buffer = local;
  if (length + 1 > sizeof local) {
    spill.resize(length + 1);
    buffer = spill.data();
  }
  for (std::size_t k = 0; k < length; ++k) buffer[k] = static_cast<char>(text[mantissaStart + k]);
  buffer[length] = '\0';
  double value = 0.0;
  const auto result = std::from_chars(buffer, buffer + length, value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) value = std::strtod(buffer, nullptr);
  return negative ? -value : value;
}

std::u16string FormatReal(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 13);
  return Widen(buffer, result.ptr);
}

std::u16string FormatInteger(std::int64_t value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return Widen(buffer, result.ptr);
}

}  // namespace velmora::json
