// JsonDocument: lifetime of the root reference, fresh documents, and the parse entry points.
#include "json/json_document.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "json/node_store.h"
#include "text/encoding.h"

namespace velmora::json {
namespace {

// Bytes below 0x80 are the same characters in code page 936 as in ASCII, and a character of two
// bytes always starts with one above. So long runs of ASCII (the JSON around the texts) are
// widened here, and only the stretches between them, which start and end on character
// boundaries, go through the system's conversion. The text ends at its first NUL, as a whole
// conversion reads it.
std::u16string GbkToWide(const std::string& text) {
  constexpr std::size_t kLongRun = 128;  // shorter ASCII runs ride along with the conversion
  const std::size_t size = std::min(text.find('\0'), text.size());
  const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  std::u16string wide;
  wide.reserve(size);
  std::size_t pending = 0;  // the first byte not yet converted or widened
  std::size_t i = 0;
  while (i < size) {
    if (byte(i) >= 0x80) {
      i += byte(i) >= 0x81 && byte(i) <= 0xFE ? 2 : 1;  // a lead byte takes its trail byte along
      continue;
    }
    std::size_t end = i;
    for (std::uint64_t word; end + 8 <= size; end += 8) {
      std::memcpy(&word, text.data() + end, sizeof word);
      if ((word & 0x8080808080808080u) != 0) break;
    }
    while (end < size && byte(end) < 0x80) ++end;
    if (end - i >= kLongRun || pending == i) {
      if (pending < i) wide += text::NarrowToWide(text.substr(pending, i - pending), text::NarrowCodePage);
      const std::size_t at = wide.size();
      wide.resize(at + (end - i));
      for (std::size_t k = i; k < end; ++k) wide[at + (k - i)] = static_cast<char16_t>(byte(k));
      pending = end;
    }
    i = end;
  }
  if (pending < size) wide += text::NarrowToWide(text.substr(pending, size - pending), text::NarrowCodePage);
  return wide;
}

}  // namespace

JsonDocument::JsonDocument(const JsonDocument& other) noexcept : root_(other.root_) {
  if (root_ != nullptr) root_->AddRef();
}

JsonDocument& JsonDocument::operator=(const JsonDocument& other) noexcept {
  if (this != &other) {
    if (other.root_ != nullptr) {
      SetRoot(other.root_);
    } else {
      Clear();
    }
  }
  return *this;
}

JsonDocument::JsonDocument(JsonDocument&& other) noexcept : root_(std::exchange(other.root_, nullptr)) {}

JsonDocument& JsonDocument::operator=(JsonDocument&& other) noexcept {
  if (this != &other) {
    Clear();
    root_ = std::exchange(other.root_, nullptr);
  }
  return *this;
}

JsonDocument::~JsonDocument() { Destroy(); }

void JsonDocument::Destroy() noexcept { Clear(); }

JsonDocument JsonDocument::Copy() const noexcept { return Sharing(root_); }

void JsonDocument::Clear() noexcept {
  if (JsonNode* root = std::exchange(root_, nullptr); root != nullptr) root->Release();
}

void JsonDocument::SetRoot(JsonNode* node) noexcept {
  if (node == nullptr) return;
  node->AddRef();  // first, so that setting the document's own root again is safe
  JsonNode* old = std::exchange(root_, node);
  if (old != nullptr) old->Release();
}

JsonDocument JsonDocument::Sharing(JsonNode* node) noexcept {
  if (node != nullptr) node->AddRef();
  return JsonDocument(node);
}

JsonDocument JsonDocument::NewObject() const noexcept { return Adopting(NewNode(AsNode(root_), JsonKind::Object)); }

JsonDocument JsonDocument::NewArray() const noexcept { return Adopting(NewNode(AsNode(root_), JsonKind::Array)); }

JsonDocument JsonDocument::NewNull() const noexcept { return Adopting(NewNode(AsNode(root_), JsonKind::Null)); }

JsonDocument JsonDocument::NewBool(bool value) const noexcept { return Adopting(json::NewBool(AsNode(root_), value)); }

JsonDocument JsonDocument::NewNumber(double value) const noexcept { return Adopting(NewReal(AsNode(root_), value)); }

JsonDocument JsonDocument::NewInt64(std::int64_t value) const noexcept {
  return Adopting(NewInteger(AsNode(root_), value));
}

JsonDocument JsonDocument::NewText(const std::string& text) const {
  try {
    return Adopting(NewString(AsNode(root_), GbkToWide(text)));
  } catch (const std::bad_alloc&) {
    return JsonDocument();
  }
}

JsonDocument JsonDocument::NewTextWide(const std::u16string& text) const {
  const std::u16string_view view(text.c_str());  // up to the first NUL
  return Adopting(NewString(AsNode(root_), view));
}

bool JsonDocument::ParseText(const std::u16string& text, bool decodeUnicodeEscapes, ParseError* errorCode,
                             std::int32_t* errorPosition) {
  if (root_ == nullptr) root_ = NewNode(nullptr, JsonKind::Object);
  const ParseError result = root_ == nullptr ? ParseError::NoInput
                                             : ParseIntoNode(AsNode(root_), text, decodeUnicodeEscapes, errorPosition);
  if (root_ == nullptr && errorPosition != nullptr) *errorPosition = 0;
  if (errorCode != nullptr) *errorCode = result;
  return result == ParseError::None;
}

bool JsonDocument::Parse(const std::string& text, bool decodeUnicodeEscapes, ParseError* errorCode,
                         std::int32_t* errorPosition) {
  try {
    return ParseText(GbkToWide(text), decodeUnicodeEscapes, errorCode, errorPosition);
  } catch (const std::bad_alloc&) {
    if (errorCode != nullptr) *errorCode = ParseError::NoMemory;
    if (errorPosition != nullptr) *errorPosition = 0;
    return false;
  }
}

bool JsonDocument::ParseWide(const std::u16string& text, bool decodeUnicodeEscapes, ParseError* errorCode,
                             std::int32_t* errorPosition) {
  return ParseText(text, decodeUnicodeEscapes, errorCode, errorPosition);
}

bool JsonDocument::Reset(const std::string& text, bool parseNow, bool decodeUnicodeEscapes, ParseError* errorCode,
                         std::int32_t* errorPosition) {
  try {
    return ResetWide(parseNow ? GbkToWide(text) : std::u16string(), parseNow, decodeUnicodeEscapes, errorCode,
                     errorPosition);
  } catch (const std::bad_alloc&) {
    if (errorCode != nullptr) *errorCode = ParseError::NoMemory;
    return false;
  }
}

bool JsonDocument::ResetWide(const std::u16string& text, bool parseNow, bool decodeUnicodeEscapes,
                             ParseError* errorCode, std::int32_t* errorPosition) {
  Node* fresh = NewNode(nullptr, JsonKind::Object);
  if (fresh == nullptr) {
    if (errorCode != nullptr) *errorCode = ParseError::NoMemory;
    return false;
  }
  JsonNode* old = std::exchange(root_, fresh);
  if (old != nullptr) old->Release();
  if (!parseNow) {
    if (errorCode != nullptr) *errorCode = ParseError::None;
    return true;
  }
  return ParseText(text, decodeUnicodeEscapes, errorCode, errorPosition);
}

}  // namespace velmora::json
