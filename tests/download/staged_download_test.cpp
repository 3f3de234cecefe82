// Resuming and retrying a row's download: what an interrupted download leaves, how a later
// attempt or run picks it up, and that the product's file is never touched (the release's commit
// puts the staged files in place).
#include "download/staged_download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <tuple>

#include "download/progress.h"
#include "download/run_doubles.h"
#include "download/scheduler.h"
#include "update/fingerprint.h"
#include "update/staging_files.h"

namespace velmora::download {
namespace {

using testing::Answer;

const std::string kNewBytes = "0123456789abcdefghijklmnopqrstuvwxyz";  // 36 bytes

// The whole file, as a server answers a request without a range.
Answer Whole(const std::string& body) {
  Answer answer;
  answer.contentLength = static_cast<std::int64_t>(body.size());
  answer.pieces = {body};
  return answer;
}

// The file from `from` on, as a server answers "Range:bytes=<from>-".
Answer Part(const std::string& body, std::size_t from) {
  Answer answer;
  answer.status = 206;
  answer.contentLength = static_cast<std::int64_t>(body.size() - from);
  answer.contentRange = "bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) + "/" +
                        std::to_string(body.size());
  answer.pieces = {body.substr(from)};
  return answer;
}

// The whole file announced, but the connection drops after `sent` bytes.
Answer DroppedAfter(const std::string& body, std::size_t sent, std::size_t from = 0) {
  Answer answer = from == 0 ? Whole(body) : Part(body, from);
  answer.pieces = {body.substr(from, sent - from)};
  return answer;
}

class StagedDownloadTest : public testing::DownloadRunTest {
 protected:
  void SetUp() override {
    DownloadRunTest::SetUp();
    WriteProductFile("\\Bin\\data.pak", "old data");
    ListRow("\\Bin\\data.pak", kNewBytes);
    stream.answer = Answer{};
    stream.answer.urlOpens = false;  // every request beyond the queued ones fails to open
    ServerAnswers("fallback not expected", 404);
  }

  std::string StagingPath() const {
    const state::UpdateEntry& entry = state::State().updateList[0];
    return update::StagingPathOf(runDirectory.Narrow() + entry.path, entry);
  }
  void LeaveStagingFile(const std::string& bytes) {
    runDirectory.WriteFile(StagingPath().substr(runDirectory.Narrow().size() + 1), bytes);
  }
  std::string StagingBytes() const {
    std::ifstream in(velmora::testing::PathFromNarrow(StagingPath()), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("<none>");
  }
  // The Range line of each request, "" for a request without one.
  std::vector<std::string> Ranges() const {
    std::vector<std::string> ranges;
    for (const std::string& block : stream.headerBlocks) {
      const std::size_t at = block.find("\r\nRange:");
      ranges.push_back(at == std::string::npos ? "" : block.substr(at + 2));
    }
    return ranges;
  }
  const char* Run() {
    const state::UpdateEntry& entry = state::State().updateList[0];
    return DownloadAndStage(1, entry, state::State().taskList[0].task, runDirectory.Narrow() + entry.path);
  }
  // The new file waits whole in its staging file for the release's commit; the product's file is
  // untouched.
  void ExpectStaged(const char* failure) {
    EXPECT_EQ(failure, nullptr) << failure;
    EXPECT_EQ(StagingBytes(), kNewBytes);
    EXPECT_EQ(ProductBytes("\\Bin\\data.pak"), "old data");
  }
};

TEST_F(StagedDownloadTest, AStagingFileOfTheSameEntryIsResumedFromItsLength) {
  LeaveStagingFile(kNewBytes.substr(0, 20));
  stream.queued = {Part(kNewBytes, 20)};
  ExpectStaged(Run());
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"Range:bytes=20-"}));
  // The row shows the whole file: all 36 bytes present of 36, not 36 of the 16 requested.
  EXPECT_EQ(Texts(1, kSizeColumn).back(), "36 B");
  EXPECT_EQ(Texts(1, kDownloadedColumn).back(), "36 B");
}

TEST_F(StagedDownloadTest, AServerThatDoesNotResumeAsAskedRestartsTheFileFromZero) {
  const std::vector<std::pair<const char*, Answer>> refusals = {
      {"200 with the whole file", Whole(kNewBytes)},
      {"206 from another offset", Part(kNewBytes, 10)},
      {"416", [] {
         Answer answer;
         answer.status = 416;
         return answer;
       }()},
  };
  for (const auto& [what, refusal] : refusals) {
    stream.headerBlocks.clear();
    LeaveStagingFile(kNewBytes.substr(0, 20));
    WriteProductFile("\\Bin\\data.pak", "old data");
    stream.queued = {refusal, Whole(kNewBytes)};
    ExpectStaged(Run());
    EXPECT_EQ(Ranges(), (std::vector<std::string>{"Range:bytes=20-", ""})) << what;
  }
}

