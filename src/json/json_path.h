// JSON paths: parsing ("data[0].name") and the two ways of resolving one against a tree.
// Internal to src/json.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/node_store.h"

namespace velmora::json {

// One step of a path: a member name (non-empty) or an index.
struct PathSegment {
  bool isIndex = false;
  std::int32_t index = 0;
  std::u16string_view name;  // points into the JsonPath's text
};

// A parsed path. Member names are separated by "."; "[n]" is an index read like StrToIntW (sign,
// digits up to the first other character; empty or other text gives 0); "\" before ".", "[", "]"
// or "\" makes that character part of the name. Empty names are skipped ("a..b" is a, b), a name
// may follow "]" directly ("a[0]x"), the text after an unclosed "[" becomes a name ("a[1" is a,
// "1"), and a "]" without "[" drops the text before it ("ab]c" is c). Read up to the first NUL.
class JsonPath {
 public:
  explicit JsonPath(std::u16string_view path);
  JsonPath(const JsonPath&) = delete;
  JsonPath& operator=(const JsonPath&) = delete;

  const std::vector<PathSegment>& Segments() const noexcept { return segments_; }

 private:
  std::u16string text_;  // the path with its escaping backslashes removed
  std::vector<PathSegment> segments_;
};

// Follows the path from `root` without changing anything: members by exact key, indexes into
// arrays, or into an object's member order. Null when a step does not resolve (or root is null).
Node* FindNode(Node* root, const JsonPath& path) noexcept;

// Follows the path from `root`, building what is missing: a member step makes the node an object
// (dropping other content) and adds a Null member; an index step makes it an array and appends
// Nulls up to the index. Null for a null root, a negative index or lack of memory.
Node* FindOrCreateNode(Node* root, const JsonPath& path) noexcept;

}  // namespace velmora::json
