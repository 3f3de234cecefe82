// JsonDocument::ToJson / ToJsonWide: the serialiser. The tree is walked with an explicit stack,
// so any depth that parsed can be written.
#include <array>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "json/json_document.h"
#include "json/json_path.h"
#include "json/node_store.h"
#include "json/number_text.h"
#include "json/text_builder.h"
#include "json/unit_copy.h"
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

// Room a text may take written in quotes: escaping turns a unit into two at most.
std::int64_t QuotedBound(std::u16string_view text, bool escape) noexcept {
  return static_cast<std::int64_t>(text.size()) * (escape ? 2 : 1) + 2;
}

#if defined(__SSE2__)
// A mask with two bits for each of the eight units at `from` that escaping changes.
// Whether escaping may change one of the units of `head` or `tail`, by a cheap test that lets
// through every unit at or above "0" except the backslash (letters and digits: most of a key).
bool MayNeedEscape(__m128i head, __m128i tail) noexcept {
  const __m128i below = _mm_set1_epi16(u'0');
  const __m128i backslash = _mm_set1_epi16(u'\\');
  // Units from 0x8000 up compare as negative and are let through to the exact test.
  const __m128i suspects = _mm_or_si128(_mm_or_si128(_mm_cmplt_epi16(head, below), _mm_cmpeq_epi16(head, backslash)),
                                        _mm_or_si128(_mm_cmplt_epi16(tail, below), _mm_cmpeq_epi16(tail, backslash)));
  return _mm_movemask_epi8(suspects) != 0;
}

unsigned EscapeMask(__m128i block) noexcept {
  const auto is = [&block](char16_t unit) { return _mm_cmpeq_epi16(block, _mm_set1_epi16(static_cast<short>(unit))); };
  // \b \t \n \r \f are the units 8 to 13 except 11.
  const __m128i shifted = _mm_sub_epi16(block, _mm_set1_epi16(8));
  const __m128i control = _mm_andnot_si128(is(11), _mm_and_si128(_mm_cmpgt_epi16(shifted, _mm_set1_epi16(-1)),
                                                                   _mm_cmplt_epi16(shifted, _mm_set1_epi16(6))));
  const __m128i marks = _mm_or_si128(_mm_or_si128(is(u'"'), is(u'\\')), _mm_or_si128(is(u'/'), control));
  return static_cast<unsigned>(_mm_movemask_epi8(marks));
}
#endif

// Writes units [i, size) of `from` with escapes, one by one.
char16_t* PutEscapedUnits(char16_t* to, const char16_t* from, std::size_t i, std::size_t size) noexcept {
  for (; i < size; ++i) {
    const char16_t letter = EscapeLetter(from[i]);
    if (letter == 0) {
      *to++ = from[i];
    } else {
      *to++ = u'\\';
      *to++ = letter;
    }
  }
  return to;
}

// PutQuoted for texts that need escaping or are not 4 to 16 units long.
char16_t* PutQuotedRest(char16_t* to, const char16_t* from, std::size_t size) noexcept;

// Writes `text` in quotes at `to`, which has room for QuotedBound units, and returns the end.
// A text of 4 to 16 units without anything to escape (most keys and short strings) is checked
// and copied in two overlapping halves, here; the rest in PutQuotedRest.
[[gnu::always_inline]] inline char16_t* PutQuoted(char16_t* to, std::u16string_view text, bool escape) noexcept {
  *to++ = u'"';
  const char16_t* from = text.data();
  const std::size_t size = text.size();
  if (!escape) {
    to = CopyUnits(to, from, size);
    *to++ = u'"';
    return to;
  }
#if defined(__SSE2__)
  if (size >= 4 && size < 8) {
    const __m128i head = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from));
    const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + size - 4));
    const __m128i both = _mm_unpacklo_epi64(head, tail);
    if (!MayNeedEscape(both, both) || EscapeMask(both) == 0) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to), head);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to + size - 4), tail);
      to += size;
      *to++ = u'"';
      return to;
    }
  } else if (size >= 8 && size <= 16) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + size - 8));
    if (!MayNeedEscape(head, tail) || (EscapeMask(head) | EscapeMask(tail)) == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), head);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + size - 8), tail);
      to += size;
      *to++ = u'"';
      return to;
    }
  }
#endif
  return PutQuotedRest(to, from, size);
}

