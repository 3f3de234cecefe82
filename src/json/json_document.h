// JsonDocument: the handle through which the program reads and writes JSON trees.
//
// A document holds one reference to a root node (JsonNode), or none. Copying a document shares
// the root; documents handed out by queries (GetMember, GetItem, GetParent, GetOrCreate,
// GetChildren) share the node they name, so an edit through one is seen through every other, and
// each keeps its nodes alive after the source document is gone. Only copy operations copy trees.
//
// Paths name a node below the root: member names separated by ".", 0-based indexes in "[ ]", and
// "\" escaping ".", "[", "]" and "\" ("data[0].name", "a\.b" for the member "a.b"). An empty path
// names the root. Reads resolve a path without changing anything and give a fixed default for a
// missing node (empty text, 0, false, JsonKind::Raw, an empty document); GetOrCreate builds what
// is missing on the way (objects, arrays padded with nulls).
//
// Texts: every operation comes in a GBK form (std::string, code page 936) and a UTF-16 form whose
// name ends in Wide (std::u16string); a text is read up to its first NUL. Characters without a GBK
// form come out as "?".
//
// Threads: a document, and every document that shares nodes with it, is used by one thread at a
// time; documents sharing nodes may be destroyed on different threads. Failures are results:
// nothing here throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "json/json_node.h"
#include "json/json_parser.h"

namespace velmora::json {

class JsonDocument {
 public:
  JsonDocument() noexcept = default;                    // no root
  JsonDocument(const JsonDocument& other) noexcept;     // shares the root
  JsonDocument& operator=(const JsonDocument& other) noexcept;
  JsonDocument(JsonDocument&& other) noexcept;
  JsonDocument& operator=(JsonDocument&& other) noexcept;
  ~JsonDocument();

  // Drops the reference to the root (the tree goes when nobody else holds it).
  void Destroy() noexcept;
  // A new document holding the same root.
  JsonDocument Copy() const noexcept;
  // Drops the root; the document has none afterwards.
  void Clear() noexcept;
  // The root, or null; no reference is added.
  JsonNode* GetRoot() const noexcept { return root_; }
  // Takes `node` as root (adding a reference, then dropping the old root); null changes nothing.
  void SetRoot(JsonNode* node) noexcept;

  // New documents holding a fresh, unattached node made in this document's heap (a new heap when
  // it has no root). Empty documents when memory ran out.
  JsonDocument NewObject() const noexcept;
  JsonDocument NewArray() const noexcept;
  JsonDocument NewNull() const noexcept;
  JsonDocument NewBool(bool value) const noexcept;
  JsonDocument NewNumber(double value) const noexcept;       // text form "%.13g"
  JsonDocument NewInt64(std::int64_t value) const noexcept;  // text form in decimal
  JsonDocument NewText(const std::string& text) const;
  JsonDocument NewTextWide(const std::u16string& text) const;

  // Parses JSON text into the root, which stays the same node (a document without a root gets an
  // empty object first). True when `errorCode` is ParseError::None; on failure the root is left
  // empty and `errorPosition` tells the UTF-16 index where scanning stopped. See json_parser.h for
  // the accepted grammar.
  bool Parse(const std::string& text, bool decodeUnicodeEscapes = false, ParseError* errorCode = nullptr,
             std::int32_t* errorPosition = nullptr);
  bool ParseWide(const std::u16string& text, bool decodeUnicodeEscapes = false, ParseError* errorCode = nullptr,
                 std::int32_t* errorPosition = nullptr);
  // Replaces the root by a fresh empty object (other holders keep the old one), then parses the
  // text into it when `parseNow` is set; true without parsing.
  bool Reset(const std::string& text, bool parseNow = false, bool decodeUnicodeEscapes = false,
             ParseError* errorCode = nullptr, std::int32_t* errorPosition = nullptr);
  bool ResetWide(const std::u16string& text, bool parseNow = false, bool decodeUnicodeEscapes = false,
                 ParseError* errorCode = nullptr, std::int32_t* errorPosition = nullptr);

