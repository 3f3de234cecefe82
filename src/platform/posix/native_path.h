// The POSIX file system's form of a program path (GBK text, "\" separators).
#pragma once

#include <string>

namespace velmora::platform::posix {

// GBK to UTF-8 first, then "\" to "/": a GBK trail byte may be 0x5C (the second byte of "\xD7\x5C"),
// so the separators can only be told apart once the text is UTF-8.
std::string NativePath(const std::string& path);

}  // namespace velmora::platform::posix
