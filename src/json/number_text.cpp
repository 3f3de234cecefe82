#include "json/number_text.h"

#include <bit>
#include <charconv>
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

// A token of the strict decimal form: [sign] digits [. digits] [e|E [sign] digits], with at
// least one mantissa digit. The significant digits (at most 19) make `mantissa`, and the value
// is mantissa * 10^scale.
struct PlainDecimal {
  bool negative = false;
  bool real = false;  // a point or an exponent
  std::uint64_t mantissa = 0;
  int digits = 0;     // significant digits in the mantissa
  int scale = 0;
};

// False when the token is not of the strict form or has more than 19 significant digits (or a
// huge exponent): the general rules then apply.
bool ReadPlainDecimal(std::u16string_view token, PlainDecimal* decimal) noexcept {
  std::size_t k = 0;
  const std::size_t size = token.size();
  if (k < size && (token[k] == u'+' || token[k] == u'-')) decimal->negative = token[k++] == u'-';
  bool anyDigit = false;
  for (; k < size && IsDigit(token[k]); ++k) {
    anyDigit = true;
    if (decimal->mantissa == 0 && token[k] == u'0') continue;
    if (++decimal->digits > 19) return false;
    decimal->mantissa = decimal->mantissa * 10 + static_cast<unsigned>(token[k] - u'0');
  }
  if (k < size && token[k] == u'.') {
    decimal->real = true;
    for (++k; k < size && IsDigit(token[k]); ++k) {
      anyDigit = true;
      --decimal->scale;
      if (decimal->mantissa == 0 && token[k] == u'0') continue;
      if (++decimal->digits > 19) return false;
      decimal->mantissa = decimal->mantissa * 10 + static_cast<unsigned>(token[k] - u'0');
    }
  }
  if (!anyDigit) return false;
  if (k < size && (token[k] == u'e' || token[k] == u'E')) {
    decimal->real = true;
    bool negativeExponent = false;
    if (++k < size && (token[k] == u'+' || token[k] == u'-')) negativeExponent = token[k++] == u'-';
    if (k == size) return false;
    int exponent = 0;
    for (; k < size && IsDigit(token[k]); ++k) {
      if (exponent > 1000) return false;
      exponent = exponent * 10 + (token[k] - u'0');
    }
    decimal->scale += negativeExponent ? -exponent : exponent;
  }
  return k == size;
}

#if defined(__SIZEOF_INT128__)
__extension__ using Unsigned128 = unsigned __int128;  // GCC and Clang on 64-bit targets

// mantissa / 10^places, correctly rounded (to nearest, ties to even), for 0 < mantissa < 2^64 and
// 1 <= places <= 27, by exact integer arithmetic: 10^places = 5^places * 2^places, and 5^27 still
// fits 64 bits. The quotient is taken to 63 or 64 bits, and the remainder decides the rounding
// together with the bits dropped below the 53 a double keeps.
double DivideByPowerOfTen(std::uint64_t mantissa, int places) noexcept {
  std::uint64_t divisor = 1;
  for (int k = 0; k < places; ++k) divisor *= 5;
  const int mantissaBits = 64 - __builtin_clzll(mantissa);
  const int divisorBits = 64 - __builtin_clzll(divisor);
  const int shift = 63 + divisorBits - mantissaBits;  // puts the quotient in [2^62, 2^64)
  const Unsigned128 numerator = static_cast<Unsigned128>(mantissa) << shift;
  const auto quotient = static_cast<std::uint64_t>(numerator / divisor);
  const bool inexact = numerator - static_cast<Unsigned128>(quotient) * divisor != 0;
  int dropped = (64 - __builtin_clzll(quotient)) - 53;
  std::uint64_t kept = quotient >> dropped;
  const std::uint64_t rest = quotient & ((std::uint64_t{1} << dropped) - 1);
  const std::uint64_t half = std::uint64_t{1} << (dropped - 1);
  if (rest > half || (rest == half && (inexact || (kept & 1) != 0))) {
    if (++kept == std::uint64_t{1} << 53) {
      kept >>= 1;
      ++dropped;
    }
  }
  // value = kept * 2^(dropped - shift - places), a normal double for every mantissa and places
  // allowed here; the power of two is built from its bits, so the product is exact.
  const int exponent = dropped - shift - places;
  const double scale = std::bit_cast<double>(static_cast<std::uint64_t>(1023 + exponent) << 52);
  return static_cast<double>(kept) * scale;
}
#endif

// The value of a strict decimal when one exact step gives it correctly rounded; false otherwise.
bool ExactValue(const PlainDecimal& decimal, double* value) noexcept {
  double result = 0.0;
  if (decimal.mantissa == 0) {
    result = 0.0;
  } else if (decimal.mantissa <= (std::uint64_t{1} << 53) && decimal.scale >= -22 && decimal.scale <= 22) {
    // Both operands exact: one IEEE operation rounds correctly.
    result = static_cast<double>(decimal.mantissa);
    result = decimal.scale < 0 ? result / kExactPowers[-decimal.scale] : result * kExactPowers[decimal.scale];
#if defined(__SIZEOF_INT128__)
  } else if (decimal.scale < 0 && decimal.scale >= -27) {
    result = DivideByPowerOfTen(decimal.mantissa, -decimal.scale);
#endif
  } else {
    return false;
  }
  *value = decimal.negative ? -result : result;
  return true;
}

}  // namespace

NumberClass ReadNumber(std::u16string_view token, std::int64_t* integer, double* real) noexcept {
  // The common token ("-65.613616999999977", "12") has the strict form and few enough digits.
  PlainDecimal decimal;
  if (ReadPlainDecimal(token, &decimal)) {
    if (!decimal.real) {  // at most 19 digits: the value saturates as ReadInt64's does
      constexpr std::uint64_t kMaxMagnitude = std::uint64_t{1} << 63;
      if (decimal.negative) {
        *integer = decimal.mantissa >= kMaxMagnitude ? std::numeric_limits<std::int64_t>::min()
                                                      : -static_cast<std::int64_t>(decimal.mantissa);
      } else {
        *integer = decimal.mantissa >= kMaxMagnitude ? std::numeric_limits<std::int64_t>::max()
                                                      : static_cast<std::int64_t>(decimal.mantissa);
      }
      return NumberClass::Integer;
    }
    if (ExactValue(decimal, real)) return NumberClass::Real;
  }
  // Otherwise classified and copied as ASCII in one pass, then converted from the copy.
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
