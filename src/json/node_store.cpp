#include "json/node_store.h"

#include <new>

#include "json/member_table.h"
#include "json/number_text.h"

namespace velmora::json {
namespace {

// Frees a text of the node unless it lives in the node's own block.
void FreeNodeText(Node* node, char16_t* text) noexcept {
  if (text == nullptr || (node->inlineBytes_ != 0 && text == node->InlineText())) return;
  FreeText(node->heap_, text);
}

// Forgets a scalar's text form, freeing it when it has a block of its own. The value stays in
// value_ only when the form was not a form block; a container's storage stays where it is.
void FreeForm(Node* node) noexcept {
  if (node->HasForm(Node::kFormBlock)) {
    FreeFormBlock(node->heap_, node->value_.form);
    node->value_ = {};
  }
  node->flags_ &= Node::kInlineStore;
}

// A reference dropped by a holder: true when it was the last one. A count of 1 seen by the
// holder of that one reference cannot change under it, so the atomic decrement is skipped.
bool DropReference(Node* node) noexcept {
  if (node->refCount_.load(std::memory_order_acquire) == 1) {
    node->refCount_.store(0, std::memory_order_relaxed);
    return true;
  }
  return node->refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1;
}

// Frees trees without recursion: nodes whose last reference went wait in a list linked through
// their parent field (unused once a node has left its container and died) until Run frees them
// and queues their children in turn. The reaper holds its heap's lock meanwhile.
class Reaper {
 public:
  explicit Reaper(NodeHeap* heap) noexcept : lease_(heap) {}

  // The container's reference to a child that has just left it (no key, no parent).
  void Drop(Node* child) noexcept {
    if (!DropReference(child)) return;
    child->parent_ = pending_;
    pending_ = child;
  }

  void QueueDead(Node* node) noexcept {
    node->parent_ = pending_;
    pending_ = node;
  }

  // Frees a node's payload and text form, dropping its children; the kind stays.
  void FreeContents(Node* node) noexcept {
    NodeHeap* heap = node->heap_;
    switch (node->Kind()) {
      case JsonKind::String:
        FreeNodeText(node, node->value_.string);
        break;
      case JsonKind::Object:
        if (MemberTable* table = node->value_.object; table != nullptr) {
          ForgetMembers(heap, table);
          if (node->HasForm(Node::kInlineStore)) {
            ReleaseTable(heap, table);
          } else {
            FreeTable(heap, table);
          }
        }
        break;
      case JsonKind::Array:
        if (NodeList* list = node->value_.array; list != nullptr) {
          ForgetElements(list);
          if (node->HasForm(Node::kInlineStore)) {
            ReleaseList(heap, list);
          } else {
            FreeList(heap, list);
          }
        }
        break;
      default:
        break;
    }
    FreeForm(node);
    node->value_ = {};
    node->flags_ = 0;
  }

  // Drops every member of a table; the table itself stays (its buckets are no longer valid).
  void ForgetMembers(NodeHeap* heap, MemberTable* table) noexcept {
    for (std::int32_t i = 0; i < table->order.count; ++i) {
      Node* member = AsNode(table->order.items[i]);
      FreeText(heap, member->key_);
      member->key_ = nullptr;
      member->parent_ = nullptr;
      Drop(member);
    }
  }

  void ForgetElements(NodeList* list) noexcept {
    for (std::int32_t i = 0; i < list->count; ++i) {
      Node* element = AsNode(list->items[i]);
      element->parent_ = nullptr;
      Drop(element);
    }
  }

  void Run() noexcept {
    while (pending_ != nullptr) {
      Node* node = pending_;
      pending_ = AsNode(node->parent_);
      FreeContents(node);
      NodeHeap* heap = node->heap_;
      const std::size_t bytes = sizeof(Node) + node->inlineBytes_;
      node->~Node();
      heap->Deallocate(node, bytes);
    }
  }

