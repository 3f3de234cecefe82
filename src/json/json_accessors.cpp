// JsonDocument: the reading operations by path, in their GBK and UTF-16 forms.
#include <cmath>
#include <limits>
#include <new>

#include "json/json_document.h"
#include "json/json_path.h"
#include "json/node_store.h"
#include "json/number_text.h"
#include "text/encoding.h"

namespace velmora::json {
namespace {

std::u16string Wide(const std::string& gbk) { return text::NarrowToWide(gbk, text::NarrowCodePage); }

std::string Gbk(std::u16string_view wide) { return text::WideToNarrow(std::u16string(wide), text::NarrowCodePage); }

std::u16string_view UpToNul(const std::u16string& text) noexcept { return std::u16string_view(text.c_str()); }

// The node a path names (plain lookup); null when it does not resolve or memory ran out.
Node* Resolve(JsonNode* root, std::u16string_view path) noexcept {
  if (root == nullptr) return nullptr;
  try {
    const JsonPath parsed(path);
    return FindNode(AsNode(root), parsed);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

template <typename Integer>
Integer Truncate(double value) noexcept {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<Integer>::min())) return std::numeric_limits<Integer>::min();
  if (value >= static_cast<double>(std::numeric_limits<Integer>::max())) return std::numeric_limits<Integer>::max();
  return static_cast<Integer>(value);
}

// A string read as a number after its full-width ASCII forms (GBK A3A1-A3FE) and ideographic
// spaces (A1A1) have become ASCII: "１２．５" reads as 12.5.
double ReadRealOfText(std::u16string_view value) {
  const std::string gbk = Gbk(value);
  std::u16string folded;
  folded.reserve(gbk.size());
  for (std::size_t i = 0; i < gbk.size(); ++i) {
    const auto lead = static_cast<unsigned char>(gbk[i]);
    if (lead < 0x81 || i + 1 >= gbk.size()) {
      folded.push_back(static_cast<char16_t>(lead));
      continue;
    }
    const auto trail = static_cast<unsigned char>(gbk[++i]);
    if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
      folded.push_back(static_cast<char16_t>(trail - 0x80));
    } else if (lead == 0xA1 && trail == 0xA1) {
      folded.push_back(u' ');
    } else {
      folded.push_back(u'\xFFFD');  // a double-byte character: never part of a number
    }
  }
  return ReadReal(folded);
}

std::u16string_view TextOf(const Node* node) noexcept {
  switch (node->Kind()) {
    case JsonKind::String:
      return node->String();
    case JsonKind::Null:
    case JsonKind::Real:
    case JsonKind::Integer:
    case JsonKind::Boolean:
      return node->Literal();
    default:
      return {};
  }
}

bool BoolOf(const Node* node) noexcept {
  switch (node->Kind()) {
    case JsonKind::Real:
      return std::fabs(node->RealValue()) > 1e-7;
    case JsonKind::Integer:
      return static_cast<std::uint32_t>(node->IntegerValue()) != 0;  // only the low 32 bits count
    case JsonKind::Boolean:
      return node->value_.boolean != 0;
    default:
      return false;
  }
}

double NumberOf(const Node* node) {
  switch (node->Kind()) {
    case JsonKind::Real:
      return node->RealValue();
    case JsonKind::Integer:
      return static_cast<double>(node->IntegerValue());
    case JsonKind::Boolean:
      return node->value_.boolean != 0 ? 1.0 : 0.0;
    case JsonKind::String:
      return ReadRealOfText(node->String());
    default:
      return 0.0;
  }
}

std::int64_t Int64Of(const Node* node) noexcept {
  switch (node->Kind()) {
    case JsonKind::Real:
      return Truncate<std::int64_t>(node->RealValue());
    case JsonKind::Integer:
      return node->IntegerValue();
    case JsonKind::Boolean:
      return node->value_.boolean != 0 ? 1 : 0;
    case JsonKind::String:
      return ReadInt64(node->String());
    default:
      return 0;
  }
}

std::int32_t IntOf(const Node* node) noexcept {
  switch (node->Kind()) {
    case JsonKind::Real:
      return Truncate<std::int32_t>(node->RealValue());
    case JsonKind::Integer:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(node->IntegerValue()));  // the low 32 bits
    case JsonKind::Boolean:
      return node->value_.boolean != 0 ? 1 : 0;
    case JsonKind::String:
      return ReadInt32(node->String());
    default:
      return 0;
  }
}

}  // namespace

