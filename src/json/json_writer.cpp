// JsonDocument::ToJson / ToJsonWide: the serialiser. The tree is walked with an explicit stack,
// so any depth that parsed can be written.
#include <array>
#include <new>
#include <vector>

#include "json/json_document.h"
#include "json/json_path.h"
#include "json/node_store.h"
#include "json/number_text.h"
#include "json/text_builder.h"
#include "text/encoding.h"

namespace velmora::json {
namespace {

// Units the escaping writes as two: the quote, backslash and slash get a backslash in front;
// \b \t \n \r \f their letters. 0 for every other unit.
constexpr std::array<char16_t, 128> EscapeLetters() {
  std::array<char16_t, 128> letters{};
  letters['"'] = u'"';
  letters['\\'] = u'\\';
  letters['/'] = u'/';
  letters['\b'] = u'b';
  letters['\t'] = u't';
  letters['\n'] = u'n';
  letters['\r'] = u'r';
  letters['\f'] = u'f';
  return letters;
}
constexpr std::array<char16_t, 128> kEscapeLetters = EscapeLetters();

char16_t EscapeLetter(char16_t c) noexcept { return c < 128 ? kEscapeLetters[c] : 0; }

void WriteEscaped(std::u16string_view text, TextBuilder& out) {
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t letter = EscapeLetter(text[i]);
    if (letter == 0) continue;
    out.Append(text.substr(runStart, i - runStart));
    const char16_t pair[2] = {u'\\', letter};
    out.Append(std::u16string_view(pair, 2));
    runStart = i + 1;
  }
  out.Append(text.substr(runStart));
}

// A quoted text. The common case, nothing to escape, is copied in one pass with one check for
// room (the quotes included).
void WriteString(std::u16string_view text, bool escape, TextBuilder& out) {
  std::size_t plain = 0;
  if (out.Reserve(static_cast<std::int64_t>(text.size()) + 2)) {
    char16_t* to = out.End();
    *to++ = u'"';
    if (escape) {
      while (plain < text.size() && EscapeLetter(text[plain]) == 0) {
        to[plain] = text[plain];
        ++plain;
      }
    } else {
      std::char_traits<char16_t>::copy(to, text.data(), text.size());
      plain = text.size();
    }
    out.Advance(static_cast<std::int64_t>(plain) + 1);
  } else {
    out.Append(u'"');
  }
  if (plain < text.size()) {
    if (escape) {
      WriteEscaped(text.substr(plain), out);
    } else {
      out.Append(text.substr(plain));
    }
  }
  out.Append(u'"');
}

void WriteTabs(std::int32_t depth, TextBuilder& out) {
  for (std::int32_t i = 0; i < depth; ++i) out.Append(u'\t');
}

struct Frame {
  const Node* node;
  const NodeList* children;
  std::int32_t next;
  bool object;
};

class Writer {
 public:
  Writer(bool pretty, bool escape, TextBuilder& out) : pretty_(pretty), escape_(escape), out_(out) {}

  void Write(const Node* root) {
    Visit(root);
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      if (frame.next < frame.children->count) {
        const std::int32_t index = frame.next++;
        const Node* child = AsNode(frame.children->items[index]);
        if (index > 0) {
          out_.Append(u',');
          if (frame.object && pretty_) out_.Append(u"\r\n");
        }
        if (frame.object) {
          if (pretty_ && depth_ > 0) WriteTabs(depth_, out_);
          WriteString(child->Key(), escape_, out_);
          out_.Append(u':');
        }
        Visit(child);  // may push: `frame` is not used after this
        continue;
      }
      const bool object = frame.object;
      const bool any = frame.children->count > 0;
      stack_.pop_back();
      if (object && any && pretty_) out_.Append(u"\r\n");
      --depth_;
      if (object && pretty_ && depth_ > 0) WriteTabs(depth_, out_);
      out_.Append(object ? u'}' : u']');
    }
  }

 private:
  // Writes a scalar, or opens a container and pushes it.
  void Visit(const Node* node) {
    switch (node->Kind()) {
      case JsonKind::Null:
        out_.Append(u"null");
        return;
      case JsonKind::Boolean:
        out_.Append(node->value_.boolean != 0 ? std::u16string_view(u"true") : std::u16string_view(u"false"));
        return;
      case JsonKind::Real:
      case JsonKind::Integer:
        if (node->text_ != nullptr) {
          out_.Append(node->Literal());
        } else {
          // A number emptied in place keeps no text: its value (0) is written, never nothing.
          out_.Append(node->Is(JsonKind::Real) ? FormatReal(node->value_.real) : FormatInteger(node->value_.integer));
        }
        return;
      case JsonKind::Raw:
        out_.Append(node->Literal());
        return;
      case JsonKind::String:
        WriteString(node->String(), escape_, out_);
        return;
      case JsonKind::Array:
      case JsonKind::Object: {
        const NodeList* children = node->Children();
        if (children == nullptr) return;  // a container that could not be made writes nothing
        const bool object = node->Is(JsonKind::Object);
        out_.Append(object ? u'{' : u'[');
        if (object && pretty_) out_.Append(u"\r\n");
        ++depth_;
        stack_.push_back(Frame{node, children, 0, object});
        return;
      }
    }
  }

  bool pretty_;
  bool escape_;
  TextBuilder& out_;
  std::int32_t depth_ = 0;
  std::vector<Frame> stack_;
};

// The text of the node at `path`; false when the path does not resolve or memory ran out.
bool Serialise(JsonNode* root, std::u16string_view path, bool pretty, bool escape, std::int32_t initialCapacity,
               std::u16string* text) {
  if (root == nullptr) return false;
  const JsonPath parsed(path);
  const Node* node = FindNode(AsNode(root), parsed);
  if (node == nullptr) return false;
  TextBuilder builder(initialCapacity);
  Writer(pretty, escape, builder).Write(node);
  text->assign(builder.Text());
  return true;
}

}  // namespace

std::u16string JsonDocument::ToJsonWide(const std::u16string& path, bool pretty, bool escape,
                                        std::int32_t initialCapacity) const {
  try {
    std::u16string text;
    if (!Serialise(root_, std::u16string_view(path.c_str()), pretty, escape, initialCapacity, &text)) return {};
    return text;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::string JsonDocument::ToJson(const std::string& path, bool pretty, bool escape, std::int32_t initialCapacity) const {
  try {
    std::u16string text;
    const std::u16string widePath = text::NarrowToWide(path, text::NarrowCodePage);
    if (!Serialise(root_, widePath, pretty, escape, initialCapacity, &text)) return {};
    return text::WideToNarrow(text, text::NarrowCodePage);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

}  // namespace velmora::json
