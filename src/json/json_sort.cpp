// JsonDocument::SortByKey and Sort: reorder an object's member order or an array's elements in
// place (no node is copied; an object's buckets stay as they are).
#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "json/json_document.h"
#include "json/json_path.h"
#include "json/node_store.h"
#include "text/encoding.h"

namespace velmora::json {
namespace {

using Compare = JsonDocument::JsonCompare;

// The items to sort: an object's member order or an array's elements; null for other kinds.
NodeList* SortableItems(JsonNode* root, std::u16string_view path) {
  if (root == nullptr) return nullptr;
  const JsonPath parsed(path);
  Node* node = FindNode(AsNode(root), parsed);
  if (node == nullptr) return nullptr;
  return const_cast<NodeList*>(node->Children());
}

// The caller's comparison; one that throws counts as "equal", so the items stay a permutation.
class Comparison {
 public:
  Comparison(const Compare& compare, std::int32_t userValue) : compare_(compare), userValue_(userValue) {}
  std::int32_t operator()(const JsonNode* first, const JsonNode* second) const noexcept {
    try {
      return compare_(*first, *second, userValue_);
    } catch (...) {
      return 0;
    }
  }

 private:
  const Compare& compare_;
  std::int32_t userValue_;
};

// Quicksort with the median of the first, middle and last item as pivot, which ends at the first
// position. The ranges still to sort wait on an explicit stack instead of in recursion, so a
// badly split list cannot exhaust the thread's stack.
void QuickSort(JsonNode** items, std::int32_t count, const Comparison& compare) {
  std::vector<std::pair<std::int32_t, std::int32_t>> ranges = {{0, count - 1}};
  while (!ranges.empty()) {
    const auto [lo, hi] = ranges.back();
    ranges.pop_back();
    if (lo >= hi) continue;
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (compare(items[lo], items[hi]) > 0) std::swap(items[lo], items[hi]);
    if (compare(items[mid], items[hi]) > 0) std::swap(items[mid], items[hi]);
    if (compare(items[mid], items[lo]) > 0) std::swap(items[mid], items[lo]);
    JsonNode* pivot = items[lo];
    std::int32_t i = lo;
    std::int32_t j = hi;
    while (i < j) {
      while (i < j && compare(items[j], pivot) >= 0) --j;
      if (i < j) items[i++] = items[j];
      while (i < j && compare(items[i], pivot) <= 0) ++i;
      if (i < j) items[j--] = items[i];
    }
    items[i] = pivot;
    ranges.emplace_back(lo, i - 1);
    ranges.emplace_back(i + 1, hi);
  }
}

// Shell sort with the gaps 1, 4, 13, 40, ... starting at the first that is not below the count.
void ShellSort(JsonNode** items, std::int32_t count, const Comparison& compare) {
  std::int64_t gap = 1;
  while (gap < count) gap = gap * 3 + 1;
  for (; gap > 0; gap = (gap - 1) / 3) {
    for (std::int64_t i = gap; i < count; ++i) {
      JsonNode* value = items[i];
      std::int64_t j = i - gap;
      for (; j >= 0 && compare(value, items[j]) < 0; j -= gap) items[j + gap] = items[j];
      items[j + gap] = value;
    }
  }
}

std::int32_t CompareKeys(const JsonNode& first, const JsonNode& second, std::int32_t descending) {
  const int order = descending != 0 ? second.Key().compare(first.Key()) : first.Key().compare(second.Key());
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

bool JsonDocument::SortByKeyWide(const std::u16string& path, bool descending) {
  try {
    if (root_ == nullptr) return false;
    const JsonPath parsed(std::u16string_view(path.c_str()));
    Node* node = FindNode(AsNode(root_), parsed);
    if (node == nullptr || !node->Is(JsonKind::Object)) return false;
    if (NodeList* members = const_cast<NodeList*>(node->Children()); members != nullptr) {
      const Compare byKey = CompareKeys;
      QuickSort(members->items, members->count, Comparison(byKey, descending ? 1 : 0));
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool JsonDocument::SortByKey(const std::string& path, bool descending) {
  try {
    return SortByKeyWide(text::NarrowToWide(path, text::NarrowCodePage), descending);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void JsonDocument::SortWide(const std::u16string& path, const JsonCompare& compare, std::int32_t userValue,
                            bool shellSort) {
  if (!compare) return;
  try {
    NodeList* items = SortableItems(root_, std::u16string_view(path.c_str()));
    if (items == nullptr || items->count < 2) return;
    const Comparison comparison(compare, userValue);
    if (shellSort) {
      ShellSort(items->items, items->count, comparison);
    } else {
      QuickSort(items->items, items->count, comparison);
    }
  } catch (const std::bad_alloc&) {
  }
}

void JsonDocument::Sort(const std::string& path, const JsonCompare& compare, std::int32_t userValue, bool shellSort) {
  try {
    SortWide(text::NarrowToWide(path, text::NarrowCodePage), compare, userValue, shellSort);
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace velmora::json
