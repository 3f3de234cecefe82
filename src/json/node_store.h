// The node routines that every part of the JSON document builds on: making nodes, changing them
// in place, storing children in arrays and objects, finding them again, and freeing trees.
//
// Internal to src/json. Every routine works on the tree of one thread (only reference counts are
// atomic). Ownership: a container holds exactly one reference to each child; storing a new node
// hands the creator's reference to the container. Routines that allocate return null or false
// when memory runs out and leave the tree as it was before the failing step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include "json/json_node.h"
#include "json/node_heap.h"
#include "json/node_text.h"

namespace velmora::json {

// The elements of an array, and the member order of an object: `count` items in a block of
// `capacity` (none while the capacity is 0); items[count..capacity) are null. Lists made by edits
// hold 8 items and grow to 2n+1; parsed lists hold exactly their items (see member_table.h).
struct NodeList {
  std::int32_t count;
  std::int32_t capacity;
  JsonNode** items;
};

// The members of an object: a hash table (open addressing: each bucket holds a member or nothing,
// a member sits in the first free bucket from its key's one on) and the list of members in
// insertion order. 11 buckets when new, grown to 2n+1 when the member count reaches
// bucketCount * loadFactor, so a bucket is always free. `buckets` is null until first needed.
struct MemberTable {
  JsonNode** buckets;
  std::int32_t bucketCount;
  std::int32_t memberCount;
  std::int32_t threshold;
  float loadFactor;
  NodeList order;
};

// The node as the routines see it: the same object, with its storage in reach. Every node is
// made as a Node, so a JsonNode* may always be turned into a Node*.
class Node final : public JsonNode {
 public:
  using JsonNode::flags_;
  using JsonNode::heap_;
  using JsonNode::inlineBytes_;
  using JsonNode::kFormBlock;
  using JsonNode::kInlineForm;
  using JsonNode::kInlineStore;
  using JsonNode::kKeywordForm;
  using JsonNode::key_;
  using JsonNode::kind_;
  using JsonNode::kRealFromText;
  using JsonNode::parent_;
  using JsonNode::refCount_;
  using JsonNode::value_;
  using JsonNode::Value;

  Node() noexcept = default;

