#include "json/member_table.h"

#include <cstring>

namespace velmora::json {
namespace {

constexpr std::size_t kListBlockBytes = sizeof(NodeList) + kNewListCapacity * sizeof(JsonNode*);
constexpr std::size_t kTableBlockBytes =
    sizeof(MemberTable) + kNewBucketCount * sizeof(JsonNode*) + kNewListCapacity * sizeof(JsonNode*);

JsonNode** InlineItems(NodeList* list) noexcept { return reinterpret_cast<JsonNode**>(list + 1); }
JsonNode** InlineBuckets(MemberTable* table) noexcept { return reinterpret_cast<JsonNode**>(table + 1); }
JsonNode** InlineOrder(MemberTable* table) noexcept { return InlineBuckets(table) + kNewBucketCount; }

std::size_t ArrayBytes(std::int32_t count) noexcept { return static_cast<std::size_t>(count) * sizeof(JsonNode*); }

std::uint32_t BucketOf(std::uint32_t hash, std::int32_t bucketCount) noexcept {
  return (hash & 0x7FFFFFFFu) % static_cast<std::uint32_t>(bucketCount);
}

bool SameKey(const char16_t* stored, std::u16string_view key) noexcept {
  return TextLength(stored) == key.size() && std::memcmp(stored, key.data(), key.size() * sizeof(char16_t)) == 0;
}

// Grows a list's items to 2n+1; `inlineItems` is the block it started in (never freed alone).
bool GrowItems(NodeHeap* heap, NodeList* list, JsonNode** inlineItems) noexcept {
  const std::int64_t wanted = std::int64_t{list->capacity} * 2 + 1;
  if (wanted > 0x3FFFFFFF) return false;
  const auto capacity = static_cast<std::int32_t>(wanted);
  auto** items = static_cast<JsonNode**>(heap->Allocate(ArrayBytes(capacity)));
  if (items == nullptr) return false;
  std::memcpy(items, list->items, ArrayBytes(list->count));
  std::memset(items + list->count, 0, ArrayBytes(capacity - list->count));
  if (list->items != inlineItems) heap->Deallocate(list->items, ArrayBytes(list->capacity));
  list->items = items;
  list->capacity = capacity;
  return true;
}

}  // namespace

// --- NodeList ---

NodeList* NewList(NodeHeap* heap) noexcept {
  auto* list = static_cast<NodeList*>(heap->Allocate(kListBlockBytes));
  if (list == nullptr) return nullptr;
  list->count = 0;
  list->capacity = kNewListCapacity;
  list->items = InlineItems(list);
  std::memset(list->items, 0, ArrayBytes(kNewListCapacity));
  return list;
}

void FreeList(NodeHeap* heap, NodeList* list) noexcept {
  if (list == nullptr) return;
  if (list->items != InlineItems(list)) heap->Deallocate(list->items, ArrayBytes(list->capacity));
  heap->Deallocate(list, kListBlockBytes);
}

static bool EnsureRoom(NodeHeap* heap, NodeList* list, JsonNode** inlineItems) noexcept {
  return list->count < list->capacity || GrowItems(heap, list, inlineItems);
}

// The order list of a table started in the table's block; a plain list in its own.
static JsonNode** InlineItemsOf(NodeList* list, MemberTable* table) noexcept {
  return table != nullptr ? InlineOrder(table) : InlineItems(list);
}

static std::int32_t AppendTo(NodeHeap* heap, NodeList* list, MemberTable* table, JsonNode* node) noexcept {
  if (!EnsureRoom(heap, list, InlineItemsOf(list, table))) return -1;
  list->items[list->count] = node;
  return list->count++;
}

static bool InsertInto(NodeHeap* heap, NodeList* list, MemberTable* table, std::int32_t index, JsonNode* node) noexcept {
  if (index < 0 || index > list->count) return false;
  if (!EnsureRoom(heap, list, InlineItemsOf(list, table))) return false;
  std::memmove(list->items + index + 1, list->items + index, ArrayBytes(list->count - index));
  list->items[index] = node;
  ++list->count;
  return true;
}

std::int32_t ListAppend(NodeHeap* heap, NodeList* list, JsonNode* node) noexcept {
  if (list == nullptr) return -1;
  return AppendTo(heap, list, nullptr, node);
}

bool ListInsert(NodeHeap* heap, NodeList* list, std::int32_t index, JsonNode* node) noexcept {
  return list != nullptr && InsertInto(heap, list, nullptr, index, node);
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
  std::memset(list->items, 0, ArrayBytes(list->count));
  list->count = 0;
}

// --- MemberTable ---

MemberTable* NewTable(NodeHeap* heap) noexcept {
  auto* table = static_cast<MemberTable*>(heap->Allocate(kTableBlockBytes));
  if (table == nullptr) return nullptr;
  table->buckets = InlineBuckets(table);
  table->bucketCount = kNewBucketCount;
  table->memberCount = 0;
  table->loadFactor = kLoadFactor;
  table->threshold = static_cast<std::int32_t>(static_cast<float>(kNewBucketCount) * kLoadFactor);
  table->order.count = 0;
  table->order.capacity = kNewListCapacity;
  table->order.items = InlineOrder(table);
  std::memset(table->buckets, 0, ArrayBytes(kNewBucketCount + kNewListCapacity));
  return table;
}

void FreeTable(NodeHeap* heap, MemberTable* table) noexcept {
  if (table == nullptr) return;
  if (table->buckets != InlineBuckets(table)) heap->Deallocate(table->buckets, ArrayBytes(table->bucketCount));
  if (table->order.items != InlineOrder(table)) heap->Deallocate(table->order.items, ArrayBytes(table->order.capacity));
  heap->Deallocate(table, kTableBlockBytes);
}

Node* TableFind(const MemberTable* table, std::u16string_view key, std::uint32_t hash) noexcept {
  if (table == nullptr) return nullptr;
  for (JsonNode* member = table->buckets[BucketOf(hash, table->bucketCount)]; member != nullptr;) {
    Node* node = AsNode(member);
    if (TextHash(node->key_) == hash && SameKey(node->key_, key)) return node;
    member = node->nextInBucket_;
  }
  return nullptr;
}

bool TableGrow(NodeHeap* heap, MemberTable* table) noexcept {
  const std::int64_t wanted = std::int64_t{table->bucketCount} * 2 + 1;
  if (wanted > 0x3FFFFFFF) return false;
  const auto bucketCount = static_cast<std::int32_t>(wanted);
  auto** buckets = static_cast<JsonNode**>(heap->Allocate(ArrayBytes(bucketCount)));
  if (buckets == nullptr) return false;
  std::memset(buckets, 0, ArrayBytes(bucketCount));
  // Old buckets in index order, each chain from its head, pushed onto the heads of the new ones.
  for (std::int32_t b = 0; b < table->bucketCount; ++b) {
    for (JsonNode* member = table->buckets[b]; member != nullptr;) {
      Node* node = AsNode(member);
      JsonNode* next = node->nextInBucket_;
      JsonNode*& head = buckets[BucketOf(TextHash(node->key_), bucketCount)];
      node->nextInBucket_ = head;
      head = node;
      member = next;
    }
  }
  if (table->buckets != InlineBuckets(table)) heap->Deallocate(table->buckets, ArrayBytes(table->bucketCount));
  table->buckets = buckets;
  table->bucketCount = bucketCount;
  table->threshold = static_cast<std::int32_t>(static_cast<float>(bucketCount) * table->loadFactor);
  return true;
}

bool TablePut(NodeHeap* heap, MemberTable* table, std::u16string_view key, std::uint32_t hash, Node* child,
              std::int32_t position, Node** replaced) noexcept {
  *replaced = nullptr;
  JsonNode** link = &table->buckets[BucketOf(hash, table->bucketCount)];
  for (; *link != nullptr; link = &AsNode(*link)->nextInBucket_) {
    Node* old = AsNode(*link);
    if (TextHash(old->key_) != hash || !SameKey(old->key_, key)) continue;
    *replaced = old;
    if (old == child) return true;  // stored again under its own key: nothing moves
    // Same key: the child takes the old member's place in its chain and in the member order.
    for (std::int32_t i = 0; i < table->order.count; ++i) {
      if (table->order.items[i] == old) {
        table->order.items[i] = child;
        break;
      }
    }
    child->nextInBucket_ = old->nextInBucket_;
    child->key_ = old->key_;
    *link = child;
    old->key_ = nullptr;
    old->nextInBucket_ = nullptr;
    return true;
  }

  if (table->memberCount >= table->threshold && !TableGrow(heap, table)) return false;
  if (position > table->order.count) return false;
  char16_t* keyText = NewText(heap, key);
  if (keyText == nullptr) return false;
  SetTextHash(keyText, hash);
  const bool stored = position < 0 ? AppendTo(heap, &table->order, table, child) >= 0
                                   : InsertInto(heap, &table->order, table, position, child);
  if (!stored) {
    FreeText(heap, keyText);
    return false;
  }
  child->key_ = keyText;
  JsonNode*& head = table->buckets[BucketOf(hash, table->bucketCount)];
  child->nextInBucket_ = head;
  head = child;
  ++table->memberCount;
  return true;
}

bool TableRemove(NodeHeap* heap, MemberTable* table, Node* member) noexcept {
  if (table == nullptr || member->key_ == nullptr) return false;
  JsonNode** link = &table->buckets[BucketOf(TextHash(member->key_), table->bucketCount)];
  while (*link != nullptr && *link != member) link = &AsNode(*link)->nextInBucket_;
  if (*link == nullptr) return false;
  *link = member->nextInBucket_;
  member->nextInBucket_ = nullptr;
  --table->memberCount;
  ListRemove(&table->order, member);
  FreeText(heap, member->key_);
  member->key_ = nullptr;
  return true;
}

void TableClear(MemberTable* table) noexcept {
  std::memset(table->buckets, 0, ArrayBytes(table->bucketCount));
  ListClear(&table->order);
  table->memberCount = 0;
}

}  // namespace velmora::json
