// Root records and the walk along them: rotation, added and revoked keys, thresholds, versions
// skipped or repeated, an expired newest root, the size and step caps.
#include <gtest/gtest.h>

#include "platform/signature.h"
#include "update/root_chain.h"
#include "update/signature_set.h"

namespace velmora::update {
namespace {

constexpr std::int64_t kNow = 1799236800;  // 2027-01-06T12:00:00Z
using Keys = std::vector<const platform::EcdsaP256KeyPair*>;

// Keys a..e, and roots of `root` keys (threshold `t`) and one release key.
struct Chain : ::testing::Test {
  platform::EcdsaP256KeyPair k[5] = {*platform::GenerateEcdsaP256KeyPair(), *platform::GenerateEcdsaP256KeyPair(),
                                     *platform::GenerateEcdsaP256KeyPair(), *platform::GenerateEcdsaP256KeyPair(),
                                     *platform::GenerateEcdsaP256KeyPair()};
  std::map<std::int64_t, FetchedRoot> server;
  RootWalk walk;
  std::vector<std::int64_t> stored;

  RootRecord Root(std::int64_t version, const Keys& root, std::size_t t, std::int64_t expires = kNow + 1) {
    RootRecord record;
    record.version = version;
    record.expires = expires;
    for (const auto* key : root) record.keys[KeyIdOf(key->publicKey)] = key->publicKey;
    for (const auto* key : root) record.root.keyIds.push_back(KeyIdOf(key->publicKey));
    record.root.threshold = t;
    record.keys[KeyIdOf(k[4].publicKey)] = k[4].publicKey;
    record.release.keyIds = {KeyIdOf(k[4].publicKey)};
    return record;
  }
  void Publish(const RootRecord& record, const Keys& signers, std::int64_t at = 0) {
    const std::string text = RootRecordText(record);
    std::vector<SignatureLine> lines;
    for (const auto* key : signers) lines.push_back({KeyIdOf(key->publicKey), platform::SignEcdsaP256Sha256(key->privateKey, text)});
    server[at ? at : record.version] = {true, false, text, SignatureFileText(lines), ""};
  }
  std::int64_t Walk(const RootRecord& start, std::int64_t stepLimit = kRootChainStepLimit) {
    stored.clear();
    walk = WalkRootChain(
        start, [&](std::int64_t v) { return server.count(v) ? server[v] : FetchedRoot{}; },
        [&](const RootRecord&, const RootRecord& next, const std::string&) { return stored.push_back(next.version), true; },
        kNow, stepLimit);
    return walk.newest ? walk.newest->version : -1;
  }
};

TEST_F(Chain, RecordsHaveTheirFormAndReadBack) {
  const RootRecord one = Root(1, {&k[0], &k[1]}, 2);
  const std::optional<RootRecord> read = ParseRootRecord(RootRecordText(one));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->keys, one.keys);
  EXPECT_EQ(read->root.keyIds, one.root.keyIds);
  EXPECT_EQ(read->expires, one.expires);
  const std::string text = RootRecordText(one);
  const std::string id = one.root.keyIds[0];
  for (const std::string& bad : {std::string(text).replace(text.find("\"threshold\":2"), 13, "\"threshold\":3"),
                                 std::string(text).replace(text.find("\"threshold\":2"), 13, "\"threshold\":0"),
                                 std::string(text).replace(text.find(id), 1, id[0] == 'a' ? "b" : "a"),
                                 std::string(text).replace(text.find("\"expires\""), 9, "\"expired\""),
                                 "{" + std::string(kRootRecordSizeLimit, ' ') + text.substr(1)}) {
    EXPECT_FALSE(ParseRootRecord(bad)) << bad.substr(0, 200);
  }
}

TEST_F(Chain, RotationAddsAndRevokesKeysUnderBothThresholds) {
  const RootRecord one = Root(1, {&k[0]}, 1);
  Publish(Root(2, {&k[1], &k[2], &k[3]}, 2), {&k[0], &k[1], &k[2]});  // k0 lost: replaced by 2 of 3
  Publish(Root(3, {&k[1], &k[3]}, 2), {&k[1], &k[2], &k[3]});          // k2 revoked
  EXPECT_EQ(Walk(one), 3);
  EXPECT_EQ(stored, (std::vector<std::int64_t>{2, 3}));

  // The revoked key no longer counts, the old root's alone never suffices, nor the new keys alone.
  Publish(Root(4, {&k[1], &k[3]}, 2), {&k[1], &k[2]});
  EXPECT_EQ(Walk(one), -1);
  EXPECT_EQ(walk.why, "root 4: not signed by 2 of root 3's root keys");
  Publish(Root(4, {&k[0]}, 1), {&k[0]});
  EXPECT_EQ(Walk(one), -1);
  Publish(Root(2, {&k[1], &k[2], &k[3]}, 2), {&k[1], &k[2], &k[3]});
  EXPECT_EQ(Walk(one), -1);
  EXPECT_EQ(walk.why, "root 2: not signed by 1 of root 1's root keys");
  EXPECT_TRUE(stored.empty());
}

TEST_F(Chain, OnlyTheNextVersionIsTakenAndTheNewestMustNotHaveExpired) {
  const RootRecord one = Root(1, {&k[0]}, 1);
  Publish(Root(3, {&k[0]}, 1), {&k[0]}, 2);  // skipped
  EXPECT_EQ(Walk(one), -1);
  Publish(Root(1, {&k[0]}, 1), {&k[0]}, 2);  // an old root replayed
  EXPECT_EQ(Walk(one), -1);
  EXPECT_EQ(walk.why, "root 2: the record says version 1");
  Publish(Root(2, {&k[0]}, 1, kNow - 5), {&k[0]});  // an expired root on the way is fine...
  Publish(Root(3, {&k[0]}, 1, kNow), {&k[0]});
  EXPECT_EQ(Walk(one), -1);  // ...the newest is not
  EXPECT_EQ(walk.why, "root 3 expired 2027-01-06T12:00:00Z");
  EXPECT_EQ(stored, (std::vector<std::int64_t>{2, 3}));
  server.clear();
  EXPECT_EQ(Walk(Root(1, {&k[0]}, 1, kNow - 1)), -1);
}

TEST_F(Chain, TheWalkStopsAtTheStepCap) {
  RootRecord current = Root(1, {&k[0]}, 1);
  for (std::int64_t v = 2; v <= 5; ++v) Publish(Root(v, {&k[0]}, 1), {&k[0]});
  EXPECT_EQ(Walk(current, 3), -1);
  EXPECT_EQ(walk.why, "more than 3 new roots");
  EXPECT_EQ(stored.size(), 3u);
  server.erase(5);
  EXPECT_EQ(Walk(current, 3), 4);
}

}  // namespace
}  // namespace velmora::update
