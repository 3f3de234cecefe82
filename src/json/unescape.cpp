// Unescape: the backslash escapes of parsed strings and keys (declared in json_parser.h).
#include <algorithm>

#include "json/json_parser.h"

namespace velmora::json {
namespace {

int HexValue(char16_t c) noexcept {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

std::size_t Unescape(char16_t* buffer, std::size_t length, bool decodeUnicodeEscapes) noexcept {
  // One pass with a read and a write position; what an escape produced is never looked at again.
  std::size_t write = 0;
  std::size_t read = 0;
  while (read < length) {
    const char16_t c = buffer[read];
    if (c != u'\\' || read + 1 >= length) {
      buffer[write++] = c;
      ++read;
      continue;
    }
    const char16_t follower = buffer[read + 1];
    switch (follower) {
      case u'\\':
      case u'/':
      case u'"':
        buffer[write++] = follower;
        read += 2;
        continue;
      case u'b':
        buffer[write++] = u'\b';
        read += 2;
        continue;
      case u't':
        buffer[write++] = u'\t';
        read += 2;
        continue;
      case u'r':
        buffer[write++] = u'\r';
        read += 2;
        continue;
      case u'f':
        buffer[write++] = u'\f';
        read += 2;
        continue;
      case u'n':
        // "\n" after anything but a CR becomes CR LF (the two units the escape took).
        if (write > 0 && buffer[write - 1] != u'\r') buffer[write++] = u'\r';
        buffer[write++] = u'\n';
        read += 2;
        continue;
      case u'u':
        if (decodeUnicodeEscapes && read + 5 < length) {
          int value = 0;
          bool hex = true;
          for (std::size_t k = read + 2; k < read + 6; ++k) {
            const int digit = HexValue(buffer[k]);
            hex = hex && digit >= 0;
            value = value * 16 + (digit < 0 ? 0 : digit);
          }
          if (hex) {
            buffer[write++] = static_cast<char16_t>(value);
            read += 6;
            continue;
          }
        }
        break;
      default:
        break;
    }
    buffer[write++] = c;  // an escape left as written: the follower is read as usual next
    ++read;
  }
  std::fill(buffer + write, buffer + length, u'\0');
  return write;
}

}  // namespace velmora::json
