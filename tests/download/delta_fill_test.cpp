// A row's file filled from chunks: the old file's chunks are copied, only the missing ones come
// from the pack in few multi-range requests, each checked as it arrives, and the row shows the
// file's bytes placed with a speed of network bytes. Servers that do not answer ranges as asked
// are asked again with fewer ranges, then one per request; what still fails, and a pack whose
// chunk is not what the index says, ends in the file fetched whole.
#include "download/delta_fill.h"

#include <gtest/gtest.h>

#include <random>

#include "delta/index_writer.h"
#include "download/progress.h"
#include "download/range_server.h"
#include "download/run_doubles.h"
#include "download/staged_download.h"
#include "platform/hash.h"
#include "update/fingerprint.h"
#include "update/staging_files.h"

namespace velmora::download {
namespace {

using testing::RangeServer;

const std::string kFileUrl = "http://127.0.0.1/files/abc/data.pak";
const std::string kIndexUrl = kFileUrl + ".vmdi";
const std::string kPackUrl = kFileUrl + ".vmdp";

std::string DataLike(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string data;
  while (data.size() < size) data += "entry " + std::to_string(generator() % 50000) + (generator() % 2 ? " on\n" : " off\n");
  data.resize(size);
  return data;
}

std::string Sha256Hex(std::string_view bytes) {
  platform::HashComputation sha256(update::kCalgSha256);
  sha256.Add(bytes);
  return update::LowerHexOfDigest(sha256.Finish(update::kSha256DigestLength));
}

class DeltaFillTest : public testing::DownloadRunTest {
 protected:
  void SetUp() override {
    DownloadRunTest::SetUp();
    platform::ReplaceStreamingHttp(&server);
    oldBytes = DataLike(3 << 20, 1);
    newBytes = oldBytes;
    newBytes.replace(1 << 20, 40000, DataLike(40000, 2));  // one region changed
    newBytes.insert(100, "a few new bytes near the start");
  }

  // The release's file: whole, its index and its pack on the server; the row lists it. A
  // `version` past the one this code writes stands for a later publisher's.
  void Publish(std::uint8_t version = delta::kIndexVersion) {
    std::string pack;
    auto index = delta::WriteIndex(newBytes, pack, delta::DefaultChunkingRule(), delta::DefaultGroupingRule(),
                                   std::min(version, delta::kIndexVersion));
    index->bytes[4] = static_cast<char>(version);
    server.resources = {{kFileUrl, newBytes}, {kIndexUrl, index->bytes}, {kPackUrl, pack}};
    ListRow("\\Bin\\data.pak", newBytes, kFileUrl);
    state::UpdateEntry& entry = state::State().updateList.back();
    entry.size = static_cast<std::int64_t>(newBytes.size());
    entry.delta = {kIndexUrl, static_cast<std::int64_t>(index->bytes.size()), Sha256Hex(index->bytes),
                   static_cast<std::int64_t>(index->headLength),
                   Sha256Hex(std::string_view(index->bytes).substr(0, index->headLength)), kPackUrl,
                   static_cast<std::int64_t>(pack.size()), Sha256Hex(pack)};
  }

  // The product holds `bytes` at `path`, cut into the state's local chunks as the update check does.
  void HoldLocally(const std::vector<std::pair<std::string, std::string>>& files) {
    auto sources = std::make_shared<delta::LocalChunkSources>();
    for (const auto& [path, bytes] : files) {
      WriteProductFile(path, bytes);
      delta::LocalFileChunks chunks(static_cast<std::uint32_t>(sources->paths.size()));
      chunks.Feed(bytes);
      chunks.Finish();
      sources->catalogue.Add(std::move(chunks));
      sources->paths.push_back(runDirectory.Narrow() + text::Utf8ToNarrow(path));
    }
    sources->catalogue.Seal();
    state::State().localChunks = sources;
  }

  std::string StagingPath() const {
    const state::UpdateEntry& entry = state::State().updateList[0];
    return update::StagingPathOf(runDirectory.Narrow() + entry.path, entry);
  }

  const char* Run() {
    const state::UpdateEntry& entry = state::State().updateList[0];
    return DownloadAndStage(1, entry, state::State().taskList[0].task, runDirectory.Narrow() + entry.path);
  }

  std::vector<std::string> RequestedUrls() const {
    std::vector<std::string> urls;
    for (const auto& request : server.requests) urls.push_back(request.url + (request.range.empty() ? "" : " ranges"));
    return urls;
  }

