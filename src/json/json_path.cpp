#include "json/json_path.h"

#include "json/number_text.h"

namespace velmora::json {
namespace {

bool IsEscapable(char16_t c) noexcept { return c == u'.' || c == u'[' || c == u']' || c == u'\\'; }

}  // namespace

JsonPath::JsonPath(std::u16string_view path) {
  path = path.substr(0, path.find(u'\0'));
  // Remove the escaping backslashes first, remembering which characters they made literal.
  std::vector<bool> literal;
  text_.reserve(path.size());
  literal.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == u'\\' && i + 1 < path.size() && IsEscapable(path[i + 1])) {
      ++i;
      text_.push_back(path[i]);
      literal.push_back(true);
    } else {
      text_.push_back(path[i]);
      literal.push_back(false);
    }
  }

  const std::u16string_view text(text_);
  std::size_t nameStart = 0;
  std::size_t indexStart = 0;
  bool indexOpened = false;
  auto addName = [&](std::size_t end) {
    if (nameStart < end) segments_.push_back(PathSegment{false, 0, text.substr(nameStart, end - nameStart)});
  };
  for (std::size_t pos = 0; pos <= text.size(); ++pos) {
    if (pos == text.size()) {
      addName(pos);
      break;
    }
    if (literal[pos]) continue;
    switch (text[pos]) {
      case u'.':
        addName(pos);
        nameStart = pos + 1;
        break;
      case u'[':
        addName(pos);
        indexOpened = true;
        indexStart = nameStart = pos + 1;
        break;
      case u']':
        // Once a "[" was seen, every "]" reads the text since that "[" as an index.
        if (indexOpened) {
          segments_.push_back(PathSegment{true, ReadInt32(text.substr(indexStart, pos - indexStart)), {}});
        }
        nameStart = pos + 1;
        break;
      default:
        break;
    }
  }
}

Node* FindNode(Node* root, const JsonPath& path) noexcept {
  Node* node = root;
  for (const PathSegment& segment : path.Segments()) {
    if (node == nullptr) break;
    if (segment.isIndex) {
      node = ChildAt(node, segment.index);  // an array's element or an object's member in order
    } else {
      node = FindMember(node, segment.name);
    }
  }
  return node;
}

Node* FindOrCreateNode(Node* root, const JsonPath& path) noexcept {
  Node* node = root;
  for (const PathSegment& segment : path.Segments()) {
    if (node == nullptr) break;
    if (!segment.isIndex) {
      if (!MakeObject(node)) return nullptr;
      Node* member = FindMember(node, segment.name);
      if (member == nullptr) {
        member = NewNode(node, JsonKind::Null);
        if (member == nullptr) return nullptr;
        if (!PutMember(node, segment.name, member)) {
          member->Release();
          return nullptr;
        }
      }
      node = member;
      continue;
    }
    if (!MakeArray(node)) return nullptr;
    if (segment.index < 0) return nullptr;
    while (ChildCount(node) <= segment.index) {
      Node* filler = NewNode(node, JsonKind::Null);
      if (filler == nullptr) return nullptr;
      if (!AppendChild(node, filler)) {
        filler->Release();
        return nullptr;
      }
    }
    node = ChildAt(node, segment.index);
  }
  return node;
}

}  // namespace velmora::json
