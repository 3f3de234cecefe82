// Cuts a stream fed in pieces of any size into its chunks (chunker.h) and hands each chunk's bytes
// over whole: the bytes of a chunk that spans several pieces are gathered (at most maxSize of
// them), a chunk inside one piece is passed without a copy.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "delta/chunker.h"

namespace velmora::delta {

class ChunkStream {
 public:
  using ChunkCallback = std::function<void(std::string_view chunk)>;

  explicit ChunkStream(const ChunkingRule& rule) : chunker_(rule) {}

  // The next bytes of the stream; `chunk` receives every chunk that ends within them, in order.
  void Feed(std::string_view bytes, const ChunkCallback& chunk);
  // The stream has ended: the rest, if any, is the last chunk.
  void Finish(const ChunkCallback& chunk);

 private:
  Chunker chunker_;
  std::string pending_;  // bytes of the chunk being cut that earlier pieces brought
};

}  // namespace velmora::delta
