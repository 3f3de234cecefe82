// Each chunk of a pack is compressed on its own as raw deflate (no zlib header or checksum: the
// chunk's identity checks its bytes), so that any run of chunks is one byte range of the pack.
//
// Packs of index version 2 (chunk_index.h) deflate each chunk with a preset dictionary: the up to
// kDictionaryLength bytes of the file right before the chunk's place (its first place, for a
// chunk the file holds more than once). A client puts the new file together in order, so those
// bytes are in place when the chunk arrives; a chunk then costs about what it costs inside one
// deflate stream of the whole file. Version 1 packs have no dictionary: each chunk inflates alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::delta {

// Deflate's window: a dictionary longer than this could not be used.
inline constexpr std::uint32_t kDictionaryLength = 32 * 1024;

// `chunk` deflated at the best compression, with `dictionary` (at most its last
// kDictionaryLength bytes are used) as the bytes before it. Empty only when zlib failed.
std::string DeflateChunk(std::string_view chunk, std::string_view dictionary = {});

// The bytes `packed` inflates to with `dictionary` (the same bytes the chunk was deflated with),
// when it is one whole deflate stream that ends exactly at its end and inflates to exactly
// `length` bytes; nothing otherwise (damaged, short, too long).
std::optional<std::string> InflateChunk(std::string_view packed, std::uint32_t length,
                                        std::string_view dictionary = {});

}  // namespace velmora::delta
