#include "json/text_builder.h"

namespace velmora::json {

TextBuilder::TextBuilder(std::int64_t capacityBytes) noexcept {
  const std::int64_t capacity = capacityBytes <= 0 ? 1024 : capacityBytes;
  buffer_ = static_cast<char16_t*>(std::malloc(static_cast<std::size_t>((capacity + 1) / 2) * sizeof(char16_t)));
  if (buffer_ != nullptr) capacity_ = capacity;
}

bool TextBuilder::Grow(std::int64_t units) noexcept {
  // `units` is 2 for a single unit: the room of two more is kept.
  const std::int64_t capacity = buffer_ != nullptr ? capacity_ * 2 + units * 2 + 2 : units * 2 + 2;
  // realloc keeps the text; large buffers usually grow where they are, without a copy.
  void* grown = std::realloc(buffer_, static_cast<std::size_t>((capacity + 1) / 2) * sizeof(char16_t));
  if (grown == nullptr) return false;
  buffer_ = static_cast<char16_t*>(grown);
  capacity_ = capacity;
  return true;
}

}  // namespace velmora::json
