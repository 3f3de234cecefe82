#include "json/parsed_tree.h"

#include <cstring>

#include "json/member_table.h"

namespace velmora::json {

bool AdoptChildren(Node* array, Node* const* children, std::int32_t count) noexcept {
  // The list is full from the start: its items need no clearing first.
  NodeList* list = array->InlineStore<NodeList>();
  JsonNode** items = nullptr;
  if (count > 0) {
    items = static_cast<JsonNode**>(array->heap_->Allocate(static_cast<std::size_t>(count) * sizeof(JsonNode*)));
    if (items == nullptr) return false;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    children[i]->parent_ = array;
    items[i] = children[i];
  }
  *list = NodeList{count, count, items};
  array->value_.array = list;
  return true;
}

namespace {

// A cheap mix of a key's length and three of its units: it only sorts keys into probe slots, and
// equal fingerprints are told apart by comparing the texts.
std::uint32_t Fingerprint(std::u16string_view key) noexcept {
  std::uint32_t h = static_cast<std::uint32_t>(key.size()) * 0x9E3779B1u;
  if (!key.empty()) {
    h = (h ^ key.front()) * 0x85EBCA6Bu;
    h = (h ^ key.back()) * 0xC2B2AE35u;
    h = (h ^ key[key.size() / 2]) * 0x27D4EB2Fu;
  }
  return h ^ (h >> 15);
}

}  // namespace

bool AdoptMembers(Node* object, Node* const* members, std::int32_t count) noexcept {
  // The buckets wait for the first lookup (and the keys for their hashes): here a later key equal
  // to an earlier one only has to be found, which a few members do by comparing texts pairwise
  // and more through a short-lived index of member positions by fingerprint.
  NodeHeap* heap = object->heap_;
  MemberTable* table = object->InlineStore<MemberTable>();
  if (!InitTable(heap, table, count, false)) return false;
  std::uint32_t mask = 0;
  std::int32_t* slots = nullptr;  // member position + 1; 0 for a free slot
  if (count > table->threshold) {
    std::uint32_t size = 16;
    while (size < 2u * static_cast<std::uint32_t>(count)) size *= 2;
    slots = static_cast<std::int32_t*>(heap->Allocate(size * sizeof(std::int32_t)));
    if (slots == nullptr) {
      ReleaseTable(heap, table);
      return false;
    }
    std::memset(slots, 0, size * sizeof(std::int32_t));
    mask = size - 1;
  }
  object->value_.object = table;
  NodeList& order = table->order;
  for (std::int32_t i = 0; i < count; ++i) {
    Node* child = members[i];
    child->parent_ = object;
    const std::u16string_view key = TextView(child->key_);
    std::int32_t same = -1;  // position of an earlier member with the key
    std::uint32_t slot = 0;
    if (slots == nullptr) {
      for (std::int32_t k = 0; k < order.count && same < 0; ++k) {
        if (TextView(AsNode(order.items[k])->key_) == key) same = k;
      }
    } else {
      for (slot = Fingerprint(key) & mask; slots[slot] != 0; slot = (slot + 1) & mask) {
        if (TextView(AsNode(order.items[slots[slot] - 1])->key_) == key) {
          same = slots[slot] - 1;
          break;
        }
      }
    }
    if (same < 0) {
      if (slots != nullptr) slots[slot] = order.count + 1;
      order.items[order.count++] = child;
      ++table->memberCount;
      continue;
    }
    // The later member takes the earlier one's place and key text.
    Node* old = AsNode(order.items[same]);
    FreeText(heap, child->key_);
    child->key_ = old->key_;
    old->key_ = nullptr;
    order.items[same] = child;
    DropReplacedMember(old);
  }
  // Members replaced by later ones leave the end of the order list unused: nulled, as lists keep it.
  for (std::int32_t k = order.count; k < order.capacity; ++k) order.items[k] = nullptr;
  if (slots != nullptr) heap->Deallocate(slots, (mask + 1) * sizeof(std::int32_t));
  table->bucketCount = BucketCountFor(table->memberCount);
  table->threshold = static_cast<std::int32_t>(static_cast<float>(table->bucketCount) * table->loadFactor);
  return true;
}

std::int32_t AdoptInto(Node* container, Node* const* children, std::int32_t count) noexcept {
  NodeHeap* heap = container->heap_;
  for (std::int32_t i = 0; i < count; ++i) {
    Node* child = children[i];
    Node* replaced = nullptr;
    const bool stored = container->Is(JsonKind::Array) ? ListAppend(heap, container->value_.array, child) >= 0
                                                        : TableAdopt(heap, container->value_.object, child, &replaced);
    if (!stored) return i;
    child->parent_ = container;
    if (replaced != nullptr) DropReplacedMember(replaced);
  }
  return count;
}

}  // namespace velmora::json
