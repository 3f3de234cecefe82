// Storage of arrays and objects: the growable NodeList and the hashed MemberTable with its member
// order list. Internal to src/json; used through the node routines of node_store.h.
//
// A new list or table is one block of its node's heap with room for 8 items (and 11 buckets), so
// a small container costs one allocation; growth moves the items or buckets to blocks of their
// own. These routines move references around but never release a node: callers do.
#pragma once

#include <cstdint>
#include <string_view>

#include "json/node_heap.h"
#include "json/node_store.h"

namespace velmora::json {

inline constexpr std::int32_t kNewListCapacity = 8;
inline constexpr std::int32_t kNewBucketCount = 11;
inline constexpr float kLoadFactor = 0.75f;

NodeList* NewList(NodeHeap* heap) noexcept;
void FreeList(NodeHeap* heap, NodeList* list) noexcept;
// Index of the appended node, -1 when the list could not grow.
std::int32_t ListAppend(NodeHeap* heap, NodeList* list, JsonNode* node) noexcept;
bool ListInsert(NodeHeap* heap, NodeList* list, std::int32_t index, JsonNode* node) noexcept;
// Removes the first occurrence of the node; false when it is not in the list.
bool ListRemove(NodeList* list, const JsonNode* node) noexcept;
void ListRemoveAt(NodeList* list, std::int32_t index) noexcept;
void ListClear(NodeList* list) noexcept;

MemberTable* NewTable(NodeHeap* heap) noexcept;
// Frees the table's own storage (not the members' keys: see TableClear's callers).
void FreeTable(NodeHeap* heap, MemberTable* table) noexcept;
Node* TableFind(const MemberTable* table, std::u16string_view key, std::uint32_t hash) noexcept;
// Stores `child` under `key`. A member with that key is replaced where it stands (the child takes
// over its key text) and returned through `replaced`; a new key is added at `position` of the
// member order (-1: at the end), growing the table first when it is full. False when memory ran
// out or the position is out of range; nothing changed then (except a growth).
bool TablePut(NodeHeap* heap, MemberTable* table, std::u16string_view key, std::uint32_t hash, Node* child,
              std::int32_t position, Node** replaced) noexcept;
// Unlinks a member (found by identity) from its chain and the member order and frees its key.
bool TableRemove(NodeHeap* heap, MemberTable* table, Node* member) noexcept;
// Forgets every member: buckets and order list emptied, bucket count and threshold kept.
void TableClear(MemberTable* table) noexcept;
// Doubles the buckets (2n+1) and rehashes; the member order is untouched.
bool TableGrow(NodeHeap* heap, MemberTable* table) noexcept;

}  // namespace velmora::json
