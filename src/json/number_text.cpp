#include "json/number_text.h"

#include <cfloat>
#include <charconv>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <system_error>

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

// Powers of ten that a double holds exactly.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

#if LDBL_MANT_DIG == 64
// Powers of ten that the x87 extended format holds exactly (5^27 < 2^64).
constexpr long double kExactLongPowers[] = {
    1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
    1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};

// mantissa * 10^scale rounded to double through one extended-precision step. That step errs by
// at most half a unit of its 64-bit mantissa, so rounding its result to 53 bits gives the
// correctly rounded double unless the result lies exactly on (or next to) a midpoint between two
// doubles: those few are left to the general conversion.
//
// The x87 unit rounds to the precision its control word sets, which other code in the process
// (and tools such as valgrind) may lower to 53 bits; the step is only taken while 64 bits hold.
bool ExtendedPrecisionActive() noexcept {
  volatile long double one = 1.0L;
  volatile long double least = 0x1p-63L;  // the last bit of a 64-bit mantissa at 1.0
  return one + least != one;
}

bool ExtendedReal(std::uint64_t mantissa, int scale, double* value) noexcept {
  if (scale < -27 || scale > 27 || !ExtendedPrecisionActive()) return false;
  long double result = static_cast<long double>(mantissa);  // exact: 64-bit mantissa
  result = scale < 0 ? result / kExactLongPowers[-scale] : result * kExactLongPowers[scale];
  std::uint64_t bits;
  std::memcpy(&bits, &result, sizeof bits);  // the explicit 64-bit mantissa comes first
  const std::uint64_t below = bits & 0x7FF;  // the 11 bits a double does not keep
  if (below >= 0x3FF && below <= 0x401) return false;
  *value = static_cast<double>(result);
  return true;
}
#else
bool ExtendedReal(std::uint64_t, int, double*) noexcept { return false; }
#endif

// A plain decimal real ("-65.61", "2e3"; at most one leading sign) converted when its digits and
// exponent allow a rounding-free step (at most 2^53 and 10^22), or an extended-precision step
// that provably rounds right; false otherwise.
bool ExactReal(const char* begin, const char* end, double* value) noexcept {
  bool negative = false;
  if (*begin == '+' || *begin == '-') negative = *begin++ == '-';
  std::uint64_t mantissa = 0;
  int digits = 0;
  int scale = 0;  // the power of ten the mantissa is multiplied by
  const char* p = begin;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    if (mantissa == 0 && *p == '0') continue;
    if (++digits > 19) return false;  // 19 digits always fit 64 bits
    mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
  }
  if (p < end && *p == '.') {
    for (++p; p < end && *p >= '0' && *p <= '9'; ++p) {
      --scale;
      if (mantissa == 0 && *p == '0') continue;
      if (++digits > 19) return false;
      mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    }
  }
  if (p == begin || (p == begin + 1 && *begin == '.')) return false;
  if (p < end) {
    if (*p != 'e' && *p != 'E') return false;
    ++p;
    bool negativeExponent = false;
    if (p < end && (*p == '+' || *p == '-')) negativeExponent = *p++ == '-';
    if (p == end) return false;
    int exponent = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
      if (exponent > 1000) return false;
      exponent = exponent * 10 + (*p - '0');
    }
    if (p != end) return false;
    scale += negativeExponent ? -exponent : exponent;
  }
  double result = 0.0;
  if (mantissa <= (std::uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
    result = static_cast<double>(mantissa);
    result = scale < 0 ? result / kExactPowers[-scale] : result * kExactPowers[scale];
  } else if (!ExtendedReal(mantissa, scale, &result)) {
    return false;
  }
  *value = negative ? -result : result;
  return true;
}

}  // namespace

NumberClass ReadNumber(std::u16string_view token, std::int64_t* integer, double* real) noexcept {
  // The common token ("-65.61361699", "12") has no blanks and fits the buffer: classified and
  // copied as ASCII in one pass, then converted from the copy.
  constexpr std::size_t kLongest = 64;
  char ascii[kLongest];
  bool plain = !token.empty() && token.size() <= kLongest;
  int points = 0;
  int exponents = 0;
  int signs = 0;
  for (std::size_t k = 0; plain && k < token.size(); ++k) {
    const char16_t c = token[k];
    ascii[k] = static_cast<char>(c);
    if (static_cast<unsigned>(c - u'0') <= 9u) continue;
    if (c == u'.') {
      if (++points > 1) return NumberClass::NotANumber;
    } else if (c == u'+' || c == u'-') {
      if (k > 0 && ++signs > 1) return NumberClass::NotANumber;
    } else if ((c == u'e' || c == u'E') && k > 0) {
      if (++exponents > 1) return NumberClass::NotANumber;
    } else if (c <= 0x20) {
      plain = false;  // blanks and control units are skipped: the general rules apply
    } else {
      return NumberClass::NotANumber;
    }
  }
  if (!plain) {
    const NumberClass kind = ClassifyNumber(token);
    if (kind == NumberClass::Integer) *integer = ReadInt64(token);
    if (kind == NumberClass::Real) *real = ReadReal(token);
    return kind;
  }
  if (points + exponents + signs == 0) {  // digits after at most a leading sign
    *integer = ReadInt64(token);
    return NumberClass::Integer;
  }
  const char* end = ascii + token.size();
  if (!ExactReal(ascii, end, real)) {
    // The longest decimal prefix, as atof reads it ("1-2" is 1, "." is 0), correctly rounded.
    const char* begin = ascii;
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
  }
  return NumberClass::Real;
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
