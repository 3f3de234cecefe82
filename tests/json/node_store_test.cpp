#include "json/node_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory_resource>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "json/json_document.h"
#include "json/member_table.h"
#include "json_test_support.h"

namespace velmora::json {
namespace {

using testing::Dump;

// Counts what the heaps take from the process default resource while a test runs.
class CountingResource : public std::pmr::memory_resource {
 public:
  CountingResource() : previous_(std::pmr::set_default_resource(this)) {}
  ~CountingResource() override { std::pmr::set_default_resource(previous_); }
  std::int64_t Outstanding() const { return outstanding_; }
  std::int64_t Allocations() const { return allocations_; }

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    ++outstanding_;
    ++allocations_;
    return std::pmr::new_delete_resource()->allocate(bytes, alignment);
  }
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override {
    --outstanding_;
    std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

  std::pmr::memory_resource* previous_;
  std::atomic<std::int64_t> outstanding_{0};
  std::atomic<std::int64_t> allocations_{0};
};

std::u16string KeyNumber(int i) { return u"key" + std::u16string(1, static_cast<char16_t>(u'A' + i)); }

TEST(NodeStore, KeyHashAndBucket) {
  EXPECT_EQ(HashKey(u"a"), 97u);
  EXPECT_EQ(HashKey(u"a") % 11, 9u);
  // Bytes last to first: "ab" is 61 00 62 00, read 00 62 00 61.
  EXPECT_EQ(HashKey(u"ab"), ((0u * 31 + 0x62) * 31 + 0) * 31 + 0x61);
  EXPECT_EQ(HashKey(u""), 0u);
}

TEST(NodeStore, TableGrowsAtTheNinthKeyAndKeepsMemberOrder) {
  Node* object = NewNode(nullptr, JsonKind::Object);
  ASSERT_NE(object, nullptr);
  MemberTable* table = object->value_.object;
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(PutMember(object, KeyNumber(i), NewInteger(object, i)));
  EXPECT_EQ(table->bucketCount, 11);
  EXPECT_EQ(table->threshold, 8);
  ASSERT_TRUE(PutMember(object, KeyNumber(8), NewInteger(object, 8)));
  EXPECT_EQ(table->bucketCount, 23);
  EXPECT_EQ(table->threshold, 17);
  for (int i = 9; i < 40; ++i) ASSERT_TRUE(PutMember(object, KeyNumber(i), NewInteger(object, i)));
  EXPECT_EQ(table->bucketCount, 95);
  EXPECT_EQ(table->threshold, 71);
  ASSERT_EQ(ChildCount(object), 40);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(ChildAt(object, i)->Key(), KeyNumber(i));
    const Node* found = FindMember(object, KeyNumber(i));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->IntegerValue(), i);
    EXPECT_EQ(found->Parent(), object);
  }
  object->Release();
}

TEST(NodeStore, ParsedObjectsKeepOrderAndRepeatedKeysAtAnySize) {
  // Objects below and above the size at which the parser indexes keys while closing them; the
  // chains are built on the first lookup with the bucket count growth would have reached.
  for (const int size : {3, 8, 9, 40}) {
    std::string text = "{";
    for (int i = 0; i < size; ++i) text += testing::Joined("\"k", i, "\":", i, ",");
    text += testing::Joined("\"k1\":\"again\",\"k", size - 1, "\":[true]}");
    JsonDocument document;
    ASSERT_TRUE(document.Parse(text)) << text;
    Node* root = AsNode(document.GetRoot());
    ASSERT_EQ(ChildCount(root), size) << text;
    EXPECT_EQ(document.GetText("k1"), "again");
    EXPECT_EQ(document.ToJson(testing::Joined("k", size - 1)), "[true]");
    for (int i = 0; i < size; ++i) {
      const std::string key = testing::Joined("k", i);
      EXPECT_EQ(ChildAt(root, i)->Key(), std::u16string(key.begin(), key.end()));
      EXPECT_EQ(ChildAt(root, i)->Parent(), root);
    }
    EXPECT_EQ(root->value_.object->bucketCount, BucketCountFor(size));
    ASSERT_TRUE(PutMember(root, u"new", NewInteger(root, 1)));  // an edit after the parse
    EXPECT_EQ(document.GetInt("new"), 1);
    EXPECT_EQ(document.GetInt("k0"), 0);
    EXPECT_TRUE(document.RemoveMember("", "k0"));
    EXPECT_FALSE(document.Exists("k0"));
    EXPECT_EQ(ChildCount(root), size);
  }
  EXPECT_EQ(BucketCountFor(8), 11);
  EXPECT_EQ(BucketCountFor(9), 23);
  EXPECT_EQ(BucketCountFor(40), 95);
}

