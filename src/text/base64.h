// Base64 (RFC 4648, the standard alphabet, with "=" padding), for keys and signatures kept as text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::text {

std::string Base64Encode(std::string_view bytes);

// The bytes of `text`; nothing when it is not canonical Base64 (a character outside the alphabet,
// a wrong length or padding, bits left over). Whitespace is not skipped: callers trim.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace velmora::text
