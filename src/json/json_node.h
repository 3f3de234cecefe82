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
// when set from a value.
#pragma once

#include <atomic>
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
  // The text form of a Null, Boolean, Real, Integer or Raw node; empty for other kinds.
  std::u16string_view Literal() const noexcept { return View(text_); }
  // The payload as stored: 0 for other kinds.
  std::int64_t IntegerValue() const noexcept { return kind_ == static_cast<std::int8_t>(JsonKind::Integer) ? value_.integer : 0; }
  // A parsed real is converted from its text form on every read (nothing is cached, so reads
  // stay free of writes); a real set by the program keeps its value.
  double RealValue() const noexcept {
    if (kind_ != static_cast<std::int8_t>(JsonKind::Real)) return 0.0;
    return realFromText_ != 0 ? ReadParsedReal(View(text_)) : value_.real;
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
    NodeList* array;
    MemberTable* object;
  };

  std::atomic<std::int32_t> refCount_{1};
  std::int8_t kind_ = 0;             // JsonKind
  std::uint8_t realFromText_ = 0;    // 1: a parsed Real, whose value is its text form read again
  std::uint16_t inlineBytes_ = 0;    // size of the text block stored right after the node, if any
  NodeHeap* heap_ = nullptr;         // where the node and everything it owns live
  JsonNode* parent_ = nullptr;
  char16_t* key_ = nullptr;          // text block owned by the parent object while a member
  Value value_{};
  char16_t* text_ = nullptr;         // text form (text block or a shared keyword text)
};

}  // namespace velmora::json
