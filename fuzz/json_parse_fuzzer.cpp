// Fuzz target: arbitrary bytes as JSON text (GBK or UTF-16), then path queries on the result.
//
// The first byte chooses the form: bit 0 set reads the rest as UTF-16 (little-endian units) for
// ParseWide, else as GBK bytes for Parse; bit 1 decodes \u escapes. The text is followed by paths
// (split at NUL) that every reading operation runs on, and GetOrCreate with paths whose indexes
// stay small. Finally the tree is walked without recursion and the documents are dropped, so
// LeakSanitizer sees any node left behind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "json/json_document.h"
#include "json/json_path.h"

using velmora::json::JsonDocument;
using velmora::json::JsonKind;

namespace {

volatile std::int64_t observed = 0;  // keeps the reads observable

std::u16string Units(const std::uint8_t* data, std::size_t size) {
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i + 1 < size; i += 2) units[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  return units;
}

// Paths built from the input, plus ones that reach into any tree.
std::vector<std::u16string> PathsOf(const std::u16string& tail) {
  std::vector<std::u16string> paths = {u"", u"[0]", u"[1]", u"a", u"data[0].name", u"[0][0]", u"a.b", u"\\.."};
  std::size_t start = 0;
  while (start <= tail.size() && paths.size() < 24) {
    const std::size_t end = std::min(tail.find(u'\0', start), tail.size());
    paths.push_back(tail.substr(start, std::min<std::size_t>(end - start, 64)));
    start = end + 1;
  }
  return paths;
}

bool SmallIndexes(const std::u16string& path) {
  const velmora::json::JsonPath parsed(path);
  for (const auto& segment : parsed.Segments()) {
    if (segment.isIndex && (segment.index < -1 || segment.index > 64)) return false;
  }
  return true;
}

std::int64_t Query(JsonDocument& document, const std::u16string& path) {
  const std::string narrow(path.begin(), path.end());  // low bytes as a GBK path
  std::int64_t sink = 0;
  sink += static_cast<int>(document.GetTypeWide(path)) + document.GetCountWide(path) + document.ExistsWide(path);
  sink += static_cast<std::int64_t>(document.GetTextWide(path).size() + document.GetText(narrow).size());
  sink += static_cast<std::int64_t>(document.GetLiteralWide(path).size() + document.GetKey(narrow).size());
  sink += document.GetBoolWide(path) + document.GetIntWide(path) + document.GetInt64(narrow);
  sink += static_cast<std::int64_t>(document.GetNumberWide(path) != 0.0) + static_cast<std::int64_t>(document.GetNumber(narrow) != 0.0);
  std::vector<std::u16string> keys;
  std::vector<std::string> narrowKeys;
  std::vector<JsonDocument> children;
  sink += document.GetKeysWide(path, keys) + document.GetKeys(narrow, narrowKeys) + document.GetChildrenWide(path, children);
  for (JsonDocument& child : children) sink += static_cast<std::int64_t>(child.GetKeyWide(u"").size());
  JsonDocument member = document.GetMemberWide(path, keys.empty() ? u"a" : keys.front());
  JsonDocument item = document.GetItemWide(path, 0);
  JsonDocument parent = document.GetParentWide(path);
  sink += parent.GetCountWide(u"") + item.GetCountWide(u"") + member.GetCountWide(u"");
  return sink;
}

// Visits every node with an explicit stack, reading what each node offers.
std::size_t Walk(const JsonDocument& document) {
  std::size_t visited = 0;
  std::vector<JsonDocument> pending = {document};
  while (!pending.empty() && visited < 200000) {
    JsonDocument node = std::move(pending.back());
    pending.pop_back();
    ++visited;
    if (const velmora::json::JsonNode* root = node.GetRoot()) {
      visited += root->Key().size() + root->String().size() + root->Literal().size();
    }
    std::vector<JsonDocument> children;
    node.GetChildrenWide(u"", children);
    for (JsonDocument& child : children) pending.push_back(std::move(child));
  }
  return visited;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  const bool wide = (mode & 1) != 0;
  const bool decode = (mode & 2) != 0;

  // The text ends at the first NUL (byte or unit); what follows holds the paths.
  std::u16string all = wide ? Units(data, size) : std::u16string(data, data + size);
  const std::size_t textEnd = std::min(all.find(u'\0'), all.size());
  const std::u16string tail = textEnd < all.size() ? all.substr(textEnd + 1) : std::u16string();

  JsonDocument document;
  velmora::json::ParseError code = velmora::json::ParseError::None;
  std::int32_t position = 0;
  if (wide) {
    document.ParseWide(all, decode, &code, &position);
  } else {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    document.Parse(bytes, decode, &code, &position);
  }
  JsonDocument shared = document.Copy();
  for (const std::u16string& path : PathsOf(tail)) {
    std::int64_t sink = Query(document, path);
    if (SmallIndexes(path)) {
      JsonDocument created = shared.GetOrCreateWide(path);
      sink += Query(created, u"");
    }
    observed = sink;
  }
  observed = static_cast<std::int64_t>(Walk(document));
  // A second parse into the same, shared root must release the first tree.
  document.ParseWide(tail, decode);
  observed = static_cast<std::int64_t>(Walk(shared));
  return 0;
}