// Runs of units that need no escape are copied eight at a time, and the last units of a text
// with nothing to escape as the final eight.
char16_t* PutQuotedRest(char16_t* to, const char16_t* from, std::size_t size) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  bool clean = true;  // no unit so far needed an escape
  while (i + 8 <= size) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);  // room: the bound allows two units per unit
    const unsigned mask = EscapeMask(block);
    if (mask == 0) {
      to += 8;
      i += 8;
      continue;
    }
    clean = false;
    const auto plain = static_cast<std::size_t>(__builtin_ctz(mask)) / 2;
    to += plain;
    i += plain;
    *to++ = u'\\';
    *to++ = EscapeLetter(from[i++]);
  }
  // While nothing was escaped, output and input line up: the final eight units are written
  // again over the last ones, when they need no escape either.
  if (clean && i < size && size >= 8) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + size - 8));
    if (EscapeMask(block) == 0) {
      const std::size_t rest = size - i;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + rest - 8), block);
      to += rest;
      i = size;
    }
  }
#endif
  to = PutEscapedUnits(to, from, i, size);
  *to++ = u'"';
  return to;
}

char16_t* PutText(char16_t* to, std::u16string_view text) noexcept { return CopyUnits(to, text.data(), text.size()); }

char16_t* PutTabs(char16_t* to, std::int32_t depth) noexcept {
  for (std::int32_t i = 0; i < depth; ++i) *to++ = u'\t';
  return to;
}

// Writes a text in quotes: in one piece when the builder has (or makes) room for the longest
// form, else piece by piece, each piece dropped when the builder cannot grow for it.
void WriteString(std::u16string_view text, bool escape, TextBuilder& out) {
  if (out.Reserve(QuotedBound(text, escape))) {
    out.Advance(PutQuoted(out.End(), text, escape) - out.End());
    return;
  }
  out.Append(u'"');
  std::size_t runStart = 0;
  for (std::size_t i = 0; escape && i < text.size(); ++i) {
    const char16_t letter = EscapeLetter(text[i]);
    if (letter == 0) continue;
    out.Append(text.substr(runStart, i - runStart));
    const char16_t pair[2] = {u'\\', letter};
    out.Append(std::u16string_view(pair, 2));
    runStart = i + 1;
  }
  out.Append(text.substr(runStart));
  out.Append(u'"');
}

// An open array or object: its children and the next one to write.
struct Frame {
  JsonNode* const* items;
  std::int32_t count;
  std::int32_t next;
  bool object;
};

// The text form a scalar is written with; false for containers and for a number emptied in
// place, which has none.
bool ScalarText(const Node* node, std::u16string_view* text) noexcept {
  switch (node->Kind()) {
    case JsonKind::Null:
      *text = u"null";
      return true;
    case JsonKind::Boolean:
      *text = node->value_.boolean != 0 ? std::u16string_view(u"true") : std::u16string_view(u"false");
      return true;
    case JsonKind::Real:
    case JsonKind::Integer:
      if (!node->HasForm(Node::kInlineForm | Node::kFormBlock)) return false;
      *text = node->Literal();
      return true;
    case JsonKind::Raw:
      *text = node->Literal();
      return true;
    default:
      return false;
  }
}

class Writer {
 public:
  Writer(bool pretty, bool escape, TextBuilder& out) : pretty_(pretty), escape_(escape), out_(out) {}

  // The open container lives in `frame_`; the ones around it wait on `stack_`.
  void Write(const Node* root) {
    if (!Visit(root)) return;
    for (;;) {
      while (frame_.next < frame_.count) {
        const std::int32_t index = frame_.next++;
        const Node* child = AsNode(frame_.items[index]);
        if (WriteChildInPlace(index, child)) continue;
        if (OpenChildInPlace(index, child)) continue;
        if (index > 0) {
          out_.Append(u',');
          if (frame_.object && pretty_) out_.Append(u"\r\n");
        }
        if (frame_.object) {
          if (pretty_ && depth_ > 0) {
            for (std::int32_t i = 0; i < depth_; ++i) out_.Append(u'\t');
          }
          WriteString(child->Key(), escape_, out_);
          out_.Append(u':');
        }
        const Frame outer = frame_;
        if (Visit(child)) stack_.push_back(outer);
      }
      const bool object = frame_.object;
      if (object && frame_.count > 0 && pretty_) out_.Append(u"\r\n");
      --depth_;
      if (object && pretty_ && depth_ > 0) {
        for (std::int32_t i = 0; i < depth_; ++i) out_.Append(u'\t');
      }
      out_.Append(object ? u'}' : u']');
      if (stack_.empty()) return;
      frame_ = stack_.back();
      stack_.pop_back();
    }
  }