TEST_F(StagedDownloadTest, AStagingFileThatIsAlreadyTheWholeFileIsKeptWithoutFetchingAgain) {
  // With the size listed, the whole checked file costs no request at all.
  state::State().updateList[0].size = static_cast<std::int64_t>(kNewBytes.size());
  LeaveStagingFile(kNewBytes);
  ExpectStaged(Run());
  EXPECT_TRUE(Ranges().empty());

  // Of the listed size but not the file: fetched whole.
  LeaveStagingFile(std::string(kNewBytes.size(), 'X'));
  stream.queued = {Whole(kNewBytes)};
  ExpectStaged(Run());
  EXPECT_EQ(Ranges(), (std::vector<std::string>{""}));

  // Without a listed size the digest tells the whole file: no request either.
  stream.headerBlocks.clear();
  state::State().updateList[0].size = -1;
  LeaveStagingFile(kNewBytes);
  ExpectStaged(Run());
  EXPECT_TRUE(Ranges().empty());

  // An entry whose only check is its size: an earlier run's file of that length is the file.
  state::State().updateList[0].md5 = "unknown";
  state::State().updateList[0].size = static_cast<std::int64_t>(kNewBytes.size());
  LeaveStagingFile(kNewBytes);
  ExpectStaged(Run());
  EXPECT_TRUE(Ranges().empty());
}

TEST_F(StagedDownloadTest, AStagingFileThatIsLongerOrWrongIsDiscarded) {
  // Longer than the file: the server has nothing from that offset; the file comes whole.
  LeaveStagingFile(kNewBytes + "junk");
  Answer nothingLeft;
  nothingLeft.status = 416;
  stream.queued = {nothingLeft, Whole(kNewBytes)};
  ExpectStaged(Run());

  // A wrong beginning: the resumed file does not match, so it is fetched whole once more.
  stream.headerBlocks.clear();
  WriteProductFile("\\Bin\\data.pak", "old data");
  LeaveStagingFile(std::string(20, 'X'));
  stream.queued = {Part(kNewBytes, 20), Whole(kNewBytes)};
  ExpectStaged(Run());
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"Range:bytes=20-", ""}));
}

TEST_F(StagedDownloadTest, AResumedFileThatStillDoesNotMatchFailsWithoutAThirdFetch) {
  LeaveStagingFile(std::string(20, 'X'));
  stream.queued = {Part(kNewBytes, 20), Whole("wrong file of the same length!!!!!!!")};
  EXPECT_STREQ(Run(), kStatusDigestMismatch);
  EXPECT_EQ(Ranges().size(), 2u);
  EXPECT_EQ(ProductBytes("\\Bin\\data.pak"), "old data");
  EXPECT_EQ(Files(), (std::vector<std::string>{"Bin/data.pak"}));
}

TEST_F(StagedDownloadTest, OneDroppedTransferIsResumedWithinTheRun) {
  stream.queued = {DroppedAfter(kNewBytes, 30), Part(kNewBytes, 30)};
  ExpectStaged(Run());
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"", "Range:bytes=30-"}));
}

TEST_F(StagedDownloadTest, ASecondDropLeavesWhatArrivedForTheNextRun) {
  stream.queued = {DroppedAfter(kNewBytes, 18), DroppedAfter(kNewBytes, 27, 18)};
  EXPECT_STREQ(Run(), kStatusReadFailed);
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"", "Range:bytes=18-"}));
  EXPECT_EQ(ProductBytes("\\Bin\\data.pak"), "old data");
  EXPECT_EQ(StagingBytes(), kNewBytes.substr(0, 27));

  // The next run: a fresh task resumes from the 27 bytes present.
  state::State().taskList[0].task = DownloadTask();
  stream.headerBlocks.clear();
  stream.queued = {Part(kNewBytes, 27)};
  ExpectStaged(Run());
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"Range:bytes=27-"}));
}

TEST_F(StagedDownloadTest, ADropBeforeAnyByteLeavesNoStagingFile) {
  stream.queued = {DroppedAfter(kNewBytes, 0), DroppedAfter(kNewBytes, 0)};
  EXPECT_STREQ(Run(), kStatusReadFailed);
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(Files(), (std::vector<std::string>{"Bin/data.pak"}));
}

