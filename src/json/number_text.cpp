#include "json/number_text.h"

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