TEST(NodeStore, MembersStayFoundThroughRandomPutsAndRemovals) {
  // Many keys sharing few buckets: every lookup after puts, replacements and removals (which
  // move later members of a probe run back) must find exactly the members the model holds.
  std::mt19937 random(936);
  Node* object = NewNode(nullptr, JsonKind::Object);
  ASSERT_NE(object, nullptr);
  std::map<std::u16string, std::int64_t> model;
  std::vector<std::u16string> order;
  for (int step = 0; step < 4000; ++step) {
    const std::u16string key = KeyNumber(static_cast<int>(random() % 40));
    if (random() % 3 != 0) {
      const auto value = static_cast<std::int64_t>(step);
      ASSERT_TRUE(PutMember(object, key, NewInteger(object, value)));
      if (model.count(key) == 0) order.push_back(key);
      model[key] = value;
    } else {
      Node* member = FindMember(object, key);
      ASSERT_EQ(member != nullptr, model.count(key) == 1);
      if (member == nullptr) continue;
      ASSERT_TRUE(RemoveChild(member));
      model.erase(key);
      order.erase(std::find(order.begin(), order.end(), key));
    }
    for (int k = 0; k < 40; ++k) {
      const Node* found = FindMember(object, KeyNumber(k));
      const auto expected = model.find(KeyNumber(k));
      ASSERT_EQ(found != nullptr, expected != model.end()) << step;
      if (found != nullptr) {
        ASSERT_EQ(found->IntegerValue(), expected->second);
      }
    }
  }
  ASSERT_EQ(ChildCount(object), static_cast<std::int32_t>(order.size()));
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(ChildAt(object, static_cast<std::int32_t>(i))->Key(), order[i]);
  object->Release();
}

TEST(NodeStore, ParsedArraysGrowByTheRuleOfEdits) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse("{\"a\":[1,2],\"b\":[],\"c\":[1,2,3,4,5,6,7,8,9]}"));
  for (const char* path : {"a", "b", "c"}) {
    Node* array = AsNode(document.GetMember("", path).GetRoot());
    const NodeList* list = array->value_.array;
    EXPECT_EQ(list->capacity, list->count) << path;  // exactly its elements
    const std::int32_t before = list->count;
    ASSERT_TRUE(AppendChild(array, NewInteger(array, 99)));
    EXPECT_EQ(list->capacity, before < 8 ? 8 : 17) << path;
    EXPECT_EQ(ChildAt(array, before)->IntegerValue(), 99);
    ASSERT_TRUE(InsertChild(array, 0, NewInteger(array, -1)));
    EXPECT_EQ(ChildCount(array), before + 2);
  }
  EXPECT_EQ(document.ToJson(), R"({"a":[-1,1,2,99],"b":[-1,99],"c":[-1,1,2,3,4,5,6,7,8,9,99]})");
}

