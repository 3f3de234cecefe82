#include "delta/chunk_compression.h"

#include <zlib.h>

namespace velmora::delta {
namespace {

constexpr int kRawDeflateWindowBits = -15;  // a 32 KiB window, no zlib header

std::string_view LastBytes(std::string_view dictionary) {
  return dictionary.size() > kDictionaryLength ? dictionary.substr(dictionary.size() - kDictionaryLength) : dictionary;
}

}  // namespace

std::string DeflateChunk(std::string_view chunk, std::string_view dictionary) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, kRawDeflateWindowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
    return {};
  }
  dictionary = LastBytes(dictionary);
  if (!dictionary.empty() &&
      deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()),
                           static_cast<uInt>(dictionary.size())) != Z_OK) {
    deflateEnd(&stream);
    return {};
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(chunk.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
  stream.avail_in = static_cast<uInt>(chunk.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(result == Z_STREAM_END ? stream.total_out : 0);
  deflateEnd(&stream);
  return out;
}

std::optional<std::string> InflateChunk(std::string_view packed, std::uint32_t length, std::string_view dictionary) {
  z_stream stream{};
  if (inflateInit2(&stream, kRawDeflateWindowBits) != Z_OK) return std::nullopt;
  dictionary = LastBytes(dictionary);
  // A raw stream takes its dictionary before the first inflate.
  if (!dictionary.empty() &&
      inflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()),
                           static_cast<uInt>(dictionary.size())) != Z_OK) {
    inflateEnd(&stream);
    return std::nullopt;
  }
  // One byte more than expected, so that a stream that inflates to more is seen.
  std::string out(static_cast<std::size_t>(length) + 1, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&stream, Z_FINISH);
  const bool whole = result == Z_STREAM_END && stream.avail_in == 0 && stream.total_out == length;
  inflateEnd(&stream);
  if (!whole) return std::nullopt;
  out.resize(length);
  return out;
}

}  // namespace velmora::delta
