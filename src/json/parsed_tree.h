// Giving parsed containers their storage: the parser keeps the children of an open array or
// object on its own stack and hands them over when the container closes, so that each container
// takes its storage once, at its final size (see member_table.h for the growth rules edits then
// follow). Internal to src/json. The children are nodes made by NewChildScalar or
// NewChildContainer (node_store.h), with their key text when the container is an object.
#pragma once

#include <cstdint>

#include "json/node_store.h"

namespace velmora::json {

// Gives a storage-less array exactly its `count` children. False when memory ran out; the
// children then still belong to the caller.
bool AdoptChildren(Node* array, Node* const* children, std::int32_t count) noexcept;
// Gives a storage-less object its members (children with keys), in order; a later member with
// the key of an earlier one replaces it in its place, as storing them one by one would. False
// when memory ran out; the members then still belong to the caller.
bool AdoptMembers(Node* object, Node* const* members, std::int32_t count) noexcept;
// Stores keyed children into an object or array that already has storage (and maybe content),
// one by one; returns how many it stored before memory ran out (the rest still belong to the
// caller).
std::int32_t AdoptInto(Node* container, Node* const* children, std::int32_t count) noexcept;

}  // namespace velmora::json
