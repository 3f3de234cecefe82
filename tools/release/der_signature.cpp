#include "der_signature.h"

namespace velmora::release {
namespace {

constexpr std::size_t kHalf = 32;

// Takes one short-form DER element with tag `tag` from the front of `der` into `content`.
bool Take(std::string_view& der, unsigned char tag, std::string_view& content) {
  if (der.size() < 2 || static_cast<unsigned char>(der[0]) != tag) return false;
  const auto length = static_cast<unsigned char>(der[1]);
  if (length & 0x80 || der.size() - 2 < length) return false;
  content = der.substr(2, length);
  der.remove_prefix(2 + static_cast<std::size_t>(length));
  return true;
}

// A positive INTEGER's value as 32 big-endian bytes.
bool Half(std::string_view& der, std::string& out) {
  std::string_view value;
  if (!Take(der, 0x02, value) || value.empty() || (static_cast<unsigned char>(value[0]) & 0x80) != 0) return false;
  while (value.size() > 1 && value[0] == '\0') value.remove_prefix(1);
  if (value.size() > kHalf) return false;
  out += std::string(kHalf - value.size(), '\0') + std::string(value);
  return true;
}

}  // namespace

std::optional<std::string> RawSignatureFromDer(std::string_view der) {
  std::string_view body;
  std::string raw;
  if (!Take(der, 0x30, body) || !der.empty() || !Half(body, raw) || !Half(body, raw) || !body.empty()) {
    return std::nullopt;
  }
  return raw;
}

}  // namespace velmora::release