  RangeServer server;
  std::string oldBytes;
  std::string newBytes;
};

TEST_F(DeltaFillTest, AChangedFileIsBuiltFromTheOldOneAndAFewCompressedChunks) {
  HoldLocally({{"\\Bin\\data.pak", oldBytes}});
  Publish();
  EXPECT_EQ(Run(), nullptr);
  EXPECT_TRUE(StagedBytes(1) == newBytes);
  EXPECT_EQ(ProductBytes("\\Bin\\data.pak").size(), oldBytes.size()) << "the product's file waits for the commit";
  EXPECT_LT(server.bodyBytes, 60000u) << "the head, a few records and the changed chunks, compressed";
  EXPECT_EQ(RequestedUrls(), (std::vector<std::string>{kIndexUrl + " ranges", kIndexUrl + " ranges", kPackUrl + " ranges"}));
  // The row shows the whole file placed, at a speed of the network's bytes.
  EXPECT_EQ(Texts(1, kSizeColumn).back(), FormatSize(static_cast<double>(newBytes.size())));
  EXPECT_EQ(Texts(1, kDownloadedColumn).back(), FormatSize(static_cast<double>(newBytes.size())));
  EXPECT_EQ(state::State().taskList[0].task.SpeedBytes(), static_cast<std::int64_t>(server.bodyBytes));
}

TEST_F(DeltaFillTest, ChunksOfAnotherLocalFileServeAMovedFile) {
  HoldLocally({{"\\Bin\\other.pak", DataLike(100000, 3)}, {"\\Data\\moved.pak", newBytes}});
  Publish();
  EXPECT_EQ(Run(), nullptr);
  EXPECT_TRUE(StagedBytes(1) == newBytes);
  EXPECT_EQ(RequestedUrls(), (std::vector<std::string>{kIndexUrl + " ranges"})) << "every group is held";
}

TEST_F(DeltaFillTest, AFileHeldNowhereComesAsTheWholeIndexAndTheWholePackWithoutRanges) {
  std::filesystem::create_directories(Product("\\Bin"));  // the scheduler makes a new file's folders
  Publish();
  EXPECT_EQ(Run(), nullptr);
  EXPECT_TRUE(StagedBytes(1) == newBytes);
  EXPECT_EQ(RequestedUrls(), (std::vector<std::string>{kIndexUrl, kPackUrl}));
  EXPECT_LT(server.bodyBytes, newBytes.size() / 2) << "compressed";
}

TEST_F(DeltaFillTest, ServersThatDoNotAnswerManyRangesAreAskedWithFewerThenOneAtATime) {
  // Many small changes, so that the pack's request carries many ranges.
  for (std::size_t at = 50000; at + 100 < newBytes.size(); at += 150000) newBytes.replace(at, 100, DataLike(100, 9));
  for (const RangeServer::Answer answer :
       {RangeServer::Answer::Whole, RangeServer::Answer::Refused416, RangeServer::Answer::Garbled}) {
    SCOPED_TRACE(static_cast<int>(answer));
    state::ResetState();
    server.requests.clear();
    server.manyRanges = answer;
    HoldLocally({{"\\Bin\\data.pak", oldBytes}});
    Publish();
    std::filesystem::remove(velmora::testing::PathFromNarrow(StagingPath()));
    EXPECT_EQ(Run(), nullptr);
    EXPECT_TRUE(StagedBytes(1) == newBytes);
    std::size_t single = 0;
    for (const auto& request : server.requests) {
      single += !request.range.empty() && RangeServer::ParseRanges(request.range).size() == 1;
    }
    EXPECT_GT(single, 10u) << "one range per request in the end";
    EXPECT_NE(server.requests.back().url, kFileUrl) << "not fetched whole";
  }
}

TEST_F(DeltaFillTest, RangesAServerLeftOutAreAskedForOneByOne) {
  for (std::size_t at = 50000; at + 100 < newBytes.size(); at += 150000) newBytes.replace(at, 100, DataLike(100, 9));
  HoldLocally({{"\\Bin\\data.pak", oldBytes}});
  Publish();
  server.manyRanges = RangeServer::Answer::FirstOnly;
  EXPECT_EQ(Run(), nullptr);
  EXPECT_TRUE(StagedBytes(1) == newBytes);
  EXPECT_NE(server.requests.back().url, kFileUrl) << "not fetched whole";
  EXPECT_EQ(RangeServer::ParseRanges(server.requests.back().range).size(), 1u);
}

TEST_F(DeltaFillTest, AServerThatRefusesEveryRangeEndsInTheWholeFile) {
  HoldLocally({{"\\Bin\\data.pak", oldBytes}});
  Publish();
  server.manyRanges = server.oneRange = RangeServer::Answer::Refused416;
  EXPECT_EQ(Run(), nullptr);
  EXPECT_TRUE(StagedBytes(1) == newBytes);
  EXPECT_EQ(server.requests.back().url, kFileUrl);
}

TEST_F(DeltaFillTest, AChunkThatIsNotWhatTheIndexSaysEndsInTheWholeFile) {
  HoldLocally({{"\\Bin\\data.pak", oldBytes}});
  Publish();
  std::string& pack = server.resources[kPackUrl];
  for (std::size_t i = 0; i < pack.size(); i += 997) pack[i] = static_cast<char>(pack[i] ^ 0x20);
  EXPECT_EQ(Run(), nullptr);
  EXPECT_TRUE(StagedBytes(1) == newBytes);
  EXPECT_EQ(server.requests.back().url, kFileUrl);
}

TEST_F(DeltaFillTest, AHeadThatDoesNotMatchTheSignedDigestIsNotUsed) {
  HoldLocally({{"\\Bin\\data.pak", oldBytes}});
  Publish();
  server.resources[kIndexUrl][6] ^= 1;
  EXPECT_EQ(Run(), nullptr);
  EXPECT_TRUE(StagedBytes(1) == newBytes);
  EXPECT_EQ(RequestedUrls(), (std::vector<std::string>{kIndexUrl + " ranges", kFileUrl}));
}

TEST_F(DeltaFillTest, AnEarlierPublishersPackIsReadAndOneOfAnUnknownVersionEndsInTheWholeFile) {
  for (const std::uint8_t version : {delta::kIndexVersionAlone, std::uint8_t{delta::kIndexVersion + 1}}) {
    SCOPED_TRACE(version);
    state::ResetState();
    server.requests.clear();
    HoldLocally({{"\\Bin\\data.pak", oldBytes}});
    Publish(version);
    std::filesystem::remove(velmora::testing::PathFromNarrow(StagingPath()));
    EXPECT_EQ(Run(), nullptr);
    EXPECT_TRUE(StagedBytes(1) == newBytes);
    if (version == delta::kIndexVersionAlone) {
      EXPECT_EQ(RequestedUrls(), (std::vector<std::string>{kIndexUrl + " ranges", kIndexUrl + " ranges", kPackUrl + " ranges"}));
    } else {
      EXPECT_EQ(RequestedUrls(), (std::vector<std::string>{kIndexUrl + " ranges", kFileUrl})) << "only the head is read";
    }
  }
}

TEST_F(DeltaFillTest, AnInterruptedFillKeepsTheChunksAlreadyInPlace) {
  HoldLocally({{"\\Bin\\data.pak", oldBytes}});
  Publish();
  // An earlier run placed every chunk but those of the changed region (zeros there).
  std::string earlier = newBytes;
  std::fill(earlier.begin() + (1 << 20), earlier.begin() + (1 << 20) + 40000, '\0');
  const std::string staging = StagingPath();
  runDirectory.WriteFile(staging.substr(runDirectory.Narrow().size() + 1), earlier);
  std::filesystem::remove(Product("\\Bin\\data.pak"));  // nothing to copy from: all comes from the pack
  state::State().localChunks.reset();
  EXPECT_EQ(Run(), nullptr);
  EXPECT_TRUE(StagedBytes(1) == newBytes);
  EXPECT_LT(server.bodyBytes, 300000u) << "only the missing region's chunks (with the whole index)";
}

TEST_F(DeltaFillTest, AnIndexSizeNoComputerCanHoldEndsInTheWholeFile) {
  HoldLocally({{"\\Bin\\data.pak", oldBytes}});
  Publish();
  state::UpdateEntry& entry = state::State().updateList[0];
  // The manifest's sizes are read as given: the index is asked for only when it is shorter than
  // its file, and sizes that the memory cannot hold are never an exception on the row's thread.
  for (const std::int64_t size : {std::int64_t{-1}, entry.size}) {
    SCOPED_TRACE(size);
    server.requests.clear();
    std::filesystem::remove(velmora::testing::PathFromNarrow(StagingPath()));
    entry.size = size;
    entry.delta.indexSize = entry.delta.headSize = std::int64_t{1} << 62;
    EXPECT_EQ(Run(), nullptr);
    EXPECT_TRUE(StagedBytes(1) == newBytes);
    EXPECT_EQ(server.requests.back().url, kFileUrl);
  }
}

}  // namespace
}  // namespace velmora::download