TEST_F(StagedDownloadTest, ErrorAnswersAndWrongFilesAreNotRetried) {
  Answer notFound;
  notFound.status = 404;
  stream.queued = {notFound};
  EXPECT_STREQ(Run(), kStatusBadAddress);
  EXPECT_EQ(Ranges().size(), 1u) << "the plain client's fallback is the only second request";

  stream.headerBlocks.clear();
  stream.queued = {Whole("wrong file of the same length!!!!!!!")};
  EXPECT_STREQ(Run(), kStatusDigestMismatch);
  EXPECT_EQ(Ranges().size(), 1u);
  EXPECT_EQ(ProductBytes("\\Bin\\data.pak"), "old data");
  EXPECT_EQ(Files(), (std::vector<std::string>{"Bin/data.pak"}));
}

std::string Sha256Hex(const std::string& data) {
  return update::LowerCaseDigest(update::HashBytes(data, update::kCalgSha256, update::kSha256DigestLength));
}

std::string UpperCase(std::string hex) {
  for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return hex;
}

TEST_F(StagedDownloadTest, AListedSizeAndSha256AreCheckedToo) {
  state::UpdateEntry& entry = state::State().updateList[0];
  entry.size = static_cast<std::int64_t>(kNewBytes.size());
  entry.sha256 = Sha256Hex(kNewBytes);
  LeaveStagingFile(kNewBytes.substr(0, 20));
  stream.queued = {Part(kNewBytes, 20)};
  ExpectStaged(Run());

  // Another length is refused before the body: nothing is read or written, nothing is left.
  WriteProductFile("\\Bin\\data.pak", "old data");
  LeaveStagingFile(kNewBytes.substr(0, 20));
  stream.log.clear();
  stream.queued = {Part(kNewBytes + "more", 20)};
  EXPECT_STREQ(Run(), kStatusDigestMismatch);
  EXPECT_EQ(std::count(stream.log.begin(), stream.log.end(), "read 10240"), 0);
  EXPECT_EQ(ProductBytes("\\Bin\\data.pak"), "old data");
  EXPECT_EQ(Files(), (std::vector<std::string>{"Bin/data.pak"}));

  // The right MD5 with another SHA-256 is not the file either (fetched whole once more, as the
  // file was put together from two transfers, then refused).
  entry.sha256 = Sha256Hex("another file");
  LeaveStagingFile(kNewBytes.substr(0, 20));
  stream.queued = {Part(kNewBytes, 20), Whole(kNewBytes)};
  EXPECT_STREQ(Run(), kStatusDigestMismatch);
  EXPECT_EQ(ProductBytes("\\Bin\\data.pak"), "old data");
  EXPECT_EQ(Files(), (std::vector<std::string>{"Bin/data.pak"}));
}

TEST_F(StagedDownloadTest, AnEmptyFileIsStagedWithoutAskingTheServer) {
  state::UpdateEntry& entry = state::State().updateList[0];
  entry.md5 = update::Md5Hex("");
  entry.sha256 = Sha256Hex("");
  EXPECT_EQ(Run(), nullptr);
  EXPECT_EQ(StagingBytes(), "");
  EXPECT_EQ(ProductBytes("\\Bin\\data.pak"), "old data");
  EXPECT_TRUE(stream.headerBlocks.empty());
}

TEST_F(StagedDownloadTest, AStagingFileBelongsToTheEntrysContentWhateverItsUrl) {
  const state::UpdateEntry entry = state::State().updateList[0];
  const std::string target = runDirectory.Narrow() + entry.path;
  auto stagingOf = [&target](state::UpdateEntry changed) { return update::StagingPathOf(target, changed); };
  state::UpdateEntry other = entry;
  other.url += "?token=fresh";
  EXPECT_EQ(stagingOf(other), stagingOf(entry)) << "another URL of the same content";
  other = entry;
  other.md5 = UpperCase(entry.md5.Text());
  EXPECT_EQ(stagingOf(other), stagingOf(entry)) << "the same digest in upper case";
  other = entry;
  other.md5 = update::Md5Hex("other");
  EXPECT_NE(stagingOf(other), stagingOf(entry));
  other = entry;
  other.size = 36;
  EXPECT_NE(stagingOf(other), stagingOf(entry));
  other.sha256 = Sha256Hex(kNewBytes);
  EXPECT_NE(stagingOf(other), stagingOf(state::UpdateEntry(entry)));
  // Whatever the manifest's digest holds, only hex digits join the name.
  other.md5 = "..\\..\\evil";
  const std::string odd = stagingOf(other);
  EXPECT_EQ(odd.find("evil"), std::string::npos);
  EXPECT_EQ(odd.rfind(target.substr(0, target.rfind('\\')) + "\\.velmora-staging\\", 0), 0u);

  // A run that finds the file at another address resumes what the earlier run fetched.
  LeaveStagingFile(kNewBytes.substr(0, 20));
  state::State().updateList[0].url = "http://mirror.example/data.pak?token=2";
  stream.queued = {Part(kNewBytes, 20)};
  ExpectStaged(Run());
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"Range:bytes=20-"}));
}

