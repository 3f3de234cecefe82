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
#include <functional>
#include <string>
#include <vector>

#include "json/json_node.h"
#include "json/json_parser.h"

namespace velmora::json {

class JsonDocument {
 public:
  // A caller's order for Sort: greater than 0 when `first` is to come after `second`, 0 when they
  // are equal, less than 0 otherwise; `userValue` is passed through unchanged.
  using JsonCompare = std::function<std::int32_t(const JsonNode& first, const JsonNode& second, std::int32_t userValue)>;

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

  // --- writing JSON text ---
  // The JSON text of the node at the path (plain lookup; empty text when it does not resolve).
  // Compact, or with `pretty` a CR LF after "{" and after each member and one tab per level
  // (arrays count as levels but are never broken). With `escape`, quotes, backslashes, slashes
  // and \b \t \n \r \f are escaped; no \u escape is ever written. Scalars are written from their
  // text form ("1.50" stays "1.50"). `initialCapacity` is the first buffer size in bytes
  // (0 or less: 1024); the buffer at least doubles whenever it grows. Linear in the output.
  std::string ToJson(const std::string& path = {}, bool pretty = false, bool escape = true,
                     std::int32_t initialCapacity = 0) const;
  std::u16string ToJsonWide(const std::u16string& path = {}, bool pretty = false, bool escape = true,
                            std::int32_t initialCapacity = 0) const;

  // --- editing by path ---
  // Every operation but the sorts finds its target with the lookup of GetOrCreate, so a missing
  // path is built first (and stays built when the operation then fails). All do nothing and
  // return false on a document without a root.
  //
  // Scalar setters change the target in place (key, parent and position kept). Text forms:
  // "%.13g" for SetNumber (0.1 -> "0.1", 100.0 -> "100"), decimal for the integers.
  bool SetNull(const std::string& path);
  bool SetNullWide(const std::u16string& path);
  bool SetBool(const std::string& path, bool value);
  bool SetBoolWide(const std::u16string& path, bool value);
  bool SetNumber(const std::string& path, double value);
  bool SetNumberWide(const std::u16string& path, double value);
  bool SetInt64(const std::string& path, std::int64_t value);
  bool SetInt64Wide(const std::u16string& path, std::int64_t value);
  bool SetInt(const std::string& path, std::int32_t value);
  bool SetIntWide(const std::u16string& path, std::int32_t value);
  bool SetText(const std::string& path, const std::string& text);
  bool SetTextWide(const std::u16string& path, const std::u16string& text);
  // An empty object (array) unless the target already is one, which keeps its content.
  bool SetObject(const std::string& path);
  bool SetObjectWide(const std::u16string& path);
  bool SetArray(const std::string& path);
  bool SetArrayWide(const std::u16string& path);
  // Empties the target in place, keeping its kind (a number keeps no text form and is then
  // written as 0).
  void ClearValue(const std::string& path);
  void ClearValueWide(const std::u16string& path);
  // Removes a member of an object target / an element of an array target (later ones move up).
  // False when there is none; a target of another kind is not converted. A removed node that
  // another document holds lives on there without key and parent.
  bool RemoveMember(const std::string& path, const std::string& key);
  bool RemoveMemberWide(const std::u16string& path, const std::u16string& key);
  bool RemoveAt(const std::string& path, std::int32_t index);
  bool RemoveAtWide(const std::u16string& path, std::int32_t index);

  // Copy-in: a deep copy of `source`'s root, taken before anything changes (so `source` may be
  // this document or share its nodes), is stored at the target, which is made an object or an
  // array as needed. Copies write numbers anew ("1.50" becomes "1.5"). False when `source` has
  // no root or the copy cannot be stored.
  // Under `key` (replacing a member in its place, or as the last member).
  bool SetMemberDocument(const std::string& path, const std::string& key, const JsonDocument& source);
  bool SetMemberDocumentWide(const std::u16string& path, const std::u16string& key, const JsonDocument& source);
  // As SetMemberDocument, but a new key goes to `position` of the member order (0..count).
  bool InsertMemberDocument(const std::string& path, std::int32_t position, const std::string& key,
                            const JsonDocument& source);
  bool InsertMemberDocumentWide(const std::u16string& path, std::int32_t position, const std::u16string& key,
                                const JsonDocument& source);
  bool AppendDocument(const std::string& path, const JsonDocument& source);
  bool AppendDocumentWide(const std::u16string& path, const JsonDocument& source);
  // At `index` (0..count); later elements move one place toward the end.
  bool InsertDocument(const std::string& path, std::int32_t index, const JsonDocument& source);
  bool InsertDocumentWide(const std::u16string& path, std::int32_t index, const JsonDocument& source);
  // Replaces the element at `index`, or pads with nulls up to it and appends (index >= 0).
  bool SetItemDocument(const std::string& path, std::int32_t index, const JsonDocument& source);
  bool SetItemDocumentWide(const std::u16string& path, std::int32_t index, const JsonDocument& source);
  // Every member of `source`'s root object, copied under its key (a shallow merge: a member on
  // both sides is replaced whole). True when all were stored (also for none).
  bool MergeDocument(const std::string& path, const JsonDocument& source);
  // Every element of `source`'s root array, copied and appended. True when all were stored.
  bool AppendAll(const std::string& path, const JsonDocument& source);
  // Parses `text` and merges it into the target: objects member by member, down to the members
  // that only one side has (added when `addNew` is set, else skipped); anything else replaces
  // the target's node in its parent object. False when the text fails to parse, when nothing was
  // merged, when a step fails (the merge stops there) or when a non-object must replace a target
  // that is no object member (the root, an array element).
  bool MergeText(const std::string& path, const std::string& text, bool decodeUnicodeEscapes, bool addNew);
  bool MergeTextWide(const std::u16string& path, const std::u16string& text, bool decodeUnicodeEscapes,
                     bool addNew);
  // A new document holding a deep copy of the target (in a heap of its own).
  JsonDocument Clone(const std::string& path);
  JsonDocument CloneWide(const std::u16string& path);
  // Sorts the member order of the object at the path (plain lookup) by key, in UTF-16 code-unit
  // order, descending on request. Member lookup is unaffected. True for an object.
  bool SortByKey(const std::string& path, bool descending);
  bool SortByKeyWide(const std::u16string& path, bool descending);
  // Sorts an object's members or an array's elements (plain lookup) with `compare`, by quicksort
  // or, with `shellSort`, by shell sort; neither keeps the order of equal elements. Other kinds
  // are left alone. `compare` must not change the document.
  void Sort(const std::string& path, const JsonCompare& compare, std::int32_t userValue, bool shellSort);
  void SortWide(const std::u16string& path, const JsonCompare& compare, std::int32_t userValue, bool shellSort);
  // Takes this document's root out of the array or object that holds it; it stays this
  // document's root.
  void Detach() noexcept;

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
