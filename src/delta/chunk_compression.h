// Each chunk of a pack is compressed on its own as raw deflate (no zlib header or checksum: the
// chunk's identity checks its bytes), so that any run of chunks is one byte range of the pack and
// each chunk inflates without the others.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::delta {

// `chunk` deflated at the best compression.
std::string DeflateChunk(std::string_view chunk);

// The bytes `packed` inflates to, when it is one whole deflate stream that ends exactly at its
// end and inflates to exactly `length` bytes; nothing otherwise (damaged, short, too long).
std::optional<std::string> InflateChunk(std::string_view packed, std::uint32_t length);

}  // namespace velmora::delta
