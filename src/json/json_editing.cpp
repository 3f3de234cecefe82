// JsonDocument: the editing operations by path, in their GBK and UTF-16 forms.
#include <new>
#include <string>

#include "json/json_copy.h"
#include "json/json_document.h"
#include "json/json_path.h"
#include "json/node_store.h"
#include "text/encoding.h"

namespace velmora::json {
namespace {

std::u16string Wide(const std::string& gbk) { return text::NarrowToWide(gbk, text::NarrowCodePage); }

std::u16string_view UpToNul(const std::u16string& text) noexcept { return std::u16string_view(text.c_str()); }

// The target of an edit: the node at `path`, built when missing. Null for a document without a
// root, a negative index or lack of memory.
Node* Target(JsonNode* root, std::u16string_view path) noexcept {
  if (root == nullptr) return nullptr;
  try {
    const JsonPath parsed(path);
    return FindOrCreateNode(AsNode(root), parsed);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// A deep copy of `source`'s root for the tree of `root`; null when there is nothing to copy.
Node* CopyIn(JsonNode* root, const JsonDocument& source) noexcept {
  if (root == nullptr || source.GetRoot() == nullptr) return nullptr;
  return DeepCopy(AsNode(source.GetRoot()), AsNode(root));
}

// Stores `copy` (the caller's reference) by `store`, or releases it when that fails.
template <typename Store>
bool Keep(Node* copy, Store store) noexcept {
  if (copy == nullptr) return false;
  if (store(copy)) return true;
  copy->Release();
  return false;
}

}  // namespace

// --- scalar setters ---

bool JsonDocument::SetNullWide(const std::u16string& path) {
  Node* target = Target(root_, UpToNul(path));
  return target != nullptr && json::SetNull(target);
}

bool JsonDocument::SetBoolWide(const std::u16string& path, bool value) {
  Node* target = Target(root_, UpToNul(path));
  return target != nullptr && json::SetBool(target, value);
}

bool JsonDocument::SetNumberWide(const std::u16string& path, double value) {
  Node* target = Target(root_, UpToNul(path));
  return target != nullptr && SetReal(target, value);
}

bool JsonDocument::SetInt64Wide(const std::u16string& path, std::int64_t value) {
  Node* target = Target(root_, UpToNul(path));
  return target != nullptr && SetInteger(target, value);
}

bool JsonDocument::SetIntWide(const std::u16string& path, std::int32_t value) { return SetInt64Wide(path, value); }

bool JsonDocument::SetTextWide(const std::u16string& path, const std::u16string& text) {
  Node* target = Target(root_, UpToNul(path));
  return target != nullptr && SetString(target, UpToNul(text));
}

bool JsonDocument::SetObjectWide(const std::u16string& path) {
  Node* target = Target(root_, UpToNul(path));
  return target != nullptr && MakeObject(target);
}

bool JsonDocument::SetArrayWide(const std::u16string& path) {
  Node* target = Target(root_, UpToNul(path));
  return target != nullptr && MakeArray(target);
}

void JsonDocument::ClearValueWide(const std::u16string& path) {
  if (Node* target = Target(root_, UpToNul(path)); target != nullptr) EmptyInPlace(target);
}

bool JsonDocument::RemoveMemberWide(const std::u16string& path, const std::u16string& key) {
  Node* target = Target(root_, UpToNul(path));
  if (target == nullptr || !target->Is(JsonKind::Object)) return false;
  Node* member = FindMember(target, UpToNul(key));
  return member != nullptr && RemoveChild(member);
}

bool JsonDocument::RemoveAtWide(const std::u16string& path, std::int32_t index) {
  Node* target = Target(root_, UpToNul(path));
  if (target == nullptr || !target->Is(JsonKind::Array)) return false;
  Node* element = ChildAt(target, index);
  return element != nullptr && RemoveChild(element);
}

// --- copy-in: the copy is taken first, so that the source may be this very tree ---

bool JsonDocument::SetMemberDocumentWide(const std::u16string& path, const std::u16string& key,
                                         const JsonDocument& source) {
  Node* copy = CopyIn(root_, source);
  if (copy == nullptr) return false;
  Node* target = Target(root_, UpToNul(path));
  return Keep(copy, [&](Node* node) { return target != nullptr && PutMember(target, UpToNul(key), node); });
}

bool JsonDocument::InsertMemberDocumentWide(const std::u16string& path, std::int32_t position,
                                            const std::u16string& key, const JsonDocument& source) {
  Node* copy = CopyIn(root_, source);
  if (copy == nullptr) return false;
  Node* target = Target(root_, UpToNul(path));
  return Keep(copy, [&](Node* node) {
    if (target == nullptr || !MakeObject(target)) return false;
    // An existing key is replaced where it stands and the position does not matter.
    if (FindMember(target, UpToNul(key)) != nullptr) return PutMember(target, UpToNul(key), node);
    return position >= 0 && PutMemberAt(target, position, UpToNul(key), node);
  });
}

bool JsonDocument::AppendDocumentWide(const std::u16string& path, const JsonDocument& source) {
  Node* copy = CopyIn(root_, source);
  if (copy == nullptr) return false;
  Node* target = Target(root_, UpToNul(path));
  return Keep(copy, [&](Node* node) { return target != nullptr && AppendChild(target, node); });
}

bool JsonDocument::InsertDocumentWide(const std::u16string& path, std::int32_t index, const JsonDocument& source) {
  Node* copy = CopyIn(root_, source);
  if (copy == nullptr) return false;
  Node* target = Target(root_, UpToNul(path));
  return Keep(copy, [&](Node* node) { return target != nullptr && InsertChild(target, index, node); });
}

bool JsonDocument::SetItemDocumentWide(const std::u16string& path, std::int32_t index, const JsonDocument& source) {
  Node* copy = CopyIn(root_, source);
  if (copy == nullptr) return false;
  Node* target = Target(root_, UpToNul(path));
  return Keep(copy, [&](Node* node) {
    if (target == nullptr || !MakeArray(target) || index < 0) return false;
    if (index < ChildCount(target)) return ReplaceChild(target, index, node);
    while (ChildCount(target) < index) {  // nulls up to the index; they stay when a step fails
      Node* filler = NewNode(target, JsonKind::Null);
      if (filler == nullptr) return false;
      if (!AppendChild(target, filler)) {
        filler->Release();
        return false;
      }
    }
    return AppendChild(target, node);
  });
}

bool JsonDocument::MergeDocument(const std::string& path, const JsonDocument& source) {
  if (source.GetRoot() == nullptr || source.GetRoot()->Kind() != JsonKind::Object) return false;
  try {
    // A copy of the whole source first; its members then move over one by one.
    Node* copy = CopyIn(root_, source);
    if (copy == nullptr) return false;
    Node* target = Target(root_, Wide(path));
    bool stored = target != nullptr && MakeObject(target);
    while (stored && ChildCount(copy) > 0) {
      Node* member = ChildAt(copy, 0);
      const std::u16string key(member->Key());
      json::Detach(member);
      stored = PutMember(target, key, member);
      if (!stored) member->Release();
    }
    copy->Release();
    return stored;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool JsonDocument::AppendAll(const std::string& path, const JsonDocument& source) {
  if (source.GetRoot() == nullptr || source.GetRoot()->Kind() != JsonKind::Array) return false;
  try {
    Node* copy = CopyIn(root_, source);
    if (copy == nullptr) return false;
    Node* target = Target(root_, Wide(path));
    bool stored = target != nullptr && MakeArray(target);
    while (stored && ChildCount(copy) > 0) {
      Node* element = ChildAt(copy, 0);
      json::Detach(element);
      stored = AppendChild(target, element);
      if (!stored) element->Release();
    }
    copy->Release();
    return stored;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool JsonDocument::MergeTextWide(const std::u16string& path, const std::u16string& text, bool decodeUnicodeEscapes,
                                 bool addNew) {
  Node* target = Target(root_, UpToNul(path));
  if (target == nullptr) return false;
  Node* parsed = NewNode(target, JsonKind::Object);
  if (parsed == nullptr) return false;
  if (ParseIntoNode(parsed, text, decodeUnicodeEscapes, nullptr) != ParseError::None) {
    parsed->Release();
    return false;
  }
  bool parsedStored = false;
  const bool merged = MergeTree(target, parsed, addNew, &parsedStored);
  if (!parsedStored) parsed->Release();  // what was not merged goes with it
  return merged;
}

JsonDocument JsonDocument::CloneWide(const std::u16string& path) {
  const Node* target = Target(root_, UpToNul(path));
  return target == nullptr ? JsonDocument() : Adopting(DeepCopy(target, nullptr));
}

void JsonDocument::Detach() noexcept {
  Node* root = AsNode(root_);
  if (root == nullptr || root->parent_ == nullptr) return;
  json::Detach(root);  // the container's reference comes to us, and is not needed
  root->Release();
}

// --- the GBK forms ---

#define VELMORA_JSON_GBK_FORM(Call)   \
  try {                               \
    return Call;                      \
  } catch (const std::bad_alloc&) {   \
    return {};                        \
  }

bool JsonDocument::SetNull(const std::string& path) { VELMORA_JSON_GBK_FORM(SetNullWide(Wide(path))) }
bool JsonDocument::SetBool(const std::string& path, bool value) { VELMORA_JSON_GBK_FORM(SetBoolWide(Wide(path), value)) }
bool JsonDocument::SetNumber(const std::string& path, double value) {
  VELMORA_JSON_GBK_FORM(SetNumberWide(Wide(path), value))
}
bool JsonDocument::SetInt64(const std::string& path, std::int64_t value) {
  VELMORA_JSON_GBK_FORM(SetInt64Wide(Wide(path), value))
}
bool JsonDocument::SetInt(const std::string& path, std::int32_t value) { VELMORA_JSON_GBK_FORM(SetIntWide(Wide(path), value)) }
bool JsonDocument::SetText(const std::string& path, const std::string& text) {
  VELMORA_JSON_GBK_FORM(SetTextWide(Wide(path), Wide(text)))
}
bool JsonDocument::SetObject(const std::string& path) { VELMORA_JSON_GBK_FORM(SetObjectWide(Wide(path))) }
bool JsonDocument::SetArray(const std::string& path) { VELMORA_JSON_GBK_FORM(SetArrayWide(Wide(path))) }
void JsonDocument::ClearValue(const std::string& path) {
  try {
    ClearValueWide(Wide(path));
  } catch (const std::bad_alloc&) {
  }
}
bool JsonDocument::RemoveMember(const std::string& path, const std::string& key) {
  VELMORA_JSON_GBK_FORM(RemoveMemberWide(Wide(path), Wide(key)))
}
bool JsonDocument::RemoveAt(const std::string& path, std::int32_t index) {
  VELMORA_JSON_GBK_FORM(RemoveAtWide(Wide(path), index))
}
bool JsonDocument::SetMemberDocument(const std::string& path, const std::string& key, const JsonDocument& source) {
  VELMORA_JSON_GBK_FORM(SetMemberDocumentWide(Wide(path), Wide(key), source))
}
bool JsonDocument::InsertMemberDocument(const std::string& path, std::int32_t position, const std::string& key,
                                        const JsonDocument& source) {
  VELMORA_JSON_GBK_FORM(InsertMemberDocumentWide(Wide(path), position, Wide(key), source))
}
bool JsonDocument::AppendDocument(const std::string& path, const JsonDocument& source) {
  VELMORA_JSON_GBK_FORM(AppendDocumentWide(Wide(path), source))
}
bool JsonDocument::InsertDocument(const std::string& path, std::int32_t index, const JsonDocument& source) {
  VELMORA_JSON_GBK_FORM(InsertDocumentWide(Wide(path), index, source))
}
bool JsonDocument::SetItemDocument(const std::string& path, std::int32_t index, const JsonDocument& source) {
  VELMORA_JSON_GBK_FORM(SetItemDocumentWide(Wide(path), index, source))
}
bool JsonDocument::MergeText(const std::string& path, const std::string& text, bool decodeUnicodeEscapes,
                             bool addNew) {
  VELMORA_JSON_GBK_FORM(MergeTextWide(Wide(path), Wide(text), decodeUnicodeEscapes, addNew))
}
JsonDocument JsonDocument::Clone(const std::string& path) { VELMORA_JSON_GBK_FORM(CloneWide(Wide(path))) }

#undef VELMORA_JSON_GBK_FORM

}  // namespace velmora::json
