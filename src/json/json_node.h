// JsonNode: one value of a JSON document tree, shared by intrusive, atomic reference counts.
//
// A node is born with one reference, held by its creator. Storing it in an array or an object
// hands that reference to the container; a JsonDocument holding it as root adds one. AddRef and
// Release may be called from any thread; everything else about a tree (reading included) belongs
// to one thread at a time. When the last reference goes, the node leaves its container and frees
// itself and every child that nobody else holds, without recursion, however deep the tree is.
//
// All text inside a node is UTF-16. Scalars (null, booleans and numbers) keep a text form: the
// characters they were written with ("1.50" stays "1.50"), or the text they were formatted into
// when set from a value. A node is 40 bytes; a text form made with the node shares its block.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace velmora::json {

enum class JsonKind : std::int32_t { Raw = -1, Null = 0, Real = 1, Integer = 2, Boolean = 3, String = 4, Array = 5, Object = 6 };

class NodeHeap;
struct NodeList;

// The value of a parsed real's text form, read exactly as the parser reads a number token.
double ReadParsedReal(std::u16string_view text) noexcept;
struct MemberTable;

class JsonNode {
 public:
  JsonNode(const JsonNode&) = delete;
  JsonNode& operator=(const JsonNode&) = delete;

  // Adds a reference; returns the new count.
  std::int32_t AddRef() noexcept;
  // Drops a reference; returns the new count. At 0 the node (and what only it held) is freed.
  std::int32_t Release() noexcept;

  JsonKind Kind() const noexcept { return static_cast<JsonKind>(kind_); }
  // The key under which the node is a member of an object; empty when it is none.
  std::u16string_view Key() const noexcept { return View(key_); }
  // The text of a String node; empty for other kinds.
  std::u16string_view String() const noexcept {
    return kind_ == static_cast<std::int8_t>(JsonKind::String) ? View(value_.string) : std::u16string_view();
  }
  // The text form of a Null, Boolean, Real, Integer or Raw node; empty for other kinds and for
  // a value emptied in place.
  std::u16string_view Literal() const noexcept {
    if ((flags_ & kInlineForm) != 0) return View(InlineForm());
    if ((flags_ & kFormBlock) != 0) return View(value_.form);
    if ((flags_ & kKeywordForm) != 0) {
      if (kind_ == static_cast<std::int8_t>(JsonKind::Null)) return u"null";
      return value_.boolean != 0 ? std::u16string_view(u"true") : std::u16string_view(u"false");
    }
    return {};
  }
  // The payload as stored: 0 for other kinds.
  std::int64_t IntegerValue() const noexcept {
    if (kind_ != static_cast<std::int8_t>(JsonKind::Integer)) return 0;
    return (flags_ & kFormBlock) != 0 ? FormValue().integer : value_.integer;
  }
  // A parsed real is converted from its text form on every read (nothing is cached, so reads
  // stay free of writes); a real set by the program keeps its value.
  double RealValue() const noexcept {
    if (kind_ != static_cast<std::int8_t>(JsonKind::Real)) return 0.0;
    if ((flags_ & kRealFromText) != 0) return ReadParsedReal(Literal());
    return (flags_ & kFormBlock) != 0 ? FormValue().real : value_.real;
  }
  bool BoolValue() const noexcept { return kind_ == static_cast<std::int8_t>(JsonKind::Boolean) && value_.boolean != 0; }
  // The array or object that holds this node; null for a root or a detached node.
  JsonNode* Parent() const noexcept { return parent_; }

 protected:
  JsonNode() noexcept = default;
  ~JsonNode() = default;

  // A stored text: its units, with their count in the 32 bits before them (see node_text.h).
  static std::u16string_view View(const char16_t* text) noexcept {
    if (text == nullptr) return {};
    std::uint32_t length;
    std::memcpy(&length, reinterpret_cast<const char*>(text) - sizeof length, sizeof length);
    return std::u16string_view(text, length);
  }

  union Value {
    double real;
    std::int64_t integer;
    std::int32_t boolean;
    char16_t* string;  // text block (see node_text.h); null for a String without text
    char16_t* form;    // with kFormBlock: the text form, in a form block (see node_text.h)
    NodeList* array;
    MemberTable* object;
  };

  // Where a scalar's text form is (at most one of the first three), and how a real is read.
  static constexpr std::uint8_t kInlineForm = 1;    // a text block right after the node
  static constexpr std::uint8_t kFormBlock = 2;     // value_.form; the number's value in its block
  static constexpr std::uint8_t kKeywordForm = 4;   // "null", "true" or "false" by kind and value
  static constexpr std::uint8_t kRealFromText = 8;  // a parsed Real: its value is its form read again
  static constexpr std::uint8_t kInlineStore = 16;  // a parsed container: its list or table header
                                                    // is right after the node

  // The text block stored right after the node (numbers made with their form, parsed scalars).
  const char16_t* InlineForm() const noexcept {
    return reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(this + 1) + kInlineHeaderBytes);
  }
  // The value kept in front of a form block (before the block's 8-byte text header).
  Value FormValue() const noexcept {
    Value value;
    std::memcpy(&value, reinterpret_cast<const char*>(value_.form) - 8 - sizeof value, sizeof value);
    return value;
  }
  static constexpr std::size_t kInlineHeaderBytes = 4;  // an inline text's header (node_text.h)

  std::atomic<std::int32_t> refCount_{1};
  std::int8_t kind_ = 0;             // JsonKind
  std::uint8_t flags_ = 0;           // the k...Form, kRealFromText and kInlineStore bits
  std::uint16_t inlineBytes_ = 0;    // size of the text block stored right after the node, if any
  NodeHeap* heap_ = nullptr;         // where the node and everything it owns live
  JsonNode* parent_ = nullptr;
  char16_t* key_ = nullptr;          // text block owned by the parent object while a member
  Value value_{};
};

}  // namespace velmora::json
