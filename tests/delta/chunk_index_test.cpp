// The chunk index and the pack: what the writer produces decodes back to the file, chunk by chunk,
// whatever pieces the file is fed in; repeats are stored once; and an index changed in any byte,
// cut short or lengthened is refused (by its head or by a record), never read past its end.
#include "delta/chunk_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "delta/chunk_compression.h"
#include "delta/index_writer.h"
#include "delta/varint.h"

namespace velmora::delta {
namespace {

// Text-like bytes that deflate compresses, with a block repeated twice so that the file holds
// repeated chunks.
std::string FileWithRepeats(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  static const char* const kWords[] = {"velmora ", "update ", "chunk ", "index ", "pack ", "range ", "\n"};
  std::string data;
  while (data.size() < size) data += kWords[generator() % 7];
  data.resize(size);
  const std::string block = data.substr(size / 10, 200 * 1024);
  data.replace(size / 2, block.size(), block);
  return data;
}

struct Decoded {
  IndexHead head;
  std::vector<std::vector<IndexedChunk>> records;
};

std::optional<Decoded> DecodeAll(const WrittenIndex& index) {
  const std::string_view bytes = index.bytes;
  auto head = DecodeHead(bytes.substr(0, index.headLength));
  if (!head || head->indexLength != bytes.size()) return std::nullopt;
  Decoded decoded{*head, {}};
  for (const IndexedGroup& group : head->groups) {
    auto record = DecodeRecord(bytes.substr(group.recordOffset, group.recordLength), *head, group);
    if (!record) return std::nullopt;
    decoded.records.push_back(*record);
  }
  return decoded;
}

constexpr char kNoIdentity[] = "a chunk does not inflate to its identity";

// The file the index and the pack describe, chunk by chunk in order, each chunk checked by its
// identity: a stored chunk inflated (in version 2 with the file's bytes before it), a repeat the
// bytes stored at its place of the pack.
std::string Rebuild(const Decoded& decoded, const std::string& pack) {
  std::string file;
  std::map<std::uint64_t, std::string> stored;
  for (const auto& record : decoded.records) {
    for (const IndexedChunk& chunk : record) {
      std::optional<std::string> bytes;
      if (chunk.repeat) {
        if (stored.count(chunk.packOffset) != 0) bytes = stored[chunk.packOffset];
      } else {
        bytes = InflateChunk(std::string_view(pack).substr(chunk.packOffset, chunk.packedLength), chunk.length,
                             decoded.head.UsesDictionary() ? std::string_view(file) : std::string_view());
        if (bytes) stored[chunk.packOffset] = *bytes;
      }
      if (!bytes || ChunkIdOf(*bytes) != chunk.id) return kNoIdentity;
      file += *bytes;
    }
  }
  return file;
}

TEST(ChunkIndex, WrittenIndexAndPackGiveTheFileBackAndStoreRepeatsOnce) {
  const std::string data = FileWithRepeats(3 << 20, 7);
  std::string pack;
  const auto index = WriteIndex(data, pack);
  ASSERT_TRUE(index);
  const auto decoded = DecodeAll(*index);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->head.fileLength, data.size());
  EXPECT_EQ(decoded->head.packLength, pack.size());
  EXPECT_GT(decoded->head.groups.size(), 3u);
  EXPECT_TRUE(Rebuild(*decoded, pack) == data);
  EXPECT_LT(index->distinctChunkCount, index->chunkCount) << "the repeated block's chunks are stored once";
  EXPECT_LT(pack.size(), data.size() / 2) << "chunks are deflated";
  EXPECT_LT(index->bytes.size(), data.size() / 200) << "the index is small beside the file";
  EXPECT_LT(index->headLength * 10, index->bytes.size()) << "the head is small beside the records";
  EXPECT_EQ(HeadLengthOf(index->bytes), index->headLength);
  EXPECT_FALSE(HeadLengthOf(std::string_view(index->bytes).substr(0, index->headLength - 1)));