  // --- reading by path ---
  JsonKind GetType(const std::string& path) const;   // JsonKind::Raw (-1) when missing
  JsonKind GetTypeWide(const std::u16string& path) const;
  // Members of an object, elements of an array; 0 for anything else.
  std::int32_t GetCount(const std::string& path) const;
  std::int32_t GetCountWide(const std::u16string& path) const;
  // Whether the path names a node; false for a path without any member or index.
  bool Exists(const std::string& path) const;
  bool ExistsWide(const std::u16string& path) const;
  // A string's text, or a scalar's text form ("null", "true", "1.50" as written); empty for
  // arrays and objects.
  std::string GetText(const std::string& path) const;
  std::u16string GetTextWide(const std::u16string& path) const;
  // The stored text form of a scalar; empty for strings, arrays and objects.
  std::string GetLiteral(const std::string& path) const;
  std::u16string GetLiteralWide(const std::u16string& path) const;
  // Booleans as stored; integers true when their low 32 bits are not all zero; reals true when
  // |value| > 1e-7; false for everything else (the string "true" included).
  bool GetBool(const std::string& path) const;
  bool GetBoolWide(const std::u16string& path) const;
  // Numbers converted; booleans 1 or 0; strings read as leading decimal numbers (GetNumber also
  // reads full-width digits and signs); 0 for everything else. Reals are truncated toward zero
  // for the integer getters, saturating at the limits; GetInt keeps an integer's low 32 bits.
  double GetNumber(const std::string& path) const;
  double GetNumberWide(const std::u16string& path) const;
  std::int64_t GetInt64(const std::string& path) const;
  std::int64_t GetInt64Wide(const std::u16string& path) const;
  std::int32_t GetInt(const std::string& path) const;
  std::int32_t GetIntWide(const std::u16string& path) const;
  // The key under which the node is a member; empty for the root and array elements.
  std::string GetKey(const std::string& path) const;
  std::u16string GetKeyWide(const std::u16string& path) const;
  // The keys of an object in member order, replacing `keys`; the count. 0 and `keys` untouched
  // when the node is missing or not an object.
  std::int32_t GetKeys(const std::string& path, std::vector<std::string>& keys) const;
  std::int32_t GetKeysWide(const std::u16string& path, std::vector<std::u16string>& keys) const;
  // One document per member or element, replacing `children`; the count. 0 and `children`
  // untouched when there is none.
  std::int32_t GetChildren(const std::string& path, std::vector<JsonDocument>& children) const;
  std::int32_t GetChildrenWide(const std::u16string& path, std::vector<JsonDocument>& children) const;
  // Documents sharing a node: the member `key` of the object at the path; the element (or the
  // member in member order) at `index`; the parent of the node. Empty documents when missing.
  JsonDocument GetMember(const std::string& path, const std::string& key) const;
  JsonDocument GetMemberWide(const std::u16string& path, const std::u16string& key) const;
  JsonDocument GetItem(const std::string& path, std::int32_t index) const;
  JsonDocument GetItemWide(const std::u16string& path, std::int32_t index) const;
  JsonDocument GetParent(const std::string& path) const;
  JsonDocument GetParentWide(const std::u16string& path) const;
  // A document sharing the node at the path, built when missing: members become objects on the
  // way, indexes arrays padded with nulls ("x.y[2]" on {} leaves {"x":{"y":[null,null,null]}}).
  // Empty for a document without a root or a negative index.
  JsonDocument GetOrCreate(const std::string& path);
  JsonDocument GetOrCreateWide(const std::u16string& path);

 private:
  explicit JsonDocument(JsonNode* adoptedRoot) noexcept : root_(adoptedRoot) {}
  // A document sharing `node` (one more reference); empty for null.
  static JsonDocument Sharing(JsonNode* node) noexcept;
  // A document taking over the creator's reference to `node`.
  static JsonDocument Adopting(JsonNode* node) noexcept { return JsonDocument(node); }
  bool ParseText(const std::u16string& text, bool decodeUnicodeEscapes, ParseError* errorCode,
                 std::int32_t* errorPosition);

  JsonNode* root_ = nullptr;
};

}  // namespace velmora::json
