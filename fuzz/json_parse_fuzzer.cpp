// Fuzz target: arbitrary bytes as JSON text (GBK or UTF-16), then path queries, a round trip
// through the serialiser and a random series of edits on the result.
//
// The first byte chooses the form: bit 0 set reads the rest as UTF-16 (little-endian units) for
// ParseWide, else as GBK bytes for Parse; bit 1 decodes \u escapes. The text is followed by paths
// (split at NUL) that every reading operation runs on, and GetOrCreate with paths whose indexes
// stay small. A text that parsed must write back the same text after a second parse (except the
// two documented cases, see RoundTripExempt). Then edits and serialisations chosen by the input's
// bytes run on the tree; finally it is walked without recursion and the documents are dropped,
// so LeakSanitizer sees any node left behind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "json/json_document.h"
#include "json/json_path.h"
#include "json/node_store.h"

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

std::uint64_t Query(JsonDocument& document, const std::u16string& path) {
  const std::string narrow(path.begin(), path.end());  // low bytes as a GBK path
  std::uint64_t sink = 0;  // unsigned: values near the limits add up without overflow
  auto add = [&sink](auto value) { sink += static_cast<std::uint64_t>(value); };
  add(static_cast<int>(document.GetTypeWide(path)));
  add(document.GetCountWide(path));
  add(document.ExistsWide(path));
  add(document.GetTextWide(path).size() + document.GetText(narrow).size());
  add(document.GetLiteralWide(path).size() + document.GetKey(narrow).size());
  add(document.GetBoolWide(path));
  add(document.GetIntWide(path));
  add(document.GetInt64(narrow));
  add(document.GetNumberWide(path) != 0.0);
  add(document.GetNumber(narrow) != 0.0);
  std::vector<std::u16string> keys;
  std::vector<std::string> narrowKeys;
  std::vector<JsonDocument> children;
  add(document.GetKeysWide(path, keys));
  add(document.GetKeys(narrow, narrowKeys));
  add(document.GetChildrenWide(path, children));
  for (JsonDocument& child : children) add(child.GetKeyWide(u"").size());
  JsonDocument member = document.GetMemberWide(path, keys.empty() ? u"a" : keys.front());
  JsonDocument item = document.GetItemWide(path, 0);
  JsonDocument parent = document.GetParentWide(path);
  add(parent.GetCountWide(u""));
  add(item.GetCountWide(u""));
  add(member.GetCountWide(u""));
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

// The cases where t1 and t2 may differ by design: a number token cut short around blanks ("1 "),
// and a line feed that does not follow a CR in a text (written "\n", read back as CR LF).
bool RoundTripExempt(const JsonDocument& document) {
  std::vector<const velmora::json::JsonNode*> pending = {document.GetRoot()};
  auto loneLineFeed = [](std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) return true;
    }
    return false;
  };
  while (!pending.empty()) {
    const velmora::json::JsonNode* node = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    const std::u16string_view literal = node->Literal();
    if (literal.find_first_of(u" \t\r\n") != std::u16string_view::npos) return true;
    if (loneLineFeed(node->String()) || loneLineFeed(node->Key())) return true;
    if (const velmora::json::NodeList* children = velmora::json::AsNode(node)->Children()) {
      for (std::int32_t i = 0; i < children->count; ++i) pending.push_back(children->items[i]);
    }
  }
  return false;
}

void CheckRoundTrip(const JsonDocument& document) {
  if (RoundTripExempt(document)) return;
  for (bool pretty : {false, true}) {
    const std::u16string first = document.ToJsonWide(u"", pretty);
    JsonDocument again;
    if (!again.ParseWide(first) || again.ToJsonWide(u"", pretty) != first) __builtin_trap();
  }
}

// Edits and serialisations chosen by the input.
class Editor {
 public:
  Editor(const std::u16string& tail, const std::vector<std::u16string>& paths) : tail_(tail), paths_(paths) {}

