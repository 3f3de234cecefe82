// Text conversions between the program's narrow GBK text, UTF-8 and UTF-16.
//
// Narrow text is a std::string of GBK bytes (code page 936) unless a code page says otherwise;
// UTF-16 text is a std::u16string. Every operation reads its input up to the first zero byte (or
// zero unit), never modifies it, and returns a new value; a conversion that fails returns an empty
// result. All functions are thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::text {

// The code page of the program's narrow text.
inline constexpr std::uint32_t NarrowCodePage = 936;
inline constexpr std::uint32_t Utf8CodePage = 65001;

// Bytes of `codePage` (default UTF-8) to UTF-16. Empty when no character precedes the first zero
// byte. Invalid sequences follow the platform's conversion rules.
std::u16string NarrowToWide(const std::string& bytes, std::uint32_t codePage = Utf8CodePage);

// UTF-16 to bytes of `codePage` (0: the system's narrow code page; the program always passes
// NarrowCodePage). Characters the code page cannot hold become the default character "?".
std::string WideToNarrow(const std::u16string& wide, std::uint32_t codePage = 0);

// UTF-8 bytes to GBK: WideToNarrow(NarrowToWide(utf8, 65001), NarrowCodePage).
std::string Utf8ToNarrow(const std::string& utf8);

// GBK bytes to UTF-8 (file names on POSIX systems, test output).
std::string NarrowToUtf8(const std::string& narrow);

// Negative, zero or positive by unsigned byte-wise comparison up to the first zero byte.
int CompareTexts(const std::string& a, const std::string& b);

}  // namespace velmora::text
