// Unsigned whole numbers in the delta index's compact form: seven bits per byte, lowest first, the
// top bit set on every byte but the last (LEB128). A number below 128 takes one byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::delta {

void AppendVarint(std::string& out, std::uint64_t value);

// Reads the number at `position` of `bytes` and moves `position` past it. False, with `position`
// unchanged, when the bytes end inside the number or it does not fit in 64 bits (ten bytes at
// most, the last holding one bit).
bool ReadVarint(std::string_view bytes, std::size_t& position, std::uint64_t& value);

}  // namespace velmora::delta
