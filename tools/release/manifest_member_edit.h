// Changes a few top-level members of a manifest's JSON text and leaves every other byte as it
// was. `velmora-release rollout` re-signs a published manifest with a new serial and percentage:
// the entries, their order, their escapes and whatever else the manifest holds stay exactly as
// they were signed before, whatever wrote them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::release {

struct MemberValue {
  std::string name;  // "serial"
  std::string json;  // the new value as JSON text: "1799240000", "\"2027-02-05T12:00:00Z\""
};

// `text` (a UTF-8 JSON object) with each of `members` set: a member that is there gets the new
// value in its place; one that is not is inserted before the member "data" (at the end of the
// object when there is none), in the order given. The result is read back with the updater's JSON
// document and compared with `text`: every other member must be the same, and each of `members`
// have its new value.
// Nothing, with `error` (UTF-8) set, when `text` is not one object in plain JSON (quoted keys,
// no comments), names one of `members` twice at its top level, or the result does not read back
// as it should.
std::optional<std::string> SetTopLevelMembers(const std::string& text, const std::vector<MemberValue>& members,
                                              std::string& error);

}  // namespace velmora::release
