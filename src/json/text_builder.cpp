#include "json/text_builder.h"

#include <new>

namespace velmora::json {

TextBuilder::TextBuilder(std::int64_t capacityBytes) noexcept {
  const std::int64_t capacity = capacityBytes <= 0 ? 1024 : capacityBytes;
  buffer_.reset(new (std::nothrow) char16_t[static_cast<std::size_t>((capacity + 1) / 2)]());
  if (buffer_) capacity_ = capacity;
}

bool TextBuilder::Grow(std::int64_t units) noexcept {
  // units for one character is 2: the room of two more is kept.
  const std::int64_t capacity = buffer_ ? capacity_ * 2 + units * 2 + 2 : units * 2 + 2;
  std::unique_ptr<char16_t[]> grown(new (std::nothrow) char16_t[static_cast<std::size_t>((capacity + 1) / 2)]);
  if (!grown) return false;
  if (buffer_) std::char_traits<char16_t>::copy(grown.get(), buffer_.get(), static_cast<std::size_t>(length_));
  buffer_ = std::move(grown);
  capacity_ = capacity;
  return true;
}

}  // namespace velmora::json
