#include "json/json_copy.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

namespace velmora::json {
namespace {

// A node like `source` without its children: scalars whole, containers empty.
Node* CopyShallow(const Node* source, const Node* owner) noexcept {
  switch (source->Kind()) {
    case JsonKind::Null:
      return NewNode(owner, JsonKind::Null);
    case JsonKind::Boolean:
      return NewBool(owner, source->value_.boolean != 0);
    case JsonKind::Real:
      return NewReal(owner, source->RealValue());
    case JsonKind::Integer:
      return NewInteger(owner, source->IntegerValue());
    case JsonKind::String:
      return NewString(owner, source->String());
    case JsonKind::Raw:
      return NewRaw(owner, source->Literal());
    case JsonKind::Array:
    case JsonKind::Object:
      return NewNode(owner, source->Kind());
  }
  return nullptr;
}

}  // namespace

Node* DeepCopy(const Node* source, const Node* owner) noexcept {
  if (source == nullptr) return nullptr;
  Node* root = CopyShallow(source, owner);
  if (root == nullptr) return nullptr;
  try {
    // Containers whose children are still to be copied, with their copies.
    std::vector<std::pair<const Node*, Node*>> pending = {{source, root}};
    while (!pending.empty()) {
      const auto [from, to] = pending.back();
      pending.pop_back();
      const NodeList* children = from->Children();
      if (children == nullptr) continue;
      const bool object = from->Is(JsonKind::Object);
      for (std::int32_t i = 0; i < children->count; ++i) {
        const Node* child = AsNode(children->items[i]);
        Node* copy = CopyShallow(child, root);
        if (copy == nullptr) throw std::bad_alloc();
        const bool stored = object ? PutMember(to, child->Key(), copy) : AppendChild(to, copy);
        if (!stored) {
          copy->Release();
          throw std::bad_alloc();
        }
        if (child->Children() != nullptr) pending.emplace_back(child, copy);
      }
    }
  } catch (const std::bad_alloc&) {
    root->Release();
    return nullptr;
  }
  return root;
}

namespace {

// `node` (the caller's reference) in place of the member `key` of `object`, or as its last member.
bool StoreMember(Node* object, const std::u16string& key, Node* node) noexcept {
  if (PutMember(object, key, node)) return true;
  node->Release();
  return false;
}

// Moves the member `member` of the source tree to `object` under its key.
bool MoveMember(Node* object, Node* member) {
  const std::u16string key(member->Key());
  Detach(member);  // its container's reference is now ours
  return StoreMember(object, key, member);
}

struct MergeFrame {
  Node* target;
  std::vector<Node*> members;  // the source object's members, taken when the frame began
  std::size_t next = 0;
  bool merged = false;  // a member was merged or added
};

std::vector<Node*> MembersOf(const Node* object) {
  std::vector<Node*> members;
  if (const NodeList* list = object->Children(); list != nullptr) {
    for (std::int32_t i = 0; i < list->count; ++i) members.push_back(AsNode(list->items[i]));
  }
  return members;
}

}  // namespace

bool MergeTree(Node* target, Node* source, bool addNew, bool* sourceStored) noexcept {
  *sourceStored = false;
  if (!target->Is(JsonKind::Object) || !source->Is(JsonKind::Object)) {
    // Only a member of an object can be replaced.
    Node* parent = AsNode(target->parent_);
    if (parent == nullptr || target->key_ == nullptr || !parent->Is(JsonKind::Object)) return false;
    try {
      const std::u16string key(target->Key());
      *sourceStored = PutMember(parent, key, source);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return *sourceStored;
  }
  try {
    std::vector<MergeFrame> stack;
    stack.push_back(MergeFrame{target, MembersOf(source)});
    while (true) {
      MergeFrame& frame = stack.back();
      if (frame.next == frame.members.size()) {
        const bool merged = frame.merged;
        stack.pop_back();
        if (stack.empty()) return merged;
        if (!merged) return false;  // a member merged nothing: the merge stops
        stack.back().merged = true;
        continue;
      }
      Node* member = frame.members[frame.next++];
      Node* existing = FindMember(frame.target, member->Key());
      if (existing != nullptr && existing->Is(JsonKind::Object) && member->Is(JsonKind::Object)) {
        Node* into = existing;
        stack.push_back(MergeFrame{into, MembersOf(member)});
        continue;
      }
      if (existing == nullptr && !addNew) continue;  // skipped
      if (!MoveMember(frame.target, member)) return false;
      frame.merged = true;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace velmora::json
