// TextBuilder: the growable UTF-16 buffer the serialiser writes into. Internal to src/json.
//
// Capacity is counted in bytes, as the format's writers always have: before n more units the
// builder keeps room for them and a terminating zero unit (two spare units for a single one), and
// when that does not fit it grows to capacity * 2 + n * 2 + 2 bytes, so it at least doubles and a
// large text needs few allocations. A growth that fails drops the text being appended and is
// reported by the append's result (which the serialiser ignores). Not thread-safe.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace velmora::json {

class TextBuilder {
 public:
  // `capacityBytes` 0 or less means 1024.
  explicit TextBuilder(std::int64_t capacityBytes) noexcept;
  ~TextBuilder() { std::free(buffer_); }
  TextBuilder(const TextBuilder&) = delete;
  TextBuilder& operator=(const TextBuilder&) = delete;

  bool Append(std::u16string_view text) noexcept {
    if (!Reserve(static_cast<std::int64_t>(text.size()))) return false;
    if (!text.empty()) std::char_traits<char16_t>::copy(buffer_ + length_, text.data(), text.size());
    length_ += static_cast<std::int64_t>(text.size());
    return true;
  }
  bool Append(char16_t unit) noexcept {
    if (!Reserve(2)) return false;
    buffer_[length_++] = unit;
    return true;
  }
  // Room for `units` more, the same check and growth as Append; for callers that write in place.
  bool Reserve(std::int64_t units) noexcept {
    return capacity_ - ((length_ + units) * 2 + 2) >= 0 || Grow(units);
  }
  char16_t* End() noexcept { return buffer_ + length_; }
  void Advance(std::int64_t units) noexcept { length_ += units; }

  std::u16string_view Text() const noexcept {
    return buffer_ != nullptr ? std::u16string_view(buffer_, static_cast<std::size_t>(length_)) : std::u16string_view();
  }
  std::int64_t CapacityBytes() const noexcept { return capacity_; }

 private:
  bool Grow(std::int64_t units) noexcept;

  char16_t* buffer_ = nullptr;  // malloc'ed, so that growth can extend it in place
  std::int64_t capacity_ = 0;  // bytes
  std::int64_t length_ = 0;    // units written
};

}  // namespace velmora::json
