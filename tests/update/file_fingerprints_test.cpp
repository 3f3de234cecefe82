#include "update/file_fingerprints.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/temp_dir.h"
#include "text/encoding.h"
#include "update/fingerprint.h"

namespace velmora::update {
namespace {

class FileFingerprintsTest : public ::testing::Test {
 protected:
  void TearDown() override { ReplaceFingerprintThreadCount(0); }

  // A list that mixes what the update check meets: files of many sizes (one larger than the
  // read buffer), an empty file, a missing one, a Chinese name, and one file twice.
  std::vector<std::string> MixedList() {
    std::vector<std::string> paths;
    for (int i = 0; i < 40; ++i) {
      paths.push_back(dir.WriteFile("Bin\\f" + std::to_string(i) + ".dat", std::string(static_cast<std::size_t>(i) * 997, static_cast<char>('a' + i % 26))));
    }
    paths.insert(paths.begin() + 5, dir.WriteFile("big.bin", std::string((1 << 20) * 3 + 17, 'x')));
    paths.insert(paths.begin() + 9, dir.WriteFile("empty.dat", ""));
    paths.insert(paths.begin() + 11, dir.NarrowPath("gone.dll"));
    paths.insert(paths.begin() + 13, dir.WriteFile(text::Utf8ToNarrow("资源\\说明.txt"), "说明"));
    paths.push_back(paths[3]);
    return paths;
  }

  velmora::testing::TempDir dir;
};

TEST_F(FileFingerprintsTest, ResultsAreThoseOfMd5HexOfFileInListOrderWhateverTheThreadCount) {
  const std::vector<std::string> paths = MixedList();
  for (unsigned threads : {1u, 2u, 7u, 0u}) {
    SCOPED_TRACE(threads);
    ReplaceFingerprintThreadCount(threads);
    const std::vector<FileFingerprint> prints = FingerprintFiles(paths);
    ASSERT_EQ(prints.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_EQ(prints[i].md5, Md5HexOfFile(paths[i])) << text::NarrowToUtf8(paths[i]);
    }
    EXPECT_EQ(prints[11].state, FileReadState::Missing);
    EXPECT_TRUE(prints[11].notFound);
    EXPECT_EQ(prints[11].md5, Md5Hex(""));  // a missing file hashes like empty data
    EXPECT_FALSE(prints[9].notFound);
    EXPECT_EQ(prints[9].state, FileReadState::Read);
    EXPECT_EQ(prints[9].bytesRead, 0u);
    EXPECT_EQ(prints[5].bytesRead, (1u << 20) * 3 + 17);
  }
}

TEST_F(FileFingerprintsTest, FilesAskedForAreCutIntoTheSameChunksInTheSamePass) {
  const std::vector<std::string> paths = MixedList();
  FingerprintOptions options;
  options.cutIntoChunks = [](std::size_t i) { return i == 5 || i == 11 || i == 20; };  // big, missing, small
  std::vector<FileFingerprint> prints = FingerprintFiles(paths, options);
  ASSERT_TRUE(prints[5].chunks);
  EXPECT_EQ(prints[5].chunks->Source(), 5u);
  EXPECT_EQ(prints[5].chunks->Length(), (1u << 20) * 3 + 17);
  EXPECT_FALSE(prints[11].chunks) << "a missing file has no chunks";
  ASSERT_TRUE(prints[20].chunks);
  EXPECT_FALSE(prints[6].chunks) << "not asked for";

  // The catalogue finds the big file's chunks where a separate cut puts them.
  delta::LocalFileChunks separate(0);
  separate.Feed(std::string((1 << 20) * 3 + 17, 'x'));
  separate.Finish();
  delta::LocalCatalogue expected;
  expected.Add(std::move(separate));
  expected.Seal();
  delta::LocalCatalogue cut;
  cut.Add(std::move(*prints[5].chunks));
  cut.Seal();
  EXPECT_EQ(cut.ChunkCount(), expected.ChunkCount());
  const delta::ChunkId first = delta::ChunkIdOf(std::string(delta::DefaultChunkingRule().maxSize, 'x'));
  ASSERT_NE(cut.FindChunk(first), nullptr) << "runs of one byte are cut at the largest size";
  EXPECT_EQ(cut.FindChunk(first)->source, 5u);
}

TEST_F(FileFingerprintsTest, AFileIsNotFoundWhenItOrAFolderOnItsWayIsMissing) {
  const std::string present = dir.WriteFile("Bin\\x.dat", "x");
  const std::vector<FileFingerprint> prints =
      FingerprintFiles({dir.NarrowPath("Bin\\y.dat"), dir.NarrowPath("Gone\\x.dat"), present + "\\below"});
  for (const FileFingerprint& print : prints) {
    EXPECT_EQ(print.state, FileReadState::Missing);
    EXPECT_TRUE(print.notFound);
  }
}

TEST_F(FileFingerprintsTest, ProgressIsReportedOnTheCallingThreadAndEndsWithTheTotals) {
  const std::vector<std::string> paths = MixedList();
  std::uint64_t expectedBytes = 0;
  for (const FileFingerprint& print : FingerprintFiles(paths)) expectedBytes += print.bytesRead;

  ReplaceFingerprintThreadCount(3);
  std::vector<FingerprintProgress> reports;
  bool onCaller = true;
  FingerprintOptions options;
  options.progressIntervalMs = 1;
  const std::thread::id caller = std::this_thread::get_id();
  options.progress = [&](const FingerprintProgress& progress) {
    onCaller = onCaller && std::this_thread::get_id() == caller;
    reports.push_back(progress);
  };
  FingerprintFiles(paths, options);

  ASSERT_FALSE(reports.empty());
  EXPECT_TRUE(onCaller);
  for (std::size_t i = 1; i < reports.size(); ++i) {
    EXPECT_GE(reports[i].filesDone, reports[i - 1].filesDone);
    EXPECT_GE(reports[i].bytesRead, reports[i - 1].bytesRead);
  }
  EXPECT_EQ(reports.back().filesDone, paths.size());
  EXPECT_EQ(reports.back().fileCount, paths.size());
  EXPECT_EQ(reports.back().bytesRead, expectedBytes);
}

TEST_F(FileFingerprintsTest, AnEmptyListGivesNoResults) {
  bool reported = false;
  FingerprintOptions options;
  options.progress = [&](const FingerprintProgress& progress) { reported = progress.fileCount == 0; };
  EXPECT_TRUE(FingerprintFiles({}, options).empty());
  EXPECT_TRUE(reported);
}

}  // namespace
}  // namespace velmora::update