  void Run(JsonDocument& document) {
    JsonDocument other;
    other.ParseWide(tail_.substr(0, tail_.size() / 2));
    int selfCopies = 0;
    for (std::size_t step = 0; step < 24 && step < tail_.size(); ++step) {
      const unsigned choice = tail_[step] & 0xFFu;
      const std::u16string& path = paths_[(tail_[step] >> 8) % paths_.size()];
      if (!SmallIndexes(path)) continue;
      const std::string narrow(path.begin(), path.end());
      const std::int32_t index = static_cast<std::int32_t>(choice % 5) - 1;
      const JsonDocument& source = (choice & 16) != 0 && selfCopies < 3 ? document : other;
      if (&source == &document) ++selfCopies;
      switch (choice % 26) {
        case 0: document.SetNullWide(path); break;
        case 1: document.SetBool(narrow, (choice & 32) != 0); break;
        case 2: document.SetNumberWide(path, static_cast<double>(choice) / 7.0); break;
        case 3: document.SetInt64(narrow, -static_cast<std::int64_t>(choice) << 40); break;
        case 4: document.SetIntWide(path, static_cast<std::int32_t>(choice)); break;
        case 5: document.SetTextWide(path, tail_.substr(step, 5)); break;
        case 6: document.SetObjectWide(path); break;
        case 7: document.SetArray(narrow); break;
        case 8: document.ClearValueWide(path); break;
        case 9: document.RemoveMemberWide(path, u"a"); break;
        case 10: document.RemoveAtWide(path, index); break;
        case 11: document.SetMemberDocumentWide(path, u"k", source); break;
        case 12: document.InsertMemberDocumentWide(path, index, u"i", source); break;
        case 13: document.AppendDocumentWide(path, source); break;
        case 14: document.InsertDocumentWide(path, index, source); break;
        case 15: document.SetItemDocumentWide(path, index, source); break;
        case 16: document.MergeDocument(narrow, source); break;
        case 17: document.AppendAll(narrow, source); break;
        case 18: document.MergeTextWide(path, tail_.substr(step), (choice & 32) != 0, (choice & 64) != 0); break;
        case 19: other = document.CloneWide(path); break;
        case 20: document.SortByKeyWide(path, (choice & 32) != 0); break;
        case 21:
          document.SortWide(path, [](const velmora::json::JsonNode& a, const velmora::json::JsonNode& b, std::int32_t) {
            return static_cast<std::int32_t>(a.Literal().size()) - static_cast<std::int32_t>(b.Literal().size());
          }, 0, (choice & 32) != 0);
          break;
        case 22: {
          JsonDocument part = document.GetItemWide(path, index);
          part.Detach();
          other = part;
          break;
        }
        case 23: observed = static_cast<std::int64_t>(document.ToJsonWide(path, (choice & 32) != 0, (choice & 64) != 0, index * 7).size()); break;
        case 24: observed = static_cast<std::int64_t>(document.ToJson(narrow, (choice & 32) != 0).size()); break;
        default: document.GetOrCreateWide(path); break;
      }
    }
  }

 private:
  const std::u16string& tail_;
  const std::vector<std::u16string>& paths_;
};

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
  if (code == velmora::json::ParseError::None) CheckRoundTrip(document);
  JsonDocument shared = document.Copy();
  const std::vector<std::u16string> paths = PathsOf(tail);
  for (const std::u16string& path : paths) {
    std::uint64_t sink = Query(document, path);
    if (SmallIndexes(path)) {
      JsonDocument created = shared.GetOrCreateWide(path);
      sink += Query(created, u"");
    }
    observed = static_cast<std::int64_t>(sink);
  }
  observed = static_cast<std::int64_t>(Walk(document));
  Editor(tail, paths).Run(document);
  observed = static_cast<std::int64_t>(Walk(document) + document.ToJson().size());
  // A second parse into the same, shared root must release the first tree.
  document.ParseWide(tail, decode);
  observed = static_cast<std::int64_t>(Walk(shared));
  return 0;
}