JsonKind JsonDocument::GetTypeWide(const std::u16string& path) const {
  const Node* node = Resolve(root_, UpToNul(path));
  return node == nullptr ? JsonKind::Raw : node->Kind();
}

JsonKind JsonDocument::GetType(const std::string& path) const {
  try {
    return GetTypeWide(Wide(path));
  } catch (const std::bad_alloc&) {
    return JsonKind::Raw;
  }
}

std::int32_t JsonDocument::GetCountWide(const std::u16string& path) const {
  const Node* node = Resolve(root_, UpToNul(path));
  return node == nullptr ? 0 : ChildCount(node);
}

std::int32_t JsonDocument::GetCount(const std::string& path) const {
  try {
    return GetCountWide(Wide(path));
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

bool JsonDocument::ExistsWide(const std::u16string& path) const {
  if (root_ == nullptr) return false;
  try {
    const JsonPath parsed(UpToNul(path));
    return !parsed.Segments().empty() && FindNode(AsNode(root_), parsed) != nullptr;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool JsonDocument::Exists(const std::string& path) const {
  try {
    return ExistsWide(Wide(path));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::u16string JsonDocument::GetTextWide(const std::u16string& path) const {
  try {
    const Node* node = Resolve(root_, UpToNul(path));
    return node == nullptr ? std::u16string() : std::u16string(TextOf(node));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::string JsonDocument::GetText(const std::string& path) const {
  try {
    const Node* node = Resolve(root_, Wide(path));
    return node == nullptr ? std::string() : Gbk(TextOf(node));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::u16string JsonDocument::GetLiteralWide(const std::u16string& path) const {
  try {
    const Node* node = Resolve(root_, UpToNul(path));
    return node == nullptr ? std::u16string() : std::u16string(node->Literal());
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::string JsonDocument::GetLiteral(const std::string& path) const {
  try {
    const Node* node = Resolve(root_, Wide(path));
    return node == nullptr ? std::string() : Gbk(node->Literal());
  } catch (const std::bad_alloc&) {
    return {};
  }
}

bool JsonDocument::GetBoolWide(const std::u16string& path) const {
  const Node* node = Resolve(root_, UpToNul(path));
  return node != nullptr && BoolOf(node);
}

bool JsonDocument::GetBool(const std::string& path) const {
  try {
    return GetBoolWide(Wide(path));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

double JsonDocument::GetNumberWide(const std::u16string& path) const {
  try {
    const Node* node = Resolve(root_, UpToNul(path));
    return node == nullptr ? 0.0 : NumberOf(node);
  } catch (const std::bad_alloc&) {
    return 0.0;
  }
}

double JsonDocument::GetNumber(const std::string& path) const {
  try {
    return GetNumberWide(Wide(path));
  } catch (const std::bad_alloc&) {
    return 0.0;
  }
}

std::int64_t JsonDocument::GetInt64Wide(const std::u16string& path) const {
  const Node* node = Resolve(root_, UpToNul(path));
  return node == nullptr ? 0 : Int64Of(node);
}

std::int64_t JsonDocument::GetInt64(const std::string& path) const {
  try {
    return GetInt64Wide(Wide(path));
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::int32_t JsonDocument::GetIntWide(const std::u16string& path) const {
  const Node* node = Resolve(root_, UpToNul(path));
  return node == nullptr ? 0 : IntOf(node);
}

std::int32_t JsonDocument::GetInt(const std::string& path) const {
  try {
    return GetIntWide(Wide(path));
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::u16string JsonDocument::GetKeyWide(const std::u16string& path) const {
  try {
    const Node* node = Resolve(root_, UpToNul(path));
    return node == nullptr ? std::u16string() : std::u16string(node->Key());
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::string JsonDocument::GetKey(const std::string& path) const {
  try {
    const Node* node = Resolve(root_, Wide(path));
    return node == nullptr ? std::string() : Gbk(node->Key());
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::int32_t JsonDocument::GetKeysWide(const std::u16string& path, std::vector<std::u16string>& keys) const {
  try {
    const Node* node = Resolve(root_, UpToNul(path));
    if (node == nullptr || !node->Is(JsonKind::Object)) return 0;
    const NodeList* members = node->Children();
    std::vector<std::u16string> result;
    if (members != nullptr) {
      result.reserve(static_cast<std::size_t>(members->count));
      for (std::int32_t i = 0; i < members->count; ++i) result.emplace_back(members->items[i]->Key());
    }
    keys = std::move(result);
    return static_cast<std::int32_t>(keys.size());
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::int32_t JsonDocument::GetKeys(const std::string& path, std::vector<std::string>& keys) const {
  try {
    std::vector<std::u16string> wide;
    const std::int32_t count = GetKeysWide(Wide(path), wide);
    if (count == 0 && GetType(path) != JsonKind::Object) return 0;
    std::vector<std::string> result;
    result.reserve(wide.size());
    for (const std::u16string& key : wide) result.push_back(Gbk(key));
    keys = std::move(result);
    return count;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::int32_t JsonDocument::GetChildrenWide(const std::u16string& path, std::vector<JsonDocument>& children) const {
  try {
    const Node* node = Resolve(root_, UpToNul(path));
    if (node == nullptr || ChildCount(node) == 0) return 0;
    const NodeList* list = node->Children();
    std::vector<JsonDocument> result;
    result.reserve(static_cast<std::size_t>(list->count));
    for (std::int32_t i = 0; i < list->count; ++i) result.push_back(Sharing(list->items[i]));
    children = std::move(result);
    return static_cast<std::int32_t>(children.size());
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::int32_t JsonDocument::GetChildren(const std::string& path, std::vector<JsonDocument>& children) const {
  try {
    return GetChildrenWide(Wide(path), children);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

JsonDocument JsonDocument::GetMemberWide(const std::u16string& path, const std::u16string& key) const {
  const Node* node = Resolve(root_, UpToNul(path));
  return node == nullptr ? JsonDocument() : Sharing(FindMember(node, UpToNul(key)));
}

JsonDocument JsonDocument::GetMember(const std::string& path, const std::string& key) const {
  try {
    return GetMemberWide(Wide(path), Wide(key));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

JsonDocument JsonDocument::GetItemWide(const std::u16string& path, std::int32_t index) const {
  const Node* node = Resolve(root_, UpToNul(path));
  return node == nullptr ? JsonDocument() : Sharing(ChildAt(node, index));
}

JsonDocument JsonDocument::GetItem(const std::string& path, std::int32_t index) const {
  try {
    return GetItemWide(Wide(path), index);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

JsonDocument JsonDocument::GetParentWide(const std::u16string& path) const {
  const Node* node = Resolve(root_, UpToNul(path));
  return node == nullptr ? JsonDocument() : Sharing(node->Parent());
}

JsonDocument JsonDocument::GetParent(const std::string& path) const {
  try {
    return GetParentWide(Wide(path));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

JsonDocument JsonDocument::GetOrCreateWide(const std::u16string& path) {
  if (root_ == nullptr) return {};
  try {
    const JsonPath parsed(UpToNul(path));
    return Sharing(FindOrCreateNode(AsNode(root_), parsed));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

JsonDocument JsonDocument::GetOrCreate(const std::string& path) {
  try {
    return GetOrCreateWide(Wide(path));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

}  // namespace velmora::json
