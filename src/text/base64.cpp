#include "text/base64.h"

#include <array>
#include <cstdint>

namespace velmora::text {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> DecodingTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& value : table) value = -1;
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  return table;
}
constexpr std::array<std::int8_t, 256> kDecoding = DecodingTable();

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (left > 1) group |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (left > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
    text.push_back(kAlphabet[(group >> 18) & 63]);
    text.push_back(kAlphabet[(group >> 12) & 63]);
    text.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
    text.push_back(left > 2 ? kAlphabet[group & 63] : '=');
  }
  return text;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    if (padding == 1 && text[i + 2] == '=') return std::nullopt;  // "x=x=" is no padding
    std::uint32_t group = 0;
    for (int k = 0; k < 4 - padding; ++k) {
      const std::int8_t value = kDecoding[static_cast<unsigned char>(text[i + k])];
      if (value < 0) return std::nullopt;
      group |= static_cast<std::uint32_t>(value) << (18 - 6 * k);
    }
    bytes.push_back(static_cast<char>((group >> 16) & 255));
    if (padding < 2) bytes.push_back(static_cast<char>((group >> 8) & 255));
    if (padding < 1) bytes.push_back(static_cast<char>(group & 255));
    // The bits that padding leaves out must be zero, so that every byte string has one text.
    if ((padding == 1 && (group & 255) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) return std::nullopt;
  }
  return bytes;
}

}  // namespace velmora::text