TEST(NodeStore, PuttingAnExistingKeyReplacesInPlace) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(R"({"a":1,"b":{"x":1},"c":3})"));
  JsonDocument held = document.GetMember("", "b");
  Node* root = AsNode(document.GetRoot());
  ASSERT_TRUE(PutMember(root, u"b", NewString(root, u"new")));
  EXPECT_EQ(Dump(document), R"({"a":1,"b":"new","c":3})");
  EXPECT_EQ(ChildCount(root), 3);
  // The old value lives on in the document that holds it, without key or parent.
  EXPECT_EQ(Dump(held), R"({"x":1})");
  EXPECT_TRUE(held.GetRoot()->Key().empty());
  EXPECT_EQ(held.GetRoot()->Parent(), nullptr);
  // Storing a member again under its own key changes nothing.
  Node* c = FindMember(root, u"c");
  c->AddRef();
  ASSERT_TRUE(PutMember(root, u"c", c));
  EXPECT_EQ(c->refCount_.load(), 1);
  EXPECT_EQ(c->Key(), u"c");
}

TEST(NodeStore, RemovingANodeThatIsNotThereChangesNothing) {
  Node* array = NewNode(nullptr, JsonKind::Array);
  Node* object = NewNode(array, JsonKind::Object);
  Node* stranger = NewNode(array, JsonKind::Null);
  ASSERT_TRUE(AppendChild(array, NewInteger(array, 1)));
  ASSERT_TRUE(PutMember(object, u"k", NewInteger(object, 2)));
  EXPECT_FALSE(ListRemove(array->value_.array, stranger));
  EXPECT_FALSE(TableRemove(object->heap_, object->value_.object, stranger));
  EXPECT_EQ(ChildCount(array), 1);
  EXPECT_EQ(ChildCount(object), 1);
  Detach(stranger);  // no parent: nothing to do
  stranger->Release();
  object->Release();
  array->Release();
}

TEST(NodeStore, DetachTakesAMemberOutOfChainAndOrder) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(R"({"a":1,"b":2,"c":3})"));
  Node* root = AsNode(document.GetRoot());
  Node* b = FindMember(root, u"b");
  Detach(b);
  EXPECT_EQ(Dump(document), R"({"a":1,"c":3})");
  EXPECT_EQ(FindMember(root, u"b"), nullptr);
  EXPECT_EQ(b->Parent(), nullptr);
  EXPECT_TRUE(b->Key().empty());
  b->Release();  // the container's reference passed to us
}

TEST(NodeStore, EmptyInPlaceKeepsKindAndContainers) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(R"({"o":{"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"i":9},"r":1.25,"s":"x"})"));
  Node* root = AsNode(document.GetRoot());
  Node* o = FindMember(root, u"o");
  EmptyInPlace(o);
  EXPECT_EQ(o->Kind(), JsonKind::Object);
  EXPECT_EQ(ChildCount(o), 0);
  EXPECT_EQ(o->value_.object->bucketCount, 23);
  ASSERT_TRUE(PutMember(o, u"z", NewNode(o, JsonKind::Null)));
  EXPECT_EQ(Dump(o), R"({"z":null})");

  Node* r = FindMember(root, u"r");
  EmptyInPlace(r);
  EXPECT_EQ(r->Kind(), JsonKind::Real);
  EXPECT_EQ(r->RealValue(), 0.0);
  EXPECT_TRUE(r->Literal().empty());
  Node* s = FindMember(root, u"s");
  EmptyInPlace(s);
  EXPECT_EQ(s->Kind(), JsonKind::String);
  EXPECT_TRUE(s->String().empty());
}

TEST(NodeStore, SettersChangeKindAndTextForm) {
  Node* node = NewNode(nullptr, JsonKind::Object);
  ASSERT_TRUE(PutMember(node, u"x", NewNode(node, JsonKind::Array)));
  ASSERT_TRUE(SetReal(node, 0.1));
  EXPECT_EQ(node->Kind(), JsonKind::Real);
  EXPECT_EQ(node->Literal(), u"0.1");
  ASSERT_TRUE(SetInteger(node, -5));
  EXPECT_EQ(node->Literal(), u"-5");
  ASSERT_TRUE(SetBool(node, true));
  EXPECT_EQ(node->Literal(), u"true");
  ASSERT_TRUE(SetString(node, u"text"));
  EXPECT_EQ(node->String(), u"text");
  EXPECT_TRUE(node->Literal().empty());
  ASSERT_TRUE(SetNull(node));
  EXPECT_EQ(node->Literal(), u"null");
  ASSERT_TRUE(MakeArray(node));
  ASSERT_TRUE(AppendChild(node, NewInteger(node, 1)));
  ASSERT_TRUE(MakeArray(node));  // already an array: content kept
  EXPECT_EQ(ChildCount(node), 1);
  node->Release();
}