 private:
  NodeHeap::Lease lease_;
  Node* pending_ = nullptr;
};

// A node of `kind` in `heap` with `extra` bytes of its own after it (for a text block). Its one
// reference belongs to its creator, a holder of the heap until it hands the node to a container,
// or (`holder` false) to the container it is made for.
Node* AllocateNode(NodeHeap* heap, JsonKind kind, std::size_t extra, bool holder = true) noexcept {
  NodeHeap::Lease lease(heap);
  Node* node = NewChildNode(heap, kind, extra);
  if (node != nullptr && holder) heap->AddHolders(1);
  return node;
}

// Frees a node that never held anything (a failed creation).
void DiscardNode(Node* node, bool holder = true) noexcept {
  NodeHeap* heap = node->heap_;
  NodeHeap::Lease lease(heap);
  if (holder) heap->AddHolders(-1);
  const std::size_t bytes = sizeof(Node) + node->inlineBytes_;
  node->~Node();
  heap->Deallocate(node, bytes);
}

// A container's reference to a node it no longer holds.
void DropContainerReference(Node* node) noexcept {
  if (DropReference(node)) DestroyNode(node);
}

// The creator's reference to `child` now belongs to a container.
void HandedToContainer(Node* child) noexcept { child->heap_->AddHolders(-1); }

// Takes a node out of its container without giving its reference to anyone.
void Unlink(Node* node) noexcept {
  Node* parent = AsNode(node->parent_);
  if (parent == nullptr) return;
  if (parent->Is(JsonKind::Array)) {
    ListRemove(parent->value_.array, node);
  } else if (parent->Is(JsonKind::Object)) {
    TableRemove(parent->heap_, parent->value_.object, node);
  }
  node->parent_ = nullptr;
}

// The heap for a node made for `owner`: the owner's, or a new one (pinned until the caller has
// made its node; see Unpinned).
NodeHeap* HeapFor(const Node* owner) noexcept { return owner != nullptr ? owner->heap_ : NodeHeap::Create(); }

Node* Unpinned(const Node* owner, NodeHeap* heap, Node* node) noexcept {
  if (owner == nullptr && heap != nullptr) heap->Unpin();
  return node;
}

bool GiveContainer(Node* node, JsonKind kind) noexcept {
  node->SetKind(kind);
  if (kind == JsonKind::Object) {
    node->value_.object = NewTable(node->heap_);
    return node->value_.object != nullptr;
  }
  node->value_.array = NewList(node->heap_);
  return node->value_.array != nullptr;
}

// Gives a number (or Raw) node set in place its text form in a form block, holding `value`.
bool SetFormBlock(Node* node, std::u16string_view textForm, Node::Value value) noexcept {
  char16_t* form = NewFormBlock(node->heap_, textForm, value);
  if (form == nullptr) return false;
  node->value_.form = form;
  node->flags_ |= Node::kFormBlock;
  return true;
}

Node* NewWithText(const Node* owner, JsonKind kind, std::u16string_view text) noexcept {
  NodeHeap* heap = HeapFor(owner);
  if (heap == nullptr) return nullptr;
  Node* node = NewScalar(heap, kind, text);
  return Unpinned(owner, heap, node);
}

}  // namespace

std::uint32_t HashKey(std::u16string_view key) noexcept {
  // h = h * 31 + byte for each byte from the last to the first: per unit its high byte, then its
  // low byte. Two units per step keep one multiplication on the chain that each step waits for.
  constexpr std::uint32_t k31 = 31u, k31p2 = 31u * 31u, k31p3 = k31p2 * 31u, k31p4 = k31p3 * 31u;
  std::uint32_t hash = 0;
  std::size_t i = key.size();
  for (; i >= 2; i -= 2) {
    const auto later = static_cast<std::uint32_t>(key[i - 1]);
    const auto earlier = static_cast<std::uint32_t>(key[i - 2]);
    hash = hash * k31p4 + (later >> 8) * k31p3 + (later & 0xFFu) * k31p2 + (earlier >> 8) * k31 + (earlier & 0xFFu);
  }
  if (i == 1) {
    const auto unit = static_cast<std::uint32_t>(key[0]);
    hash = hash * k31p2 + (unit >> 8) * k31 + (unit & 0xFFu);
  }
  return hash;
}

// --- JsonNode ---

std::int32_t JsonNode::AddRef() noexcept {
  heap_->AddHolders(1);
  return refCount_.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::int32_t JsonNode::Release() noexcept {
  NodeHeap* heap = heap_;
  NodeHeap::Lease lease(heap);
  const std::int64_t holders = heap->AddHolders(-1);
  const std::int32_t count = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (count == 0) {
    // The last holder of the heap lets go of a root: every other node of the heap hangs below
    // it, so the memory goes back at once instead of node by node.
    if (parent_ == nullptr && holders == 0) {
      heap->Teardown();
    } else {
      DestroyNode(AsNode(this));
    }
  }
  return count;
}



// --- making nodes ---

namespace {

Node* MakeScalar(NodeHeap* heap, JsonKind kind, std::u16string_view text, bool holder) noexcept {
  if (kind == JsonKind::Null || kind == JsonKind::Boolean) {
    Node* node = AllocateNode(heap, kind, 0, holder);
    if (node != nullptr) node->flags_ = Node::kKeywordForm;
    return node;
  }
  // Short texts share the node's block: one allocation, and the text sits next to its node.
  const std::size_t textBytes = InlineTextBytes(text.size());
  const bool together = textBytes <= 0xFFF8;
  Node* node = AllocateNode(heap, kind, together ? textBytes : 0, holder);
  if (node == nullptr) return nullptr;
  bool stored = true;
  if (kind == JsonKind::String) {
    node->value_.string = together ? PlaceInlineText(node + 1, text) : NewText(heap, text);
    stored = node->value_.string != nullptr;
  } else if (together) {
    PlaceInlineText(node + 1, text);
    node->flags_ = Node::kInlineForm;
  } else {
    NodeHeap::Lease lease(heap);
    stored = SetFormBlock(node, text, Node::Value{});
  }
  if (!stored) {
    DiscardNode(node, holder);
    return nullptr;
  }
  return node;
}

}  // namespace

Node* NewScalar(NodeHeap* heap, JsonKind kind, std::u16string_view text) noexcept {
  return MakeScalar(heap, kind, text, true);
}

Node* NewNode(const Node* owner, JsonKind kind) noexcept {
  if (kind == JsonKind::Null) return NewWithText(owner, kind, u"null");
  if (kind == JsonKind::Boolean) return NewWithText(owner, kind, u"false");
  NodeHeap* heap = HeapFor(owner);
  if (heap == nullptr) return nullptr;
  Node* node = AllocateNode(heap, kind, 0);
  if (node != nullptr && (kind == JsonKind::Object || kind == JsonKind::Array) && !GiveContainer(node, kind)) {
    DiscardNode(node);
    node = nullptr;
  }
  return Unpinned(owner, heap, node);
}

Node* NewBool(const Node* owner, bool value) noexcept {
  Node* node = NewWithText(owner, JsonKind::Boolean, value ? u"true" : u"false");
  if (node != nullptr) node->value_.boolean = value ? 1 : 0;
  return node;
}

Node* NewReal(const Node* owner, double value, std::u16string_view textForm) noexcept {
  Node* node = nullptr;
  if (textForm.empty()) {
    try {
      node = NewWithText(owner, JsonKind::Real, FormatReal(value));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  } else {
    node = NewWithText(owner, JsonKind::Real, textForm);
  }
  if (node != nullptr) node->StoreValue(Node::Value{.real = value});
  return node;
}

Node* NewInteger(const Node* owner, std::int64_t value, std::u16string_view textForm) noexcept {
  Node* node = nullptr;
  if (textForm.empty()) {
    try {
      node = NewWithText(owner, JsonKind::Integer, FormatInteger(value));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  } else {
    node = NewWithText(owner, JsonKind::Integer, textForm);
  }
  if (node != nullptr) node->StoreValue(Node::Value{.integer = value});
  return node;
}

Node* NewString(const Node* owner, std::u16string_view text) noexcept {
  return NewWithText(owner, JsonKind::String, text);
}

Node* NewRaw(const Node* owner, std::u16string_view textForm) noexcept {
  return NewWithText(owner, JsonKind::Raw, textForm);
}

// --- changing nodes in place ---

void ClearContents(Node* node) noexcept {
  Reaper reaper(node->heap_);
  reaper.FreeContents(node);
  reaper.Run();
}

void EmptyInPlace(Node* node) noexcept {
  Reaper reaper(node->heap_);
  FreeForm(node);
  switch (node->Kind()) {
    case JsonKind::Object:
      if (MemberTable* table = node->value_.object; table != nullptr) {
        reaper.ForgetMembers(node->heap_, table);
        TableClear(table);
      }
      break;
    case JsonKind::Array:
      if (NodeList* list = node->value_.array; list != nullptr) {
        reaper.ForgetElements(list);
        ListClear(list);
      }
      break;
    case JsonKind::String:
      FreeNodeText(node, node->value_.string);
      node->value_ = {};
      break;
    default:
      node->value_ = {};
      break;
  }
  reaper.Run();
}

bool SetNull(Node* node) noexcept {
  ClearContents(node);
  node->SetKind(JsonKind::Null);
  node->flags_ = Node::kKeywordForm;
  return true;
}

bool SetBool(Node* node, bool value) noexcept {
  ClearContents(node);
  node->SetKind(JsonKind::Boolean);
  node->value_.boolean = value ? 1 : 0;
  node->flags_ = Node::kKeywordForm;
  return true;
}

bool SetReal(Node* node, double value, std::u16string_view textForm) noexcept {
  ClearContents(node);
  node->SetKind(JsonKind::Real);
  try {
    return SetFormBlock(node, textForm.empty() ? std::u16string_view(FormatReal(value)) : textForm,
                        Node::Value{.real = value});
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool SetInteger(Node* node, std::int64_t value, std::u16string_view textForm) noexcept {
  ClearContents(node);
  node->SetKind(JsonKind::Integer);
  try {
    return SetFormBlock(node, textForm.empty() ? std::u16string_view(FormatInteger(value)) : textForm,
                        Node::Value{.integer = value});
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool SetString(Node* node, std::u16string_view text) noexcept {
  ClearContents(node);
  node->SetKind(JsonKind::String);
  node->value_.string = NewText(node->heap_, text);
  return node->value_.string != nullptr;
}

bool MakeObject(Node* node) noexcept {
  if (node->Is(JsonKind::Object)) return true;
  ClearContents(node);
  return GiveContainer(node, JsonKind::Object);
}

bool MakeArray(Node* node) noexcept {
  if (node->Is(JsonKind::Array)) return true;
  ClearContents(node);
  return GiveContainer(node, JsonKind::Array);
}

// --- containers ---

bool AppendChild(Node* array, Node* child) noexcept {
  if (!MakeArray(array) || ListAppend(array->heap_, array->value_.array, child) < 0) return false;
  child->parent_ = array;
  HandedToContainer(child);
  return true;
}

bool InsertChild(Node* array, std::int32_t index, Node* child) noexcept {
  if (!MakeArray(array) || !ListInsert(array->heap_, array->value_.array, index, child)) return false;
  child->parent_ = array;
  HandedToContainer(child);
  return true;
}

bool ReplaceChild(Node* array, std::int32_t index, Node* child) noexcept {
  NodeList* list = array->Is(JsonKind::Array) ? array->value_.array : nullptr;
  if (list == nullptr || index < 0 || index >= list->count) return false;
  Node* old = AsNode(list->items[index]);
  list->items[index] = child;
  child->parent_ = array;
  HandedToContainer(child);
  if (old != child) {
    old->parent_ = nullptr;
    DropContainerReference(old);
  } else {
    old->refCount_.fetch_sub(1, std::memory_order_acq_rel);  // the caller's reference, now surplus
  }
  return true;
}

bool PutMemberAt(Node* object, std::int32_t position, std::u16string_view key, Node* child) noexcept {
  if (!MakeObject(object) || object->value_.object == nullptr) return false;
  Node* replaced = nullptr;
  if (!TablePut(object->heap_, object->value_.object, key, HashKey(key), child, position, &replaced)) return false;
  child->parent_ = object;
  HandedToContainer(child);
  if (replaced == child) {
    child->refCount_.fetch_sub(1, std::memory_order_acq_rel);  // the caller's reference, now surplus
  } else if (replaced != nullptr) {
    replaced->parent_ = nullptr;
    DropContainerReference(replaced);
  }
  return true;
}

bool PutMember(Node* object, std::u16string_view key, Node* child) noexcept {
  return PutMemberAt(object, -1, key, child);
}

Node* FindMember(const Node* object, std::u16string_view key, std::uint32_t hash) noexcept {
  if (!object->Is(JsonKind::Object)) return nullptr;
  return TableFind(object->heap_, object->value_.object, key, hash);
}

Node* FindMember(const Node* object, std::u16string_view key) noexcept {
  return FindMember(object, key, HashKey(key));
}

Node* ChildAt(const Node* node, std::int32_t index) noexcept {
  const NodeList* list = node->Children();
  if (list == nullptr || index < 0 || index >= list->count) return nullptr;
  return AsNode(list->items[index]);
}

std::int32_t ChildCount(const Node* node) noexcept {
  const NodeList* list = node->Children();
  return list == nullptr ? 0 : list->count;
}

void Detach(Node* node) noexcept {
  if (node->parent_ == nullptr) return;
  Unlink(node);
  node->heap_->AddHolders(1);  // the container's reference passes to the caller
}

bool RemoveChild(Node* child) noexcept {
  if (child->parent_ == nullptr) return false;
  Unlink(child);
  DropContainerReference(child);
  return true;
}

void DestroyNode(Node* node) noexcept {
  Unlink(node);
  Reaper reaper(node->heap_);
  reaper.QueueDead(node);
  reaper.Run();
}

// --- building parsed trees ---

Node* MakeChildScalar(NodeHeap* heap, JsonKind kind, std::u16string_view text) noexcept {
  return MakeScalar(heap, kind, text, false);
}

void DropReplacedMember(Node* old) noexcept {
  old->parent_ = nullptr;
  DropContainerReference(old);
}

void DiscardChild(Node* child) noexcept {
  FreeText(child->heap_, child->key_);
  child->key_ = nullptr;
  Reaper reaper(child->heap_);
  reaper.QueueDead(child);
  reaper.Run();
}

}  // namespace velmora::json