  JsonKind Kind() const noexcept { return static_cast<JsonKind>(kind_); }
  // A change of kind also forgets where the old text form was.
  void SetKind(JsonKind kind) noexcept {
    kind_ = static_cast<std::int8_t>(kind);
    flags_ = 0;
  }
  bool Is(JsonKind kind) const noexcept { return kind_ == static_cast<std::int8_t>(kind); }
  // The children of an array or the members of an object in order; null for other kinds.
  inline const NodeList* Children() const noexcept;
  // Where a text block stored with the node itself starts (see NewScalar).
  char16_t* InlineText() noexcept { return const_cast<char16_t*>(InlineForm()); }
  bool HasForm(std::uint8_t where) const noexcept { return (flags_ & where) != 0; }
  // The list or table header stored right after a parsed container (see NewChildContainer).
  template <typename Header>
  Header* InlineStore() noexcept {
    return reinterpret_cast<Header*>(this + 1);
  }
  // Stores a number's value where IntegerValue and RealValue read it.
  void StoreValue(Value value) noexcept {
    if (HasForm(kFormBlock)) {
      std::memcpy(reinterpret_cast<char*>(value_.form) - kTextHeaderBytes - sizeof value, &value, sizeof value);  // see FormValue
    } else {
      value_ = value;
    }
  }
};

inline const NodeList* Node::Children() const noexcept {
  if (Is(JsonKind::Array)) return value_.array;
  if (Is(JsonKind::Object) && value_.object != nullptr) return &value_.object->order;
  return nullptr;
}

inline Node* AsNode(JsonNode* node) noexcept { return static_cast<Node*>(node); }
inline const Node* AsNode(const JsonNode* node) noexcept { return static_cast<const Node*>(node); }

// Hash of a key over its UTF-16 bytes, last byte first: h = h * 31 + b, wrapping at 32 bits.
std::uint32_t HashKey(std::u16string_view key) noexcept;

// --- making nodes. `owner` names the heap (null: a new heap of the process default resource). ---
Node* NewNode(const Node* owner, JsonKind kind) noexcept;  // Null, Boolean false, 0, or empty container
Node* NewBool(const Node* owner, bool value) noexcept;
// A number with its text form; an empty text form is made from the value ("%.13g" / decimal).
Node* NewReal(const Node* owner, double value, std::u16string_view textForm = {}) noexcept;
Node* NewInteger(const Node* owner, std::int64_t value, std::u16string_view textForm = {}) noexcept;
Node* NewString(const Node* owner, std::u16string_view text) noexcept;
Node* NewRaw(const Node* owner, std::u16string_view textForm) noexcept;
// A Null, Boolean, Real or Integer node (value set by the caller) or a String node whose text is
// stored in the same block as the node: what the parser makes for each scalar.
Node* NewScalar(NodeHeap* heap, JsonKind kind, std::u16string_view text) noexcept;

// --- changing a node in place (the old payload and text form are freed first) ---
void ClearContents(Node* node) noexcept;   // frees payload and text form; the kind stays
void EmptyInPlace(Node* node) noexcept;    // containers stay but lose their children
bool SetNull(Node* node) noexcept;
bool SetBool(Node* node, bool value) noexcept;
bool SetReal(Node* node, double value, std::u16string_view textForm = {}) noexcept;
bool SetInteger(Node* node, std::int64_t value, std::u16string_view textForm = {}) noexcept;
bool SetString(Node* node, std::u16string_view text) noexcept;
// An empty container unless the node already has that kind (content kept). False when the
// container could not be made: the node then has the kind and no container.
bool MakeObject(Node* node) noexcept;
bool MakeArray(Node* node) noexcept;

// --- containers ---
// Appends to an array (made one first); the child's reference passes to the array.
bool AppendChild(Node* array, Node* child) noexcept;
bool InsertChild(Node* array, std::int32_t index, Node* child) noexcept;  // 0 <= index <= count
// Stores a member (the node is made an object first); a member under the same key is replaced
// in its place and released. The child's reference passes to the object.
bool PutMember(Node* object, std::u16string_view key, Node* child) noexcept;
// As PutMember, but a new key goes to `position` of the member order (0 <= position <= count).
bool PutMemberAt(Node* object, std::int32_t position, std::u16string_view key, Node* child) noexcept;
// A member by key (exact comparison); null when missing or when the node is not an object.
Node* FindMember(const Node* object, std::u16string_view key) noexcept;
Node* FindMember(const Node* object, std::u16string_view key, std::uint32_t hash) noexcept;
// The index-th element of an array or member of an object in member order; null out of range.
Node* ChildAt(const Node* node, std::int32_t index) noexcept;
std::int32_t ChildCount(const Node* node) noexcept;
// Takes the node out of its container (no reference changes hands: the container's reference
// passes to the caller); the node loses its key and parent.
void Detach(Node* node) noexcept;
// Takes a child out of its container and drops the container's reference to it (a node that
// another holder keeps lives on without key and parent). False for a node without a container.
bool RemoveChild(Node* child) noexcept;
// Replaces the index-th element of an array by `child`, releasing the old element.
bool ReplaceChild(Node* array, std::int32_t index, Node* child) noexcept;

// Frees a node whose count reached zero, and every child that only it held, without recursion.
void DestroyNode(Node* node) noexcept;

// --- building parsed trees (the caller holds a lease on the heap) ---
// Nodes made here are children from birth: their one reference is meant for the container they
// will join, so they are not counted as holders of the heap. Until they join one, the parser
// owns them and frees any it cannot store with DiscardChild.
// (Inline below: the parser makes one or two of these for every value.)
inline Node* NewChildScalar(NodeHeap* heap, JsonKind kind, std::u16string_view text) noexcept;
// An array or object without storage yet: AdoptChildren or AdoptMembers gives it its storage,
// whose header is part of the node's block.
inline Node* NewChildContainer(NodeHeap* heap, JsonKind kind) noexcept;
// Gives a child its key text (hashed when its object builds its buckets); false when memory ran out.
inline bool SetChildKey(Node* child, std::u16string_view key) noexcept;
// NewChildScalar for any text (one too long to share the node's block included).
Node* MakeChildScalar(NodeHeap* heap, JsonKind kind, std::u16string_view text) noexcept;
// Frees a child that never joined a container, with its key and everything below it.
void DiscardChild(Node* child) noexcept;
// Drops a member that a later one with the same key replaced while its object was being built
// (see parsed_tree.h): it loses its parent, and is freed unless another holder keeps it.
void DropReplacedMember(Node* old) noexcept;

// A node with `extra` bytes of its own after it, whose reference is meant for its container.
inline Node* NewChildNode(NodeHeap* heap, JsonKind kind, std::size_t extra) noexcept {
  void* memory = heap->Allocate(sizeof(Node) + extra);
  if (memory == nullptr) return nullptr;
  Node* node = new (memory) Node();
  node->heap_ = heap;
  node->SetKind(kind);
  node->inlineBytes_ = static_cast<std::uint16_t>(extra);
  return node;
}

// The header of its list or table lives in the node's block, next to the node, so that a walk
// over the tree finds a container's count where it finds its kind.
inline Node* NewChildContainer(NodeHeap* heap, JsonKind kind) noexcept {
  Node* node = NewChildNode(heap, kind, kind == JsonKind::Array ? sizeof(NodeList) : sizeof(MemberTable));
  if (node != nullptr) node->flags_ = Node::kInlineStore;
  return node;
}

inline Node* NewChildScalar(NodeHeap* heap, JsonKind kind, std::u16string_view text) noexcept {
  if (kind == JsonKind::Null || kind == JsonKind::Boolean) {
    Node* node = NewChildNode(heap, kind, 0);
    if (node != nullptr) node->flags_ = Node::kKeywordForm;
    return node;
  }
  const std::size_t textBytes = InlineTextBytes(text.size());
  if (textBytes > 0xFFF8) return MakeChildScalar(heap, kind, text);
  Node* node = NewChildNode(heap, kind, textBytes);  // the text shares the node's block
  if (node == nullptr) return nullptr;
  char16_t* stored = PlaceInlineText(node + 1, text);
  if (kind == JsonKind::String) {
    node->value_.string = stored;
  } else {
    node->flags_ = Node::kInlineForm;
  }
  return node;
}

inline bool SetChildKey(Node* child, std::u16string_view key) noexcept {
  char16_t* text = NewText(child->heap_, key);
  if (text == nullptr) return false;
  child->key_ = text;  // hashed when its object's buckets are built
  return true;
}

}  // namespace velmora::json