TEST_F(StagedDownloadTest, DigestsAreComparedInEitherLetterCase) {
  state::UpdateEntry& entry = state::State().updateList[0];
  entry.md5 = UpperCase(entry.md5.Text());
  entry.sha256 = UpperCase(Sha256Hex(kNewBytes));
  stream.queued = {Whole(kNewBytes)};
  ExpectStaged(Run());
}

TEST_F(StagedDownloadTest, AnMd5ThatIsNoDigestLeavesTheCheckToSizeAndSha256) {
  state::UpdateEntry& entry = state::State().updateList[0];
  entry.md5 = "unknown";
  entry.size = static_cast<std::int64_t>(kNewBytes.size());
  entry.sha256 = Sha256Hex(kNewBytes);
  stream.queued = {Whole(kNewBytes)};
  ExpectStaged(Run());

  WriteProductFile("\\Bin\\data.pak", "old data");
  entry.sha256 = Sha256Hex("another file");
  stream.queued = {Whole(kNewBytes)};
  EXPECT_STREQ(Run(), kStatusDigestMismatch);
  EXPECT_EQ(ProductBytes("\\Bin\\data.pak"), "old data");

  // With nothing to check at all the file is taken as it comes, and never joined to bytes an
  // earlier run left: they could belong to another version of the server's file.
  entry.size = -1;
  entry.sha256 = {};
  LeaveStagingFile("stale bytes of some other version");
  stream.headerBlocks.clear();
  stream.queued = {Whole(kNewBytes)};
  ExpectStaged(Run());
  EXPECT_EQ(Ranges(), (std::vector<std::string>{""}));
}

// Mirrors: each fault sends the row on to the next mirror, which resumes the bytes staged; a
// mirror that failed twice in the run is skipped by later rows; a row fails only when every
// mirror failed.
TEST_F(StagedDownloadTest, ARowGoesOnAtTheNextMirrorFromTheBytesStaged) {
  state::ProgramState& state = state::State();
  state.mirrors = {"http://127.0.0.1/", "http://b.example/", "http://c.example/", "http://d.example/", "http://e.example/"};
  state.mirrorFailures = std::make_shared<state::MirrorFailures>(state.mirrors.size());
  state.updateList[0].size = static_cast<std::int64_t>(kNewBytes.size());
  Answer refused, unavailable, notThere;
  std::tie(refused.urlOpens, unavailable.status, notThere.status) = std::make_tuple(false, 503, 404);
  const auto hostsOfRow = [this](std::vector<Answer> answers) {
    platform::RemoveFile(StagingPath());
    state::State().taskList[0].task = DownloadTask();
    stream.log.clear();
    stream.headerBlocks.clear();
    stream.queued.assign(answers.begin(), answers.end());
    const char* failure = Run();
    std::string hosts = failure == nullptr ? "staged:" : std::string(failure) + ":";
    for (const std::string& line : stream.log) {
      if (line.rfind("url http://", 0) == 0) hosts += " " + line.substr(11, line.find('/', 11) - 11);
    }
    return hosts;
  };

  EXPECT_EQ(hostsOfRow({refused, unavailable, DroppedAfter(kNewBytes, 20), notThere, Part(kNewBytes, 20)}),
            "staged: 127.0.0.1 b.example c.example d.example e.example");
  EXPECT_EQ(Ranges(), (std::vector<std::string>{"", "", "", "Range:bytes=20-", "Range:bytes=20-"}));
  // A wrong length is a mirror without the new file too.
  EXPECT_EQ(hostsOfRow({refused, unavailable, notThere, Whole("an older, shorter file"), Whole(kNewBytes)}),
            "staged: 127.0.0.1 b.example c.example d.example e.example");
  // Four mirrors have failed twice: only the fifth is asked, and when it fails the row fails.
  EXPECT_EQ(hostsOfRow({unavailable}), std::string(kStatusBadAddress) + ": e.example");
}

}  // namespace
}  // namespace velmora::download
