#include "pem_private_key.h"

#include <cstdint>

#include "text/base64.h"

namespace velmora::release {
namespace {

constexpr unsigned char kSequence = 0x30, kInteger = 0x02, kOctetString = 0x04, kObjectId = 0x06, kBitString = 0x03;
constexpr unsigned char kExplicit0 = 0xA0, kExplicit1 = 0xA1;
// 1.2.840.10045.2.1 (an EC public key) and 1.2.840.10045.3.1.7 (the curve P-256).
constexpr std::string_view kEcPublicKeyOid("\x2A\x86\x48\xCE\x3D\x02\x01", 7);
constexpr std::string_view kP256Oid("\x2A\x86\x48\xCE\x3D\x03\x01\x07", 8);

// Takes one DER element with tag `tag` from the front of `der` into `content`.
bool Take(std::string_view& der, unsigned char tag, std::string_view& content) {
  if (der.size() < 2 || static_cast<unsigned char>(der[0]) != tag) return false;
  std::size_t length = static_cast<unsigned char>(der[1]);
  std::size_t header = 2;
  if (length & 0x80) {
    const std::size_t octets = length & 0x7F;
    if (octets == 0 || octets > 2 || der.size() < 2 + octets) return false;
    length = 0;
    for (std::size_t i = 0; i < octets; ++i) length = length << 8 | static_cast<unsigned char>(der[2 + i]);
    header += octets;
  }
  if (der.size() - header < length) return false;
  content = der.substr(header, length);
  der.remove_prefix(header + length);
  return true;
}

// The ECPrivateKey of SEC 1: version 1, d, [0] the curve, [1] the public key (04 X Y).
std::optional<std::string> FromEcPrivateKey(std::string_view der, bool curveKnown, std::string& why) {
  std::string_view body, version, secret, curve, publicKey, oid;
  if (!Take(der, kSequence, body) || !Take(body, kInteger, version) || version != std::string_view("\x01", 1) ||
      !Take(body, kOctetString, secret) || secret.size() != 32) {
    why = "it is not an EC private key";
    return std::nullopt;
  }
  if (Take(body, kExplicit0, curve)) {
    if (!Take(curve, kObjectId, oid) || oid != kP256Oid) {
      why = "it is not a P-256 (prime256v1) key";
      return std::nullopt;
    }
    curveKnown = true;
  }
  std::string_view point;
  if (!curveKnown || !Take(body, kExplicit1, publicKey) || !Take(publicKey, kBitString, point) || point.size() != 66 ||
      point[0] != 0 || point[1] != 0x04) {
    why = curveKnown ? "it does not carry its public key" : "it does not name its curve";
    return std::nullopt;
  }
  return std::string(point.substr(2)) + std::string(secret);
}

}  // namespace

bool LooksLikePem(std::string_view text) { return text.find("-----BEGIN ") != std::string_view::npos; }

std::optional<std::string> PrivateKeyFromPem(std::string_view text, std::string& why) {
  const auto block = [&](std::string_view label) -> std::optional<std::string> {
    const std::string begin = "-----BEGIN " + std::string(label) + "-----";
    const std::string end = "-----END " + std::string(label) + "-----";
    const std::size_t first = text.find(begin);
    const std::size_t last = first == std::string_view::npos ? first : text.find(end, first);
    if (last == std::string_view::npos) return std::nullopt;
    std::string base64;
    for (char c : text.substr(first + begin.size(), last - first - begin.size())) {
      if (c != '\r' && c != '\n' && c != ' ' && c != '\t') base64 += c;
    }
    return text::Base64Decode(base64);
  };
  if (const std::optional<std::string> der = block("EC PRIVATE KEY")) return FromEcPrivateKey(*der, false, why);
  const std::optional<std::string> der = block("PRIVATE KEY");
  std::string_view rest = der ? std::string_view(*der) : std::string_view();
  std::string_view body, version, algorithm, oid, curve, inner;
  if (!der || !Take(rest, kSequence, body) || !Take(body, kInteger, version) || !Take(body, kSequence, algorithm) ||
      !Take(algorithm, kObjectId, oid) || oid != kEcPublicKeyOid || !Take(algorithm, kObjectId, curve) ||
      !Take(body, kOctetString, inner)) {
    why = LooksLikePem(text) ? "it is not an unencrypted EC private key in PEM (PKCS#8 or SEC 1)"
                             : "it holds no PEM block";
    return std::nullopt;
  }
  if (curve != kP256Oid) {
    why = "it is not a P-256 (prime256v1) key";
    return std::nullopt;
  }
  return FromEcPrivateKey(inner, true, why);
}

}  // namespace velmora::release
