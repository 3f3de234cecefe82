#include "json/member_table.h"

#include <cstring>

namespace velmora::json {
namespace {

std::size_t ArrayBytes(std::int32_t count) noexcept { return static_cast<std::size_t>(count) * sizeof(JsonNode*); }

std::int32_t ThresholdOf(std::int32_t bucketCount, float loadFactor) noexcept {
  return static_cast<std::int32_t>(static_cast<float>(bucketCount) * loadFactor);
}

std::uint32_t BucketOf(std::uint32_t hash, std::int32_t bucketCount) noexcept {
  return (hash & 0x7FFFFFFFu) % static_cast<std::uint32_t>(bucketCount);
}

bool SameKey(const char16_t* stored, std::u16string_view key) noexcept {
  return TextLength(stored) == key.size() && std::memcmp(stored, key.data(), key.size() * sizeof(char16_t)) == 0;
}

// The capacity a full list grows to: 8 for none, else the next step of 2n+1 from 8 above its
// count (a list sized exactly by the parser rejoins the sequence of one grown by appends).
std::int64_t GrownCapacity(std::int32_t count) noexcept {
  std::int64_t capacity = kNewListCapacity;
  while (capacity <= count) capacity = capacity * 2 + 1;
  return capacity;
}

bool GrowItems(NodeHeap* heap, NodeList* list) noexcept {
  const std::int64_t wanted = GrownCapacity(list->count);
  if (wanted > 0x3FFFFFFF) return false;
  const auto capacity = static_cast<std::int32_t>(wanted);
  auto** items = static_cast<JsonNode**>(heap->Allocate(ArrayBytes(capacity)));
  if (items == nullptr) return false;
  if (list->count > 0) std::memcpy(items, list->items, ArrayBytes(list->count));
  std::memset(items + list->count, 0, ArrayBytes(capacity - list->count));
  if (list->capacity > 0) heap->Deallocate(list->items, ArrayBytes(list->capacity));
  list->items = items;
  list->capacity = capacity;
  return true;
}

bool EnsureRoom(NodeHeap* heap, NodeList* list) noexcept {
  return list->count < list->capacity || GrowItems(heap, list);
}

std::int32_t AppendTo(NodeHeap* heap, NodeList* list, JsonNode* node) noexcept {
  if (!EnsureRoom(heap, list)) return -1;
  list->items[list->count] = node;
  return list->count++;
}

bool InsertInto(NodeHeap* heap, NodeList* list, std::int32_t index, JsonNode* node) noexcept {
  if (index < 0 || index > list->count) return false;
  if (!EnsureRoom(heap, list)) return false;
  std::memmove(list->items + index + 1, list->items + index, ArrayBytes(list->count - index));
  list->items[index] = node;
  ++list->count;
  return true;
}

// The slot of the member with `key`, or the free slot where probing for it ended. Slots are
// probed from the key's bucket onwards (wrapping); a free slot always exists, as the table grows
// before its member count reaches the bucket count.
JsonNode** FindSlot(MemberTable* table, std::u16string_view key, std::uint32_t hash) noexcept {
  const auto count = static_cast<std::uint32_t>(table->bucketCount);
  for (std::uint32_t slot = BucketOf(hash, table->bucketCount);; slot = slot + 1 == count ? 0 : slot + 1) {
    JsonNode** at = &table->buckets[slot];
    if (*at == nullptr) return at;
    const Node* member = AsNode(*at);
    if (TextHash(member->key_) == hash && SameKey(member->key_, key)) return at;
  }
}

// Puts a member (its key text hashed) into the first free slot from its bucket on.
void PlaceMember(JsonNode** buckets, std::int32_t bucketCount, Node* member) noexcept {
  auto slot = BucketOf(TextHash(member->key_), bucketCount);
  while (buckets[slot] != nullptr) slot = slot + 1 == static_cast<std::uint32_t>(bucketCount) ? 0 : slot + 1;
  buckets[slot] = member;
}

// Puts `child` where the member `old` (found in `slot`) stands, in the buckets and in the member
// order; the child takes over the old key text.
void ReplaceMember(MemberTable* table, JsonNode** slot, Node* old, Node* child) noexcept {
  for (std::int32_t i = 0; i < table->order.count; ++i) {
    if (table->order.items[i] == old) {
      table->order.items[i] = child;
      break;
    }
  }
  child->key_ = old->key_;
  *slot = child;
  old->key_ = nullptr;
}

// Empties a slot and moves later members of its probe run back, so every member stays reachable
// from its bucket without a gap in between.
void VacateSlot(MemberTable* table, std::uint32_t hole) noexcept {
  const auto count = static_cast<std::uint32_t>(table->bucketCount);
  table->buckets[hole] = nullptr;
  for (std::uint32_t next = hole + 1 == count ? 0 : hole + 1; table->buckets[next] != nullptr;
       next = next + 1 == count ? 0 : next + 1) {
    const std::uint32_t home = BucketOf(TextHash(AsNode(table->buckets[next])->key_), table->bucketCount);
    // The member may move to the hole when its bucket does not lie in the run (hole, next].
    const bool reachable = hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
    if (reachable) continue;
    table->buckets[hole] = table->buckets[next];
    table->buckets[next] = nullptr;
    hole = next;
  }
}

}  // namespace

// --- NodeList ---

bool InitList(NodeHeap* heap, NodeList* list, std::int32_t capacity, bool clear) noexcept {
  list->count = 0;
  list->capacity = 0;
  list->items = nullptr;
  if (capacity > 0) {
    list->items = static_cast<JsonNode**>(heap->Allocate(ArrayBytes(capacity)));
    if (list->items == nullptr) return false;
    list->capacity = capacity;
    if (clear) std::memset(list->items, 0, ArrayBytes(capacity));
  }
  return true;
}

NodeList* NewList(NodeHeap* heap, std::int32_t capacity) noexcept {
  auto* list = static_cast<NodeList*>(heap->Allocate(sizeof(NodeList)));
  if (list == nullptr) return nullptr;
  if (!InitList(heap, list, capacity)) {
    heap->Deallocate(list, sizeof(NodeList));
    return nullptr;
  }
  return list;
}

void ReleaseList(NodeHeap* heap, NodeList* list) noexcept {
  if (list->capacity > 0) heap->Deallocate(list->items, ArrayBytes(list->capacity));
  list->items = nullptr;
  list->capacity = list->count = 0;
}

void FreeList(NodeHeap* heap, NodeList* list) noexcept {
  if (list == nullptr) return;
  ReleaseList(heap, list);
  heap->Deallocate(list, sizeof(NodeList));
}

std::int32_t ListAppend(NodeHeap* heap, NodeList* list, JsonNode* node) noexcept {
  if (list == nullptr) return -1;
  return AppendTo(heap, list, node);
}

bool ListInsert(NodeHeap* heap, NodeList* list, std::int32_t index, JsonNode* node) noexcept {
  return list != nullptr && InsertInto(heap, list, index, node);
}

void ListRemoveAt(NodeList* list, std::int32_t index) noexcept {
  std::memmove(list->items + index, list->items + index + 1, ArrayBytes(list->count - index - 1));
  list->items[--list->count] = nullptr;
}

bool ListRemove(NodeList* list, const JsonNode* node) noexcept {
  if (list == nullptr) return false;
  for (std::int32_t i = 0; i < list->count; ++i) {
    if (list->items[i] == node) {
      ListRemoveAt(list, i);
      return true;
    }
  }
  return false;
}

void ListClear(NodeList* list) noexcept {
  if (list->count > 0) std::memset(list->items, 0, ArrayBytes(list->count));
  list->count = 0;
}

// --- MemberTable ---

bool InitTable(NodeHeap* heap, MemberTable* table, std::int32_t orderCapacity, bool clear) noexcept {
  table->buckets = nullptr;
  table->bucketCount = kNewBucketCount;
  table->memberCount = 0;
  table->loadFactor = kLoadFactor;
  table->threshold = ThresholdOf(kNewBucketCount, kLoadFactor);
  return InitList(heap, &table->order, orderCapacity, clear);
}

MemberTable* NewTable(NodeHeap* heap, std::int32_t orderCapacity) noexcept {
  auto* table = static_cast<MemberTable*>(heap->Allocate(sizeof(MemberTable)));
  if (table == nullptr) return nullptr;
  if (!InitTable(heap, table, orderCapacity)) {
    heap->Deallocate(table, sizeof(MemberTable));
    return nullptr;
  }
  return table;
}

void ReleaseTable(NodeHeap* heap, MemberTable* table) noexcept {
  if (table->buckets != nullptr) heap->Deallocate(table->buckets, ArrayBytes(table->bucketCount));
  table->buckets = nullptr;
  ReleaseList(heap, &table->order);
}

void FreeTable(NodeHeap* heap, MemberTable* table) noexcept {
  if (table == nullptr) return;
  ReleaseTable(heap, table);
  heap->Deallocate(table, sizeof(MemberTable));
}

std::int32_t BucketCountFor(std::int32_t members) noexcept {
  // A table grows before adding a member when its count has reached the threshold, so after n
  // additions the count n exceeds the threshold of every bucket count it grew from.
  std::int64_t bucketCount = kNewBucketCount;
  while (members > ThresholdOf(static_cast<std::int32_t>(bucketCount), kLoadFactor) && bucketCount * 2 + 1 <= 0x3FFFFFFF) {
    bucketCount = bucketCount * 2 + 1;
  }
  return static_cast<std::int32_t>(bucketCount);
}

bool TableBuildBuckets(NodeHeap* heap, MemberTable* table) noexcept {
  if (table->buckets != nullptr) return true;
  auto** buckets = static_cast<JsonNode**>(heap->Allocate(ArrayBytes(table->bucketCount)));
  if (buckets == nullptr) return false;
  std::memset(buckets, 0, ArrayBytes(table->bucketCount));
  table->buckets = buckets;
  for (std::int32_t i = 0; i < table->order.count; ++i) {
    Node* member = AsNode(table->order.items[i]);
    SetTextHash(member->key_, HashKey(TextView(member->key_)));
    PlaceMember(buckets, table->bucketCount, member);
  }
  return true;
}

Node* TableFind(NodeHeap* heap, MemberTable* table, std::u16string_view key, std::uint32_t hash) noexcept {
  if (table == nullptr) return nullptr;
  if (!TableBuildBuckets(heap, table)) {
    for (std::int32_t i = 0; i < table->order.count; ++i) {
      Node* member = AsNode(table->order.items[i]);
      if (SameKey(member->key_, key)) return member;
    }
    return nullptr;
  }
  return AsNode(*FindSlot(table, key, hash));
}

bool TableGrow(NodeHeap* heap, MemberTable* table) noexcept {
  const std::int64_t wanted = std::int64_t{table->bucketCount} * 2 + 1;
  if (wanted > 0x3FFFFFFF) return false;
  const auto bucketCount = static_cast<std::int32_t>(wanted);
  if (table->buckets != nullptr) {
    auto** buckets = static_cast<JsonNode**>(heap->Allocate(ArrayBytes(bucketCount)));
    if (buckets == nullptr) return false;
    std::memset(buckets, 0, ArrayBytes(bucketCount));
    for (std::int32_t i = 0; i < table->order.count; ++i) PlaceMember(buckets, bucketCount, AsNode(table->order.items[i]));
    heap->Deallocate(table->buckets, ArrayBytes(table->bucketCount));
    table->buckets = buckets;
  }
  table->bucketCount = bucketCount;
  table->threshold = ThresholdOf(bucketCount, table->loadFactor);
  return true;
}

bool TablePut(NodeHeap* heap, MemberTable* table, std::u16string_view key, std::uint32_t hash, Node* child,
              std::int32_t position, Node** replaced) noexcept {
  *replaced = nullptr;
  if (!TableBuildBuckets(heap, table)) return false;
  JsonNode** slot = FindSlot(table, key, hash);
  if (Node* old = AsNode(*slot); old != nullptr) {
    *replaced = old;
    if (old != child) ReplaceMember(table, slot, old, child);  // else stored again under its own key
    return true;
  }

  if (table->memberCount >= table->threshold && !TableGrow(heap, table)) return false;
  if (position > table->order.count) return false;
  char16_t* keyText = NewText(heap, key);
  if (keyText == nullptr) return false;
  SetTextHash(keyText, hash);
  const bool stored = position < 0 ? AppendTo(heap, &table->order, child) >= 0
                                   : InsertInto(heap, &table->order, position, child);
  if (!stored) {
    FreeText(heap, keyText);
    return false;
  }
  child->key_ = keyText;
  PlaceMember(table->buckets, table->bucketCount, child);  // after a growth the slot found may have moved
  ++table->memberCount;
  return true;
}

bool TableAdopt(NodeHeap* heap, MemberTable* table, Node* child, Node** replaced) noexcept {
  *replaced = nullptr;
  if (!TableBuildBuckets(heap, table)) return false;
  char16_t* keyText = child->key_;
  const std::uint32_t hash = HashKey(TextView(keyText));
  SetTextHash(keyText, hash);
  JsonNode** slot = FindSlot(table, TextView(keyText), hash);
  if (Node* old = AsNode(*slot); old != nullptr) {
    *replaced = old;
    ReplaceMember(table, slot, old, child);
    FreeText(heap, keyText);
    return true;
  }
  if (table->memberCount >= table->threshold && !TableGrow(heap, table)) return false;
  if (AppendTo(heap, &table->order, child) < 0) return false;
  PlaceMember(table->buckets, table->bucketCount, child);
  ++table->memberCount;
  return true;
}

bool TableRemove(NodeHeap* heap, MemberTable* table, Node* member) noexcept {
  if (table == nullptr || member->key_ == nullptr) return false;
  if (table->buckets != nullptr) {
    const auto count = static_cast<std::uint32_t>(table->bucketCount);
    auto slot = BucketOf(TextHash(member->key_), table->bucketCount);
    while (table->buckets[slot] != nullptr && table->buckets[slot] != member) slot = slot + 1 == count ? 0 : slot + 1;
    if (table->buckets[slot] == nullptr) return false;
    VacateSlot(table, slot);
    ListRemove(&table->order, member);
  } else if (!ListRemove(&table->order, member)) {  // no buckets yet: the order list alone
    return false;
  }
  --table->memberCount;
  FreeText(heap, member->key_);
  member->key_ = nullptr;
  return true;
}

void TableClear(MemberTable* table) noexcept {
  if (table->buckets != nullptr) std::memset(table->buckets, 0, ArrayBytes(table->bucketCount));
  ListClear(&table->order);
  table->memberCount = 0;
}

}  // namespace velmora::json
