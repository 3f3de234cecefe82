// Numbers as text: how tokens are classified and read, and how values get their text forms.
//
// The readers follow the rules of the C and Windows conversions the document's format was built
// around, on UTF-16 text and without depending on the process locale. All functions are pure and
// thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::json {

enum class NumberClass { NotANumber, Integer, Real };

// Whether a token is a number and of which kind. Code units up to U+0020 are skipped wherever they
// stand; the first counted character may be a digit, "+", "-" or "."; later ones digits, ".",
// "e"/"E", "+"/"-", each of the last three kinds at most once. A point, an exponent mark or a sign
// after the first position make a Real: "-12" and "007" are integers, "1.5", "2e3" and "1-2" reals.
NumberClass ClassifyNumber(std::u16string_view token) noexcept;

// ClassifyNumber and, for a number, its value by the rule of its kind (ReadInt64 for integers,
// ReadReal for reals) in one pass: what the parser runs for every unquoted token. With a null
// `real` a real is only classified (JsonNode::RealValue reads it again from the text form).
NumberClass ReadNumber(std::u16string_view token, std::int64_t* integer, double* real) noexcept;

// The `_wtoi64` rule: leading white space, one optional sign, then decimal digits up to the first
// other character; no digits give 0. Values beyond 64 bits saturate at the limits.
std::int64_t ReadInt64(std::u16string_view text) noexcept;

// The `StrToIntW` rule: an optional sign, then decimal digits up to the first other character (no
// leading white space); no digits give 0. The value wraps at 32 bits.
std::int32_t ReadInt32(std::u16string_view text) noexcept;

// The `atof` rule: leading white space, then the longest prefix that forms a decimal
// floating-point number (sign, digits, point, exponent), correctly rounded; none gives 0.
// Overflow gives an infinity, underflow 0 (or the nearest subnormal).
double ReadReal(std::u16string_view text) noexcept;

// Text forms of values set by the program: "%.13g" for reals (0.1 -> "0.1", 100.0 -> "100",
// 1e20 -> "1e+20") and plain decimal for integers.
std::u16string FormatReal(double value);
std::u16string FormatInteger(std::int64_t value);

}  // namespace velmora::json
