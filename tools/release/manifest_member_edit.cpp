#include "manifest_member_edit.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "json/json_document.h"
#include "release_text.h"

namespace velmora::release {
namespace {

constexpr std::size_t kNone = std::string::npos;

// A member of the top-level object: its key as written (between the quotes) and where it lies.
struct MemberPlace {
  std::string key;
  std::size_t keyStart = 0;    // the key's opening quote
  std::size_t valueStart = 0;
  std::size_t valueEnd = 0;    // one past the value's last byte
};

struct TopLevel {
  std::vector<MemberPlace> members;
  std::size_t open = 0;   // the object's "{"
  std::size_t close = 0;  // its "}"
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::size_t SkipBlanks(const std::string& text, std::size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

// One past the closing quote of the string that opens at `at`; kNone when it is not closed.
std::size_t StringEnd(const std::string& text, std::size_t at) {
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  return kNone;
}

// One past the value that begins at `at`: a string, an array or object (brackets counted, strings
// skipped; the read-back check catches anything else malformed), or a number or literal.
std::size_t ValueEnd(const std::string& text, std::size_t at) {
  if (at >= text.size()) return kNone;
  if (text[at] == '"') return StringEnd(text, at);
  if (text[at] == '{' || text[at] == '[') {
    std::size_t depth = 0;
    for (std::size_t i = at; i < text.size();) {
      const char c = text[i];
      if (c == '"') {
        i = StringEnd(text, i);
        if (i == kNone) return kNone;
        continue;
      }
      if (c == '{' || c == '[') ++depth;
      if ((c == '}' || c == ']') && --depth == 0) return i + 1;
      ++i;
    }
    return kNone;
  }
  std::size_t end = at;
  while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) != 0 || text[end] == '-' ||
                               text[end] == '+' || text[end] == '.')) {
    ++end;
  }
  return end == at ? kNone : end;
}

std::optional<TopLevel> ScanTopLevel(const std::string& text) {
  TopLevel top;
  std::size_t at = SkipBlanks(text, 0);
  if (at >= text.size() || text[at] != '{') return std::nullopt;
  top.open = at;
  at = SkipBlanks(text, at + 1);
  if (at < text.size() && text[at] == '}') {
    top.close = at;
    return top;
  }
  for (;;) {
    if (at >= text.size() || text[at] != '"') return std::nullopt;
    MemberPlace member;
    member.keyStart = at;
    const std::size_t keyEnd = StringEnd(text, at);
    if (keyEnd == kNone) return std::nullopt;
    member.key = text.substr(at + 1, keyEnd - at - 2);
    at = SkipBlanks(text, keyEnd);
    if (at >= text.size() || text[at] != ':') return std::nullopt;
    member.valueStart = SkipBlanks(text, at + 1);
    member.valueEnd = ValueEnd(text, member.valueStart);
    if (member.valueEnd == kNone) return std::nullopt;
    top.members.push_back(std::move(member));
    at = SkipBlanks(text, top.members.back().valueEnd);
    if (at < text.size() && text[at] == ',') {
      at = SkipBlanks(text, at + 1);
      continue;
    }
    if (at < text.size() && text[at] == '}') {
      top.close = at;
      return top;
    }
    return std::nullopt;
  }
}

std::u16string WideOf(const std::string& utf8) { return WideOfUtf8(utf8); }

// Reads `text` as the updater does ("\uXXXX" escapes decoded); false when it does not parse.
bool ReadBack(const std::string& text, json::JsonDocument& document) {
  return document.ParseWide(WideOf(text), true);
}

bool IsEdited(const std::vector<MemberValue>& members, const std::u16string& key) {
  return std::any_of(members.begin(), members.end(), [&key](const MemberValue& m) { return WideOf(m.name) == key; });
}

// True when `after` holds every member of `before` but `members` unchanged and in the same order,
// and each of `members` with its new value.
bool ChangedOnly(const std::string& before, const std::string& after, const std::vector<MemberValue>& members) {
  json::JsonDocument old;
  json::JsonDocument edited;
  if (!ReadBack(before, old) || !ReadBack(after, edited)) return false;
  std::vector<std::u16string> oldKeys;
  std::vector<std::u16string> newKeys;
  old.GetKeysWide(u"", oldKeys);
  edited.GetKeysWide(u"", newKeys);
  const auto kept = [&members](std::vector<std::u16string> keys) {
    keys.erase(std::remove_if(keys.begin(), keys.end(), [&members](const std::u16string& k) { return IsEdited(members, k); }),
               keys.end());
    return keys;
  };
  if (kept(oldKeys) != kept(newKeys)) return false;
  for (const std::u16string& key : kept(oldKeys)) {
    if (old.GetMemberWide(u"", key).ToJsonWide() != edited.GetMemberWide(u"", key).ToJsonWide()) return false;
  }
  for (const MemberValue& member : members) {
    json::JsonDocument value;
    if (!ReadBack("{\"v\":" + member.json + "}", value)) return false;
    if (edited.GetMemberWide(u"", WideOf(member.name)).ToJsonWide() != value.GetMemberWide(u"", u"v").ToJsonWide()) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> SetTopLevelMembers(const std::string& text, const std::vector<MemberValue>& members,
                                              std::string& error) {
  const std::optional<TopLevel> top = ScanTopLevel(text);
  if (!top) {
    error = "the manifest is not one JSON object in plain form (quoted keys, no comments), so it cannot be changed "
            "without touching its other members";
    return std::nullopt;
  }
  std::map<std::string, const MemberPlace*> existing;
  const MemberPlace* data = nullptr;
  for (const MemberPlace& place : top->members) {
    if (place.key == "data" && data == nullptr) data = &place;
    for (const MemberValue& member : members) {
      if (place.key != member.name) continue;
      if (!existing.emplace(member.name, &place).second) {
        error = "the manifest holds `" + member.name + "` twice";
        return std::nullopt;
      }
    }
  }
  // Replacements, and one insertion point for the members that are new: applied from the end of
  // the text backwards so that earlier places stay valid.
  struct Splice {
    std::size_t from;
    std::size_t to;
    std::string bytes;
  };
  std::vector<Splice> splices;
  std::string inserted;
  for (const MemberValue& member : members) {
    if (const auto place = existing.find(member.name); place != existing.end()) {
      splices.push_back({place->second->valueStart, place->second->valueEnd, member.json});
    } else {
      inserted += (inserted.empty() ? "" : ",") + std::string("\"") + member.name + "\":" + member.json;
    }
  }
  if (!inserted.empty()) {
    if (data != nullptr) {
      splices.push_back({data->keyStart, data->keyStart, inserted + ","});
    } else if (!top->members.empty()) {
      const std::size_t end = top->members.back().valueEnd;
      splices.push_back({end, end, "," + inserted});
    } else {
      splices.push_back({top->open + 1, top->open + 1, inserted});
    }
  }
  std::sort(splices.begin(), splices.end(), [](const Splice& a, const Splice& b) { return a.from > b.from; });
  std::string edited = text;
  for (const Splice& splice : splices) edited.replace(splice.from, splice.to - splice.from, splice.bytes);
  if (!ChangedOnly(text, edited, members)) {
    error = "the changed manifest does not read back with only those members changed";
    return std::nullopt;
  }
  return edited;
}

}  // namespace velmora::release
