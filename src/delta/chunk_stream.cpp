#include "delta/chunk_stream.h"

namespace velmora::delta {

void ChunkStream::Feed(std::string_view bytes, const ChunkCallback& chunk) {
  std::size_t consumed = 0;  // bytes of `bytes` already in cut chunks
  chunker_.Feed(bytes, [&](std::uint64_t length) {
    const std::size_t fromBytes = static_cast<std::size_t>(length) - pending_.size();
    if (pending_.empty()) {
      chunk(bytes.substr(consumed, fromBytes));
    } else {
      pending_.append(bytes.substr(consumed, fromBytes));
      chunk(pending_);
      pending_.clear();
    }
    consumed += fromBytes;
  });
  pending_.append(bytes.substr(consumed));
}

void ChunkStream::Finish(const ChunkCallback& chunk) {
  chunker_.Finish([&](std::uint64_t) {
    chunk(pending_);
    pending_.clear();
  });
}

}  // namespace velmora::delta
