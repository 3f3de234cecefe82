#include "served_path.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "release_text.h"

namespace velmora::release {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The part of `url` below `baseUrl`, or false when `url` does not begin with it. The scheme and
// host compare in any letter case, the base's path exactly.
bool PathBelowBase(std::string_view url, std::string_view baseUrl, std::string_view& below) {
  while (!baseUrl.empty() && baseUrl.back() == '/') baseUrl.remove_suffix(1);
  const std::size_t schemeEnd = baseUrl.find("://");
  const std::size_t authorityEnd =
      schemeEnd == std::string_view::npos ? baseUrl.size() : std::min(baseUrl.find('/', schemeEnd + 3), baseUrl.size());
  if (url.size() <= baseUrl.size() || url[baseUrl.size()] != '/') return false;
  if (!SameIgnoringCase(url.substr(0, authorityEnd), baseUrl.substr(0, authorityEnd))) return false;
  if (url.substr(authorityEnd, baseUrl.size() - authorityEnd) != baseUrl.substr(authorityEnd)) return false;
  below = url.substr(baseUrl.size() + 1);
  return true;
}

// The bytes that `encoded` stands for, or a problem.
std::string Decoded(std::string_view encoded, std::string& problem) {
  std::string bytes;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(encoded[i]);
    if (c <= 0x20 || c >= 0x7F) {
      problem = "holds characters that must be percent-encoded (spaces, control characters, non-ASCII)";
      return {};
    }
    if (c == '\\') {
      problem = "holds a \"\\\", which servers read differently (a folder separator or part of a name)";
      return {};
    }
    if (c != '%') {
      bytes.push_back(static_cast<char>(c));
      continue;
    }
    const int high = i + 1 < encoded.size() ? HexValue(encoded[i + 1]) : -1;
    const int low = i + 2 < encoded.size() ? HexValue(encoded[i + 2]) : -1;
    if (high < 0 || low < 0) {
      problem = "holds a \"%\" that does not start an escape of two hex digits; servers refuse it";
      return {};
    }
    const char byte = static_cast<char>(high * 16 + low);
    if (byte == '/' || byte == '\\') {
      problem = std::string("holds an encoded \"") + byte + "\" (" + std::string(encoded.substr(i, 3)) +
                "), which servers read differently (a folder separator or part of a name)";
      return {};
    }
    if (byte == '\0') {
      problem = "holds an encoded NUL (%00), which no file name holds";
      return {};
    }
    bytes.push_back(byte);
    i += 2;
  }
  return bytes;
}

}  // namespace

ServedPath ServedPathOf(std::string_view url, std::string_view baseUrl) {
  ServedPath served;
  std::string_view below;
  if (!PathBelowBase(url, baseUrl, below)) {
    served.problem = "does not begin with the base URL " + std::string(baseUrl);
    return served;
  }
  below = below.substr(0, below.find_first_of("?#"));
  const std::string bytes = Decoded(below, served.problem);
  if (!served.problem.empty()) return served;
  const std::u16string wide = WideOfUtf8(bytes);
  if (Utf8Of(wide) != bytes) {
    served.problem = "decodes to bytes that are not UTF-8; a server would look for a name no release file has";
    return served;
  }
  std::vector<std::u16string> segments;
  std::u16string segment;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(wide.find(u'/', start), wide.size());
    segment = wide.substr(start, end - start);
    if (segment == u"..") {
      if (segments.empty()) {
        served.problem = "leaves the served folder with \"..\"";
        return served;
      }
      segments.pop_back();
    } else if (!segment.empty() && segment != u".") {
      if (const std::string problem = WindowsNameProblem(segment); !problem.empty()) {
        served.problem = "names \"" + Utf8Of(segment) + "\", which has " + problem;
        return served;
      }
      segments.push_back(segment);
    }
    if (end == wide.size()) break;
    start = end + 1;
  }
  // "a/", "a/." and "a/b/.." name the folder "a".
  if (segments.empty() || segment.empty() || segment == u"." || segment == u"..") {
    served.problem = "names a folder, not a file";
    return served;
  }
  for (const std::u16string& name : segments) {
    if (!served.relativePath.empty()) served.relativePath.push_back(u'\\');
    served.relativePath += name;
  }
  return served;
}

}  // namespace velmora::release
