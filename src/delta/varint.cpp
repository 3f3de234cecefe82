#include "delta/varint.h"

namespace velmora::delta {

void AppendVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

bool ReadVarint(std::string_view bytes, std::size_t& position, std::uint64_t& value) {
  std::uint64_t result = 0;
  for (std::size_t i = position, shift = 0; i < bytes.size() && shift < 64; ++i, shift += 7) {
    const std::uint64_t byte = static_cast<unsigned char>(bytes[i]);
    if (shift == 63 && byte > 1) return false;  // bits past the 64th
    result |= (byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) {
      position = i + 1;
      value = result;
      return true;
    }
  }
  return false;
}

}  // namespace velmora::delta
