// Planning a delta fetch: a client holding an old file (or another file with the same content)
// builds the new file from its own chunks and the planned ranges of the pack, byte for byte,
// fetching only near what changed, in few requests; a file it holds nothing of comes as the whole
// pack in one request.
#include "delta/fetch_plan.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "delta/chunk_compression.h"
#include "delta/index_writer.h"

namespace velmora::delta {
namespace {

// Bytes with structure, like a program's data: words, numbers and some noise.
std::string DataLike(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string data;
  while (data.size() < size) {
    data += "record " + std::to_string(generator() % 100000) + (generator() % 3 ? " alpha\n" : " beta gamma\n");
    if (generator() % 7 == 0) data += static_cast<char>(generator());
  }
  data.resize(size);
  return data;
}

struct Published {
  std::string file;
  std::string index;
  std::string pack;
  IndexHead head;
};

Published Publish(std::string file) {
  Published published{std::move(file), {}, {}, {}};
  const auto index = WriteIndex(published.file, published.pack);
  published.index = index->bytes;
  published.head = *DecodeHead(std::string_view(published.index).substr(0, index->headLength));
  return published;
}

// A client's run: cut the local files, plan, fetch (from the published bytes) and put the file
// together, checking each fetched chunk. Counts what it fetched.
struct ClientRun {
  std::string built;
  std::uint64_t indexBytes = 0;
  std::uint64_t packBytes = 0;
  std::size_t requests = 0;
};

ClientRun RunClient(const Published& published, const std::vector<std::string>& localFiles) {
  LocalCatalogue catalogue;
  for (std::uint32_t source = 0; source < localFiles.size(); ++source) {
    LocalFileChunks cut(source);
    cut.Feed(localFiles[source]);
    cut.Finish();
    catalogue.Add(std::move(cut));
  }
  catalogue.Seal();
  ClientRun run;
  run.indexBytes = published.head.headLength;
  run.requests = 1;
  const RecordsPlan recordsPlan = PlanRecords(published.head, catalogue);
  if (catalogue.ChunkCount() == 0) {
    run.indexBytes = published.index.size();  // the whole index at once
  } else {
    const auto recordRequests = ChooseRecordRequests(recordsPlan, published.head);
    run.indexBytes += RequestedBytes(recordRequests);
    run.requests += recordRequests.size();
  }
  const RecordBytes records = [&published](const IndexedGroup& group) -> std::optional<std::string_view> {
    return std::string_view(published.index).substr(group.recordOffset, group.recordLength);
  };
  const auto plan = PlanPack(published.head, records, catalogue);
  if (!plan) return run;
  const auto packRequests = ChoosePackRequests(plan->packRanges, published.head.packLength);
  run.packBytes = RequestedBytes(packRequests);
  run.requests += packRequests.size();
  // Only the requested bytes of the pack are there to read.
  std::string fetched(published.pack.size(), '\0');
  for (const auto& request : packRequests) {
    for (const ByteRange& range : request) fetched.replace(range.first, range.length, published.pack, range.first, range.length);
  }
  // In order: each fetched chunk inflates with the bytes before it; a repeat is its first place's bytes.
  NewFileWalk walk(published.head, records, catalogue);
  ChunkPlacement chunk;
  while (walk.Next(chunk)) {
    if (chunk.local != nullptr) {
      run.built += localFiles[chunk.local->source].substr(chunk.local->offset, chunk.local->length);
      continue;
    }
    if (chunk.repeat) {
      const auto first = StoredPlace(published.head, records, chunk.packOffset, chunk.packedLength);
      if (!first) return run;
      run.built += run.built.substr(*first, chunk.length);
      continue;
    }
    const auto bytes =
        InflateChunk(std::string_view(fetched).substr(chunk.packOffset, chunk.packedLength), chunk.length, run.built);
    if (!bytes || ChunkIdOf(*bytes) != chunk.id) return run;
    run.built += *bytes;
  }
  return run;
}

TEST(FetchPlan, AnOverwrittenRegionCostsLittleMoreThanItsOwnCompressedBytes) {
  const std::string old = DataLike(4 << 20, 1);
  std::string changed = old;
  const std::string region = DataLike(64 * 1024, 2);
  changed.replace(2 << 20, region.size(), region);
  const Published published = Publish(changed);
  const ClientRun run = RunClient(published, {old});
  ASSERT_TRUE(run.built == changed);
  EXPECT_LT(run.packBytes, region.size()) << "compressed, and only near the change";
  EXPECT_LT(run.indexBytes, published.index.size() / 4) << "the head and a few records";
  EXPECT_LE(run.requests, 3u);
}

TEST(FetchPlan, AnInsertionOrADeletionMovesOnlyTheChunksAroundIt) {
  const std::string old = DataLike(3 << 20, 3);
  for (const bool insert : {true, false}) {
    std::string changed = old;
    if (insert) {
      changed.insert(1000, DataLike(1000, 4));
    } else {
      changed.erase(500000, 3000);
    }
    const Published published = Publish(changed);
    const ClientRun run = RunClient(published, {old});
    ASSERT_TRUE(run.built == changed) << insert;
    EXPECT_LT(run.packBytes, 64u * 1024) << insert;
  }
}

TEST(FetchPlan, ChunksComeFromAnyLocalFileSoARenamedFileCostsNoPackBytes) {
  const std::string moved = DataLike(1 << 20, 5);
  const Published published = Publish(moved);
  const ClientRun run = RunClient(published, {DataLike(300000, 6), moved});
  ASSERT_TRUE(run.built == moved);
  EXPECT_EQ(run.packBytes, 0u);
  EXPECT_EQ(run.indexBytes, published.head.headLength) << "every group is held: no record is needed";
  EXPECT_EQ(run.requests, 1u);
}

TEST(FetchPlan, AFileHeldNowhereComesAsTheWholePackInOneRequest) {
  const Published published = Publish(DataLike(2 << 20, 7));
  const ClientRun run = RunClient(published, {});
  ASSERT_TRUE(run.built == published.file);
  EXPECT_EQ(run.packBytes, published.pack.size());
  EXPECT_EQ(run.requests, 2u) << "the whole index, the whole pack";
  const auto estimate = EstimateFetch(published.index, published.head.headLength, LocalCatalogue());
  ASSERT_TRUE(estimate);
  EXPECT_EQ(estimate->requests, 2u);
  EXPECT_EQ(estimate->indexBytes + estimate->packBytes, published.index.size() + published.pack.size());
}

TEST(FetchPlan, ScatteredChangesStayWithinTheRequestBudget) {
  const std::string old = DataLike(24 << 20, 8);
  std::string changed = old;
  std::mt19937 generator(9);
  for (int i = 0; i < 1000; ++i) {
    const std::size_t at = generator() % (changed.size() - 5000);
    changed.replace(at, 500, DataLike(500, static_cast<std::uint32_t>(generator())));
  }
  const Published published = Publish(changed);
  const ClientRun run = RunClient(published, {old});
  ASSERT_TRUE(run.built == changed);
  EXPECT_LE(run.requests, 1 + kMaxRecordRequests + kMaxPackRequests);
  EXPECT_LT(run.packBytes, published.pack.size() * 3 / 4);

  const auto estimate = EstimateFetch(published.index, published.head.headLength, [&] {
    LocalCatalogue catalogue;
    LocalFileChunks cut(0);
    cut.Feed(old);
    cut.Finish();
    catalogue.Add(std::move(cut));
    catalogue.Seal();
    return catalogue;
  }());
  ASSERT_TRUE(estimate);
  EXPECT_EQ(estimate->packBytes, run.packBytes) << "the publisher's estimate is the client's plan";
  EXPECT_EQ(estimate->indexBytes, run.indexBytes);
  EXPECT_EQ(estimate->requests, run.requests);
}

}  // namespace
}  // namespace velmora::delta