  // Fed in uneven pieces, the same index and pack.
  std::string piecewisePack;
  IndexWriter writer([&piecewisePack](std::string_view bytes) {
    piecewisePack.append(bytes);
    return true;
  });
  std::mt19937 generator(3);
  for (std::size_t offset = 0; offset < data.size();) {
    const std::size_t piece = std::min<std::size_t>(generator() % 70000, data.size() - offset);
    writer.Feed(std::string_view(data).substr(offset, piece));
    offset += piece;
  }
  const auto piecewise = writer.Finish();
  ASSERT_TRUE(piecewise);
  EXPECT_EQ(piecewise->bytes, index->bytes);
  EXPECT_TRUE(piecewisePack == pack);

  // What earlier publishers wrote (each chunk deflated alone) is still read; a version this code
  // does not know is refused, head and all, so that a client fetches the file whole.
  EXPECT_EQ(decoded->head.version, kIndexVersionDictionary);
  std::string packAlone;
  const auto alone = WriteIndex(data, packAlone, DefaultChunkingRule(), DefaultGroupingRule(), kIndexVersionAlone);
  const auto decodedAlone = DecodeAll(*alone);
  ASSERT_TRUE(decodedAlone);
  EXPECT_EQ(decodedAlone->head.version, kIndexVersionAlone);
  EXPECT_TRUE(Rebuild(*decodedAlone, packAlone) == data);
  EXPECT_LT(pack.size() * 100, packAlone.size() * 98) << "chunks deflated with the bytes before them are smaller";
  for (const char unknown : {'\0', '\3', '\xFF'}) {
    std::string later = index->bytes;
    later[4] = unknown;
    EXPECT_FALSE(HeadLengthOf(later));
    EXPECT_FALSE(DecodeHead(std::string_view(later).substr(0, index->headLength)));
  }
}

TEST(ChunkIndex, EmptyAndTinyFilesHaveIndexesToo) {
  for (const std::string& data : {std::string(), std::string("x"), std::string(5000, 'a')}) {
    std::string pack;
    const auto index = WriteIndex(data, pack);
    ASSERT_TRUE(index);
    const auto decoded = DecodeAll(*index);
    ASSERT_TRUE(decoded) << data.size();
    EXPECT_TRUE(Rebuild(*decoded, pack) == data);
  }
}

TEST(ChunkIndex, ASinkThatRefusesEndsTheWriterWithNothing) {
  int calls = 0;
  IndexWriter writer([&calls](std::string_view) { return ++calls < 3; });
  const std::string data = FileWithRepeats(1 << 20, 2);
  EXPECT_FALSE(writer.Feed(data));
  EXPECT_FALSE(writer.Finish());
}

TEST(ChunkIndex, AnyChangedByteOrWrongLengthIsRefused) {
  const std::string data = FileWithRepeats(1536 * 1024, 11);
  std::string pack;
  const auto index = WriteIndex(data, pack);
  ASSERT_TRUE(index);
  ASSERT_TRUE(DecodeAll(*index));
  // Every byte of the head and of the first records, then a sample of the rest.
  for (std::size_t i = 0; i < index->bytes.size(); i += i < 2000 ? 1 : 97) {
    for (const int flip : {0x01, 0x80, 0xFF}) {
      WrittenIndex damaged = *index;
      damaged.bytes[i] = static_cast<char>(damaged.bytes[i] ^ flip);
      const auto decoded = DecodeAll(damaged);
      // A change that still decodes (a repeat's place in the pack is covered by no identity) can
      // only make a chunk fail its identity: it never gives other bytes.
      if (decoded) {
        const std::string rebuilt = Rebuild(*decoded, pack);
        EXPECT_TRUE(rebuilt == data || rebuilt == kNoIdentity) << "byte " << i << " ^ " << flip;
      }
    }
  }
  for (const std::size_t cut : {std::size_t{1}, std::size_t{5}, index->headLength - 1}) {
    EXPECT_FALSE(DecodeHead(std::string_view(index->bytes).substr(0, cut))) << cut;
  }
  EXPECT_FALSE(DecodeHead(index->bytes.substr(0, index->headLength) + "x"));
  const auto head = DecodeHead(std::string_view(index->bytes).substr(0, index->headLength));
  ASSERT_TRUE(head);
  ASSERT_GE(head->groups.size(), 2u);
  const IndexedGroup& group = head->groups[0];
  const std::string record = index->bytes.substr(group.recordOffset, group.recordLength);
  EXPECT_FALSE(DecodeRecord(record.substr(0, record.size() - 1), *head, group));
  EXPECT_FALSE(DecodeRecord(record + '\0', *head, group));
  EXPECT_FALSE(DecodeRecord(index->bytes.substr(head->groups[1].recordOffset, head->groups[1].recordLength), *head,
                            group))
      << "another group's record";
}

TEST(ChunkIndex, VarintsRoundTripAndRefuseOverflowAndTruncation) {
  for (const std::uint64_t value : {0ull, 1ull, 127ull, 128ull, 16383ull, 16384ull, ~0ull}) {
    std::string bytes;
    AppendVarint(bytes, value);
    std::size_t position = 0;
    std::uint64_t read = 1;
    ASSERT_TRUE(ReadVarint(bytes, position, read)) << value;
    EXPECT_EQ(read, value);
    EXPECT_EQ(position, bytes.size());
    position = 0;
    EXPECT_FALSE(ReadVarint(std::string_view(bytes).substr(0, bytes.size() - 1), position, read)) << value;
    EXPECT_EQ(position, 0u);
  }
  std::size_t position = 0;
  std::uint64_t read = 0;
  EXPECT_FALSE(ReadVarint(std::string(9, '\xFF') + '\x02', position, read)) << "a 65th bit";
  EXPECT_FALSE(ReadVarint(std::string(11, '\x80'), position, read));
}

TEST(ChunkCompression, OnlyAWholeStreamOfTheExactLengthInflates) {
  const std::string chunk = FileWithRepeats(20000, 5);
  const std::string packed = DeflateChunk(chunk);
  ASSERT_FALSE(packed.empty());
  EXPECT_EQ(InflateChunk(packed, static_cast<std::uint32_t>(chunk.size())), chunk);
  EXPECT_FALSE(InflateChunk(packed, static_cast<std::uint32_t>(chunk.size() - 1)));
  EXPECT_FALSE(InflateChunk(packed, static_cast<std::uint32_t>(chunk.size() + 1)));
  EXPECT_FALSE(InflateChunk(packed.substr(0, packed.size() - 1), static_cast<std::uint32_t>(chunk.size())));
  EXPECT_FALSE(InflateChunk(packed + "x", static_cast<std::uint32_t>(chunk.size())));
  EXPECT_FALSE(InflateChunk(std::string(50, '\xFF'), 100));
  EXPECT_EQ(InflateChunk(DeflateChunk(""), 0), "");

  // With the bytes before it as its dictionary: smaller, and it inflates only with that dictionary.
  const std::string before = FileWithRepeats(50000, 6);
  const std::string withBefore = DeflateChunk(chunk, before);
  ASSERT_FALSE(withBefore.empty());
  EXPECT_LT(withBefore.size(), packed.size());
  EXPECT_EQ(InflateChunk(withBefore, static_cast<std::uint32_t>(chunk.size()), before), chunk);
  EXPECT_EQ(InflateChunk(withBefore, static_cast<std::uint32_t>(chunk.size()), before.substr(before.size() - kDictionaryLength)), chunk)
      << "only the last 32 KiB count";
  EXPECT_NE(InflateChunk(withBefore, static_cast<std::uint32_t>(chunk.size())), chunk);
  EXPECT_NE(InflateChunk(withBefore, static_cast<std::uint32_t>(chunk.size()), FileWithRepeats(50000, 8)), chunk);
}

}  // namespace
}  // namespace velmora::delta
