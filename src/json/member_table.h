// Storage of arrays and objects: the growable NodeList and the hashed MemberTable with its member
// order list. Internal to src/json; used through the node routines of node_store.h.
//
// A list's items live in a block of their own, of exactly `capacity` items (none while the
// capacity is 0). Lists made by edits start with 8 items and grow to 2n+1; a parsed list gets
// exactly its count when its array closes, and an edit that finds it full grows it to the next
// capacity of the same rule (8, 17, 35, ...) above its count. A table's buckets are built on first
// use: a parsed object gets only its order list until something looks a key up or changes the
// object. The bucket count is always the one the growth rule gives (11, grown to
// 2n+1 whenever the member count reaches bucketCount * loadFactor), built or not. A member's key
// hash (kept in its text block) is computed when it joins the buckets: it is valid only while its
// table has buckets.
// These routines move references around but never release a node: callers do.
#pragma once

#include <cstdint>
#include <string_view>

#include "json/node_heap.h"
#include "json/node_store.h"

namespace velmora::json {

inline constexpr std::int32_t kNewListCapacity = 8;
inline constexpr std::int32_t kNewBucketCount = 11;
inline constexpr float kLoadFactor = 0.75f;

// A list with room for `capacity` items (0: none yet); null when memory ran out.
NodeList* NewList(NodeHeap* heap, std::int32_t capacity = kNewListCapacity) noexcept;
void FreeList(NodeHeap* heap, NodeList* list) noexcept;
// The same for a list header that lives elsewhere (inside its container's node block): InitList
// fills it in (false when memory ran out: it is then empty), ReleaseList frees its items only.
// Without `clear` the items are left as they were: the caller fills them (and nulls the rest).
bool InitList(NodeHeap* heap, NodeList* list, std::int32_t capacity, bool clear = true) noexcept;
void ReleaseList(NodeHeap* heap, NodeList* list) noexcept;
// Index of the appended node, -1 when the list could not grow.
std::int32_t ListAppend(NodeHeap* heap, NodeList* list, JsonNode* node) noexcept;
bool ListInsert(NodeHeap* heap, NodeList* list, std::int32_t index, JsonNode* node) noexcept;
// Removes the first occurrence of the node; false when it is not in the list.
bool ListRemove(NodeList* list, const JsonNode* node) noexcept;
void ListRemoveAt(NodeList* list, std::int32_t index) noexcept;
void ListClear(NodeList* list) noexcept;

// An empty table: 11 buckets (not built yet), room for `orderCapacity` members in order.
MemberTable* NewTable(NodeHeap* heap, std::int32_t orderCapacity = kNewListCapacity) noexcept;
// Frees the table's own storage (not the members' keys: see TableClear's callers).
void FreeTable(NodeHeap* heap, MemberTable* table) noexcept;
// As InitList and ReleaseList, for a table header inside its object's node block.
bool InitTable(NodeHeap* heap, MemberTable* table, std::int32_t orderCapacity, bool clear = true) noexcept;
void ReleaseTable(NodeHeap* heap, MemberTable* table) noexcept;
// The bucket count the growth rule reaches for `members` distinct keys added one by one.
std::int32_t BucketCountFor(std::int32_t members) noexcept;
// Builds the buckets of a table that has none yet; false when memory ran out.
bool TableBuildBuckets(NodeHeap* heap, MemberTable* table) noexcept;
// A member by key; builds the buckets first (a table that cannot searches its order list).
Node* TableFind(NodeHeap* heap, MemberTable* table, std::u16string_view key, std::uint32_t hash) noexcept;
// Stores `child` under `key`. A member with that key is replaced where it stands (the child takes
// over its key text) and returned through `replaced`; a new key is added at `position` of the
// member order (-1: at the end), growing the table first when it is full. False when memory ran
// out or the position is out of range; nothing changed then (except a growth).
bool TablePut(NodeHeap* heap, MemberTable* table, std::u16string_view key, std::uint32_t hash, Node* child,
              std::int32_t position, Node** replaced) noexcept;
// As TablePut at the end of the order, for a child that already carries its key text: on
// replacement the child takes over the old key text and its own is freed.
bool TableAdopt(NodeHeap* heap, MemberTable* table, Node* child, Node** replaced) noexcept;
// Takes a member (found by identity) out of the buckets and the member order and frees its key.
bool TableRemove(NodeHeap* heap, MemberTable* table, Node* member) noexcept;
// Forgets every member: buckets and order list emptied, bucket count and threshold kept.
void TableClear(MemberTable* table) noexcept;
// Grows the buckets to 2n+1 (rehashing those already built); the member order is untouched.
bool TableGrow(NodeHeap* heap, MemberTable* table) noexcept;

}  // namespace velmora::json