TEST(NodeStore, SharedRootOutlivesOneHolderAndGoesWithTheLast) {
  CountingResource counting;
  {
    JsonDocument first;
    ASSERT_TRUE(first.Parse(R"({"a":[1,2,{"b":"c"}]})"));
    JsonDocument second = first.Copy();
    JsonDocument member = first.GetMember("a", "");  // not an object: empty
    EXPECT_EQ(member.GetRoot(), nullptr);
    JsonDocument item = first.GetItem("a", 2);
    first.Destroy();
    EXPECT_EQ(first.GetRoot(), nullptr);
    EXPECT_EQ(Dump(second), R"({"a":[1,2,{"b":"c"}]})");
    second.SetRoot(second.GetRoot());  // its own root again: still held
    EXPECT_EQ(AsNode(second.GetRoot())->refCount_.load(), 1);
    second.Clear();
    // The item still holds its sub-tree; the rest is gone.
    EXPECT_EQ(Dump(item), R"({"b":"c"})");
    EXPECT_GT(counting.Outstanding(), 0);
  }
  EXPECT_EQ(counting.Outstanding(), 0);
  EXPECT_GT(counting.Allocations(), 0);
}

TEST(NodeStore, ATreeLivesInOneHeap) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(R"({"a":[1,{"b":null}],"c":"d"})"));
  JsonDocument built = document.GetOrCreate("x.y[3]");
  ASSERT_NE(built.GetRoot(), nullptr);
  NodeHeap* heap = AsNode(document.GetRoot())->heap_;
  std::vector<JsonNode*> pending = {document.GetRoot()};
  int visited = 0;
  while (!pending.empty()) {
    Node* node = AsNode(pending.back());
    pending.pop_back();
    ++visited;
    EXPECT_EQ(node->heap_, heap);
    if (const NodeList* list = node->Children(); list != nullptr) {
      for (int i = 0; i < list->count; ++i) pending.push_back(list->items[i]);
    }
  }
  EXPECT_EQ(visited, 12);
  // A new document without an owner starts a heap of its own.
  JsonDocument lone = JsonDocument().NewObject();
  EXPECT_NE(AsNode(lone.GetRoot())->heap_, heap);
  EXPECT_EQ(AsNode(document.NewArray().GetRoot())->heap_, heap);
}

TEST(NodeStore, DocumentsSharingNodesMayBeReleasedOnDifferentThreads) {
  CountingResource counting;
  for (int round = 0; round < 50; ++round) {
    JsonDocument document;
    ASSERT_TRUE(document.Parse(R"({"a":[1,2,3],"b":{"c":[4,5]},"d":"e"})"));
    std::vector<JsonDocument> parts;
    document.GetChildren("", parts);
    std::thread other([held = std::move(parts)]() mutable {
      for (JsonDocument& part : held) part.Destroy();
    });
    document.Destroy();
    other.join();
  }
  EXPECT_EQ(counting.Outstanding(), 0);
}

TEST(NodeStore, HeapRecyclesBlocksAndDiesWithItsLastBlock) {
  CountingResource counting;
  NodeHeap* heap = NodeHeap::Create();
  ASSERT_NE(heap, nullptr);
  void* a = heap->Allocate(40);
  heap->Deallocate(a, 40);
  EXPECT_EQ(heap->Allocate(40), a);  // from the free list of its size
  void* big = heap->Allocate(10000);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(heap->LiveBlocks(), 3);  // two blocks and the creator's pin
  heap->Deallocate(big, 10000);
  heap->Deallocate(a, 40);
  EXPECT_GT(counting.Outstanding(), 0);
  heap->Unpin();
  EXPECT_EQ(counting.Outstanding(), 0);
}

}  // namespace
}  // namespace velmora::json
