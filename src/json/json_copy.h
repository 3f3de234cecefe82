// Deep copies and the merge of one tree into another. Internal to src/json. Both walk their
// trees with explicit stacks, so depth is limited by memory, never by the thread's stack.
#pragma once

#include "json/node_store.h"

namespace velmora::json {

// A copy of `source` and everything below it, made for `owner` (its heap; null: a new heap).
// The copy has no parent and no key; its one reference belongs to the caller. Numbers get text
// forms made anew from their values ("1.50" copies as "1.5"). Null when memory ran out.
Node* DeepCopy(const Node* source, const Node* owner) noexcept;

// Merges the tree `source` (the caller's, and used up by the merge: its nodes move into `target`)
// into `target`. Two objects merge member by member: a member of `source` whose key `target`
// has is merged into that member by the same rule, one it lacks is added when `addNew` is set
// and skipped otherwise. Any other pair replaces the target in its parent object under its key;
// a target without key (the root, an array element) cannot be replaced and gives false.
// False also when nothing was merged or a step failed (the merge stops at the first failure;
// earlier steps stay). `*sourceStored` tells whether `source` itself now sits in the tree (the
// caller releases it otherwise).
bool MergeTree(Node* target, Node* source, bool addNew, bool* sourceStored) noexcept;

}  // namespace velmora::json
