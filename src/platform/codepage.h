// Code-page conversion, provided by the platform layer.
//
// Windows converts with MultiByteToWideChar / WideCharToMultiByte; the POSIX layer with iconv
// (glibc's CP936 and UTF-8). Both take the input without its terminator and return the converted
// units without one. Characters the target code page cannot hold become the platform's default
// character ("?"); invalid input follows the platform's own rules. A failing conversion returns
// an empty result. Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::platform {

// Code page 0 is the system's narrow code page. Windows reads it from the system; the POSIX layer,
// which has no such setting, takes code page 936, the program's own narrow code page.
std::u16string MultiByteToWide(std::string_view bytes, std::uint32_t codePage);
std::string WideToMultiByte(std::u16string_view wide, std::uint32_t codePage);

}  // namespace velmora::platform
