#include "release_urls.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "release_text.h"

namespace velmora::release {
namespace {

bool IsUnreserved(unsigned char c) {
  return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

std::string PercentEncoded(const std::u16string& segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : Utf8Of(segment)) {
    if (IsUnreserved(c)) {
      encoded.push_back(static_cast<char>(c));
    } else {
      encoded += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return encoded;
}

// "http://" or "https://" in any letter case; the length of the scheme with "://", or 0.
std::size_t SchemeLength(std::string_view url) {
  for (std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
    if (url.size() > scheme.size()) {
      bool same = true;
      for (std::size_t i = 0; i < scheme.size() && same; ++i) {
        same = std::tolower(static_cast<unsigned char>(url[i])) == scheme[i];
      }
      if (same) return scheme.size();
    }
  }
  return 0;
}

std::string HostProblem(std::string_view authority) {
  if (authority.find('@') != std::string_view::npos) return "user credentials in the address are not supported";
  std::string_view host = authority;
  std::string_view port;
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos || close == 1) return "the IPv6 address in brackets is not closed";
    for (char c : host.substr(1, close - 1)) {
      if (!IsHex(c) && c != ':' && c != '.') return "the IPv6 address holds a character that is not allowed";
    }
    port = host.substr(close + 1);
    host = host.substr(0, close + 1);
    if (!port.empty() && port.front() != ':') return "a port must follow the IPv6 address after \":\"";
    if (!port.empty()) port.remove_prefix(1);
  } else {
    const std::size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
      port = host.substr(colon + 1);
      host = host.substr(0, colon);
      if (port.empty()) return "the port after \":\" is empty";
    }
    if (host.empty()) return "it names no host";
    for (char c : host) {
      if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '.' && c != '-') {
        return "the host holds a character that is not allowed (letters, digits, \".\" and \"-\" are)";
      }
    }
  }
  if (!port.empty()) {
    if (port.size() > 5) return "the port is not a number from 1 to 65535";
    unsigned long value = 0;
    for (char c : port) {
      if (std::isdigit(static_cast<unsigned char>(c)) == 0) return "the port is not a number from 1 to 65535";
      value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value < 1 || value > 65535) return "the port is not a number from 1 to 65535";
  }
  return {};
}

std::string PathProblem(std::string_view path) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (c == '?' || c == '#') return "a query or fragment (\"?\", \"#\") cannot have file names appended";
    if (c <= 0x20 || c >= 0x7F) return "spaces, control characters and non-ASCII characters must be percent-encoded";
    if (std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) != std::string_view::npos) {
      return std::string("the character \"") + static_cast<char>(c) + "\" must be percent-encoded";
    }
    if (c == '%' && (i + 2 >= path.size() || !IsHex(path[i + 1]) || !IsHex(path[i + 2]))) {
      return "a \"%\" that does not start an escape of two hex digits";
    }
  }
  return {};
}

}  // namespace

std::string BaseUrlProblem(const std::string& url) {
  const std::size_t schemeLength = SchemeLength(url);
  if (schemeLength == 0) return "it must begin with http:// or https:// and name a host";
  const std::string_view rest = std::string_view(url).substr(schemeLength);
  const std::size_t slash = rest.find('/');
  // A query or fragment straight after the host ("http://h?x") is a path problem, not a host's.
  const std::size_t hostEnd = std::min(slash, rest.find_first_of("?#"));
  std::string problem = HostProblem(rest.substr(0, hostEnd));
  if (problem.empty() && hostEnd != std::string_view::npos) problem = PathProblem(rest.substr(hostEnd));
  return problem;
}

std::string PublishedName(const std::u16string& relativePath) {
  std::string name;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = relativePath.find_first_of(u"\\/", start);
    if (!name.empty()) name.push_back('/');
    name += PercentEncoded(relativePath.substr(start, end == std::u16string::npos ? end : end - start));
    if (end == std::u16string::npos) return name;
    start = end + 1;
  }
}

std::u16string ContentAddressedPath(const std::u16string& relativePath, const std::string& md5) {
  const std::size_t lastSeparator = relativePath.find_last_of(u"\\/");
  const std::u16string fileName =
      lastSeparator == std::u16string::npos ? relativePath : relativePath.substr(lastSeparator + 1);
  return WideOfUtf8(kContentFolder) + u"\\" + WideOfUtf8(md5) + u"\\" + fileName;
}

std::string ContentAddressedName(const std::u16string& relativePath, const std::string& md5) {
  return PublishedName(ContentAddressedPath(relativePath, md5));
}

std::string JoinUrl(const std::string& base, const std::string& publishedName) {
  std::string joined = base;
  while (!joined.empty() && joined.back() == '/') joined.pop_back();
  std::string_view name = publishedName;
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  return joined + "/" + std::string(name);
}

}  // namespace velmora::release
