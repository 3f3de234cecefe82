// Text blocks: how a tree stores its UTF-16 texts (keys, strings, text forms).
//
// A text block is [32-bit hash][32-bit length][length code units][0 unit], 8-byte aligned, taken
// from a NodeHeap. Nodes point at its first code unit, so a block reads as an ordinary
// NUL-terminated UTF-16 text, and its length and (for keys) its hash sit just before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "json/node_heap.h"
#include "json/unit_copy.h"

namespace velmora::json {

inline constexpr std::size_t kTextHeaderBytes = 8;

// Bytes of a block holding `length` code units.
inline constexpr std::size_t TextBlockBytes(std::size_t length) noexcept {
  return (kTextHeaderBytes + 2 * (length + 1) + 7) & ~std::size_t{7};
}

inline std::uint32_t TextLength(const char16_t* text) noexcept {
  std::uint32_t length;
  std::memcpy(&length, reinterpret_cast<const char*>(text) - 4, sizeof length);
  return length;
}

inline std::uint32_t TextHash(const char16_t* text) noexcept {
  std::uint32_t hash;
  std::memcpy(&hash, reinterpret_cast<const char*>(text) - 8, sizeof hash);
  return hash;
}

inline void SetTextHash(char16_t* text, std::uint32_t hash) noexcept {
  std::memcpy(reinterpret_cast<char*>(text) - 8, &hash, sizeof hash);
}

inline std::u16string_view TextView(const char16_t* text) noexcept {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text, TextLength(text));
}

// Lays out a block in `memory` (TextBlockBytes(source.size()) bytes) and returns its text.
inline char16_t* PlaceText(void* memory, std::u16string_view source) noexcept {
  char* bytes = static_cast<char*>(memory);
  const auto length = static_cast<std::uint32_t>(source.size());
  const std::uint32_t hash = 0;
  std::memcpy(bytes, &hash, sizeof hash);
  std::memcpy(bytes + 4, &length, sizeof length);
  auto* text = reinterpret_cast<char16_t*>(bytes + kTextHeaderBytes);
  CopyUnits(text, source.data(), source.size());
  text[source.size()] = 0;
  return text;
}

// A text stored in the block of the node it belongs to (a scalar's string or text form): its
// header is the 32-bit length alone, as no such text is ever hashed. It reads like any other
// text through TextLength and TextView.
inline constexpr std::size_t kInlineTextHeaderBytes = 4;

inline constexpr std::size_t InlineTextBytes(std::size_t length) noexcept {
  return (kInlineTextHeaderBytes + 2 * (length + 1) + 7) & ~std::size_t{7};
}

// Lays out an inline text in `memory` (InlineTextBytes(source.size()) bytes) and returns it.
inline char16_t* PlaceInlineText(void* memory, std::u16string_view source) noexcept {
  char* bytes = static_cast<char*>(memory);
  const auto length = static_cast<std::uint32_t>(source.size());
  std::memcpy(bytes, &length, sizeof length);
  auto* text = reinterpret_cast<char16_t*>(bytes + kInlineTextHeaderBytes);
  CopyUnits(text, source.data(), source.size());
  text[source.size()] = 0;
  return text;
}

// A new block holding `source`; null when memory ran out.
inline char16_t* NewText(NodeHeap* heap, std::u16string_view source) noexcept {
  void* memory = heap->Allocate(TextBlockBytes(source.size()));
  return memory == nullptr ? nullptr : PlaceText(memory, source);
}

// Frees a block made by NewText (null is left alone).
inline void FreeText(NodeHeap* heap, char16_t* text) noexcept {
  if (text == nullptr) return;
  heap->Deallocate(reinterpret_cast<char*>(text) - kTextHeaderBytes, TextBlockBytes(TextLength(text)));
}

// A form block: the text form of a value set in place, with the value's 8 bytes in front of its
// text block: [value][hash][length][units][0]. Returns the text; null when memory ran out.
template <typename Value>
inline char16_t* NewFormBlock(NodeHeap* heap, std::u16string_view form, const Value& value) noexcept {
  static_assert(sizeof(Value) == 8);
  char* memory = static_cast<char*>(heap->Allocate(8 + TextBlockBytes(form.size())));
  if (memory == nullptr) return nullptr;
  std::memcpy(memory, &value, sizeof value);
  return PlaceText(memory + 8, form);
}

inline void FreeFormBlock(NodeHeap* heap, char16_t* form) noexcept {
  heap->Deallocate(reinterpret_cast<char*>(form) - kTextHeaderBytes - 8, 8 + TextBlockBytes(TextLength(form)));
}

}  // namespace velmora::json
