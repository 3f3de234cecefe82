// Helpers of the JSON tests: a compact dump of a tree for comparisons, written independently of
// the serialiser (recursive: test trees are shallow).
#pragma once

#include <string>

#include "json/json_document.h"

namespace velmora::json::testing {

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
      return "\"" + Narrow(node->String()) + "\"";
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
        if (object) out += "\"" + Narrow(children[i].GetRoot()->Key()) + "\":";
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