 private:
  // The common case: a child whose separator, key and scalar value (or empty container) are
  // written in one piece of room reserved at once. False (nothing written) for containers with
  // children, numbers without text and when the builder cannot grow: the piecewise path takes
  // those.
  bool WriteChildInPlace(std::int32_t index, const Node* child) {
    std::u16string_view text;
    const bool string = child->Is(JsonKind::String);
    if (string) {
      text = child->String();
    } else if (!ScalarText(child, &text) && !EmptyContainerText(child, &text)) {
      return false;
    }
    const std::int64_t room = string ? QuotedBound(text, escape_) : static_cast<std::int64_t>(text.size());
    if (!out_.Reserve(PrefixRoom(child) + room)) return false;
    char16_t* to = PutPrefix(out_.End(), index, child);
    to = string ? PutQuoted(to, text, escape_) : PutText(to, text);
    out_.Advance(to - out_.End());
    return true;
  }

  // Room for what comes before a child's value: its separator (with the line end and tabs of
  // pretty output in an object) and, in an object, its key and colon.
  std::int64_t PrefixRoom(const Node* child) const noexcept {
    if (!frame_.object) return 1;
    return 1 + (pretty_ ? 2 + depth_ : 0) + QuotedBound(child->Key(), escape_) + 1;
  }
  // Writes that prefix at `to` (which has PrefixRoom) and returns its end.
  char16_t* PutPrefix(char16_t* to, std::int32_t index, const Node* child) const noexcept {
    const bool indent = frame_.object && pretty_;
    if (index > 0) {
      *to++ = u',';
      if (indent) {
        *to++ = u'\r';
        *to++ = u'\n';
      }
    }
    if (frame_.object) {
      if (indent && depth_ > 0) to = PutTabs(to, depth_);
      to = PutQuoted(to, child->Key(), escape_);
      *to++ = u':';
    }
    return to;
  }

  // A child array or object with children: its separator, key and opening bracket are written
  // in one piece of room reserved at once, and it becomes the open container. False (nothing
  // written) for other children and when the builder cannot grow.
  bool OpenChildInPlace(std::int32_t index, const Node* child) {
    const NodeList* children = child->Children();
    if (children == nullptr) return false;
    const bool opensObject = child->Is(JsonKind::Object);
    if (!out_.Reserve(PrefixRoom(child) + 3)) return false;  // the bracket, and an object's line end
    char16_t* to = PutPrefix(out_.End(), index, child);
    *to++ = opensObject ? u'{' : u'[';
    if (opensObject && pretty_) {
      *to++ = u'\r';
      *to++ = u'\n';
    }
    out_.Advance(to - out_.End());
    stack_.push_back(frame_);
    ++depth_;
    frame_ = Frame{children->items, children->count, 0, opensObject};
    return true;
  }

  // An array without elements is written "[]", and so is an object without members "{}" in
  // compact output (pretty output breaks even an empty object).
  bool EmptyContainerText(const Node* node, std::u16string_view* text) const noexcept {
    const NodeList* children = node->Children();
    if (children == nullptr || children->count != 0) return false;
    if (node->Is(JsonKind::Array)) {
      *text = u"[]";
      return true;
    }
    if (pretty_) return false;
    *text = u"{}";
    return true;
  }

  // Writes a scalar; or opens a container, makes it the open one and returns true.
  bool Visit(const Node* node) {
    std::u16string_view text;
    if (ScalarText(node, &text)) {
      out_.Append(text);
      return false;
    }
    switch (node->Kind()) {
      case JsonKind::Real:
      case JsonKind::Integer:
        // A number emptied in place keeps no text: its value (0) is written, never nothing.
        out_.Append(node->Is(JsonKind::Real) ? FormatReal(node->RealValue()) : FormatInteger(node->IntegerValue()));
        return false;
      case JsonKind::String:
        WriteString(node->String(), escape_, out_);
        return false;
      case JsonKind::Array:
      case JsonKind::Object: {
        const NodeList* children = node->Children();
        if (children == nullptr) return false;  // a container that could not be made writes nothing
        const bool object = node->Is(JsonKind::Object);
        out_.Append(object ? u'{' : u'[');
        if (object && pretty_) out_.Append(u"\r\n");
        ++depth_;
        frame_ = Frame{children->items, children->count, 0, object};
        return true;
      }
      default:
        return false;
    }
  }

  bool pretty_;
  bool escape_;
  TextBuilder& out_;
  std::int32_t depth_ = 0;
  Frame frame_{};
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
