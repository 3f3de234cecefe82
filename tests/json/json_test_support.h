// Helpers of the JSON tests: a compact dump of a tree for comparisons, written independently of
// the serialiser (recursive: test trees are shallow), and text joining.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

#include <gtest/gtest.h>

#include "json/json_document.h"

namespace velmora::json::testing {

// The document of `text`, which the test expects to parse.
inline JsonDocument Parsed(const std::string& text) {
  JsonDocument document;
  EXPECT_TRUE(document.Parse(text)) << text;
  return document;
}

// Texts and integers joined into one text by appending. (GCC 12 at -O3 reports a false
// -Wrestrict overlap for `"literal" + std::string`, which prepends; appending is clean.)
inline void AppendPart(std::string& out, std::string_view part) { out.append(part); }
template <typename Integer, typename = std::enable_if_t<std::is_integral_v<Integer>>>
void AppendPart(std::string& out, Integer number) {
  out += std::to_string(number);
}
template <typename... Parts>
std::string Joined(const Parts&... parts) {
  std::string out;
  (AppendPart(out, parts), ...);
  return out;
}

inline std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\u" + std::to_string(static_cast<unsigned>(c));
    }
  }
  return out;
}

// Strings in double quotes without escaping; scalars by their text form; containers by content.
inline std::string Dump(const JsonNode* node) {
  if (node == nullptr) return "<none>";
  switch (node->Kind()) {
    case JsonKind::String:
      return Joined("\"", Narrow(node->String()), "\"");
    case JsonKind::Array:
    case JsonKind::Object: {
      JsonDocument holder;
      holder.SetRoot(const_cast<JsonNode*>(node));
      std::vector<JsonDocument> children;
      holder.GetChildren("", children);
      const bool object = node->Kind() == JsonKind::Object;
      std::string out = object ? "{" : "[";
      for (std::size_t i = 0; i < children.size(); ++i) {
        if (i > 0) out += ",";
        if (object) out += Joined("\"", Narrow(children[i].GetRoot()->Key()), "\":");
        out += Dump(children[i].GetRoot());
      }
      return out + (object ? "}" : "]");
    }
    default:
      return Narrow(node->Literal());
  }
}

inline std::string Dump(const JsonDocument& document) { return Dump(document.GetRoot()); }

}  // namespace velmora::json::testing
