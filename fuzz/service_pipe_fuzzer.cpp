// Fuzz target: arbitrary bytes on the update service's pipe, read by both sides' readers
// (app/service_messages.h) in pieces of a size the first byte chooses (1..256). A reader never hands out a
// message of the other side, a cell outside the grid or a text longer than kLongestText, and
// once broken it hands out nothing more.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "app/service_messages.h"

namespace {

using velmora::app::MessageReader;
using velmora::app::MessageType;
using velmora::app::ReaderSide;
using velmora::app::ServiceMessage;

void Check(bool condition) {
  if (!condition) std::abort();
}

void ReadInPieces(ReaderSide side, std::size_t pieceSize, const std::uint8_t* data, std::size_t size) {
  MessageReader reader(side);
  std::size_t offset = 0;
  while (offset < size) {
    const std::size_t piece = std::min(pieceSize, size - offset);
    reader.Feed(data + offset, piece);
    offset += piece;
    const bool wasBroken = reader.Broken();
    while (const std::optional<ServiceMessage> m = reader.Next()) {
      Check(!wasBroken);
      Check((m->type == MessageType::Request) == (side == ReaderSide::Service));
      if (m->type == MessageType::CellText || m->type == MessageType::ProgressCell ||
          m->type == MessageType::ProgressValue) {
        Check(m->row >= 1 && m->column >= 0 && m->column < velmora::app::kColumnCount);
      }
      Check(m->text.size() <= velmora::app::kLongestText);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t pieceSize = static_cast<std::size_t>(data[0]) + 1;
  ReadInPieces(ReaderSide::Service, pieceSize, data + 1, size - 1);
  ReadInPieces(ReaderSide::Client, pieceSize, data + 1, size - 1);
  return 0;
}
