// The download loop over a scripted stand-in for the streamed request: result codes, what is left
// on disk, the callbacks and the counters.
#include "download/download_task.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "download/scripted_http.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace velmora::download {
namespace {

using testing::Answer;
using testing::kFailedRead;
using testing::ScriptedHttp;

struct Callback {
  std::int32_t contentLength, position, elapsedMs, receivedBytes, userData;
  std::int64_t taskReceivedBytes;  // the task's counter as the callback saw it
};

std::vector<Callback> callbacks;
const DownloadTask* observed = nullptr;

void Record(std::int32_t contentLength, std::int32_t position, std::int32_t elapsedMs, std::int32_t receivedBytes,
            std::int32_t userData) {
  callbacks.push_back({contentLength, position, elapsedMs, receivedBytes, userData,
                       observed != nullptr ? observed->ReceivedBytes() : -1});
}

// A clock that advances by `step` milliseconds every time it is read.
std::uint32_t tick = 0;
std::uint32_t step = 0;
std::uint32_t SteppingClock() {
  const std::uint32_t now = tick;
  tick += step;
  return now;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(velmora::testing::PathFromNarrow(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DownloadTaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ReplaceStreamingHttp(&http);
    platform::ReplaceTickCount(SteppingClock);
    tick = 5000;
    step = 0;
    callbacks.clear();
    observed = &task;
  }
  void TearDown() override {
    observed = nullptr;
    platform::ReplaceTickCount(nullptr);
    platform::ReplaceStreamingHttp(nullptr);
  }

  DownloadResult Run(bool resume = false, std::int64_t startOffset = 0) {
    return task.Download("http://127.0.0.1/a.bin", target, Record, startOffset, resume, 7);
  }

  velmora::testing::TempDir directory;
  std::string target = directory.NarrowPath("a.bin");
  ScriptedHttp http;
  DownloadTask task;
};

TEST_F(DownloadTaskTest, AWholeBodyIsWrittenChunkByChunkWithACallbackAfterEach) {
  const std::string first(10240, 'a'), shortChunk(5000, 'b'), last(10240, 'c');
  http.answer.contentLength = 25480;
  http.answer.pieces = {first, shortChunk, last};
  step = 100;

  EXPECT_EQ(Run(), DownloadResult::Ok);
  EXPECT_EQ(ReadAll(target), first + shortChunk + last);
  EXPECT_EQ(http.log, (std::vector<std::string>{"flags", "session 4", "url http://127.0.0.1/a.bin 2214592768",
                                                "read 10240", "read 10240", "read 10240", "read 10240",
                                                "close request", "close session"}));
  ASSERT_EQ(callbacks.size(), 3u);
  // Ticks: the agent name reads 5000, the body starts at 5100, each chunk reads the clock once.
  EXPECT_EQ(http.agent, "Agent5000");
  const std::int32_t positions[] = {10240, 15240, 25480};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(callbacks[i].contentLength, 25480);
    EXPECT_EQ(callbacks[i].position, positions[i]);
    EXPECT_EQ(callbacks[i].receivedBytes, positions[i]);
    EXPECT_EQ(callbacks[i].elapsedMs, static_cast<std::int32_t>(100 * (i + 1)));
    EXPECT_EQ(callbacks[i].userData, 7);
  }
  // receivedBytes is brought up to date after the callback.
  EXPECT_EQ(callbacks[0].taskReceivedBytes, 0);
  EXPECT_EQ(callbacks[1].taskReceivedBytes, 10240);
  EXPECT_EQ(task.ContentLength(), 25480);
  EXPECT_EQ(task.Position(), 25480);
  EXPECT_EQ(task.ReceivedBytes(), 25480);
  EXPECT_EQ(task.ElapsedMs(), 300);
}

TEST_F(DownloadTaskTest, TheHeaderBlockIsExactAndTheAccessTypeFollowsTheProxyFlag) {
  http.answer.contentLength = 1;
  http.answer.pieces = {"x"};
  http.answer.connectionFlags = platform::kInternetConnectionProxy;
  EXPECT_EQ(Run(), DownloadResult::Ok);
  EXPECT_EQ(http.log[1], "session 0");
  EXPECT_EQ(http.headers,
            "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: identity\r\n"
            "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)");
  EXPECT_EQ(RequestHeaderBlock(true, 1000), std::string(kRequestHeaders) + "\r\nRange:bytes=1000-");
}

TEST_F(DownloadTaskTest, TheAgentNameReadsTheTickCountAsASignedNumber) {
  tick = 0x80000005u;
  http.answer.sessionOpens = false;
  EXPECT_EQ(Run(), DownloadResult::InternetOpenFailed);
  EXPECT_EQ(http.agent, "Agent-2147483643");
}

TEST_F(DownloadTaskTest, ElapsedTimeIsTenWhenNoTimePassedAndSurvivesTheTickWrapping) {
  http.answer.contentLength = 3;
  http.answer.pieces = {"a", "b", "c"};
  tick = 0xFFFFFFF0u;
  step = 0;
  EXPECT_EQ(Run(), DownloadResult::Ok);
  EXPECT_EQ(callbacks[0].elapsedMs, 10);

  callbacks.clear();
  tick = 0xFFFFFFF0u;
  step = 16;  // agent 0xFFFFFFF0, start 0x0, chunks at 16, 32, 48 after the wrap
  EXPECT_EQ(Run(), DownloadResult::Ok);
  EXPECT_EQ(callbacks[0].elapsedMs, 16);
  EXPECT_EQ(callbacks[2].elapsedMs, 48);
}

TEST_F(DownloadTaskTest, ResumingAsksForTheRestAndAppends) {
  const std::string present(1000, 'p');
  directory.WriteFile("a.bin", present);
  http.answer.status = 206;
  http.answer.contentLength = 600;
  http.answer.contentRange = "bytes 1000-1599/1600";
  http.answer.pieces = {std::string(400, 'n'), std::string(200, 'm')};

  EXPECT_EQ(Run(true, 1000), DownloadResult::Ok);
  EXPECT_TRUE(http.headers.ends_with("(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)\r\nRange:bytes=1000-"));
  EXPECT_EQ(ReadAll(target), present + std::string(400, 'n') + std::string(200, 'm'));
  ASSERT_EQ(callbacks.size(), 2u);
  EXPECT_EQ(callbacks[0].position, 1400);
  EXPECT_EQ(callbacks[0].receivedBytes, 400);
  EXPECT_EQ(callbacks[1].position, 1600);
  EXPECT_EQ(task.ContentLength(), 600);
  EXPECT_EQ(task.TotalLength(), 1600);
  EXPECT_EQ(task.ReceivedBytes(), 600);
}

TEST_F(DownloadTaskTest, AnAnswerThatIsNotTheFileLeavesTheLocalFileAlone) {
  struct Case {
    const char* what;
    std::int32_t status;
    std::string encoding;
    bool resume;
    std::string contentRange = {};
  };
  const Case cases[] = {
      {"404 page", 404, "", false},
      {"server error", 500, "", false},
      {"redirect left unfollowed", 302, "", false},
      {"gzip body", 200, "gzip", false},
      {"deflate body", 200, "deflate", false},
      {"whole file for a resume", 200, "", true, "bytes 0-8/9"},
      {"a part that starts elsewhere", 206, "", true, "bytes 0-8/18"},
      {"a part without its range", 206, "", true},
      {"a range in another unit", 206, "", true, "items 9-17/18"},
      {"nothing left to send", 416, "", true, "bytes */9"},
  };
  for (const Case& c : cases) {
    directory.WriteFile("a.bin", "old bytes");
    http.answer = Answer{};
    http.answer.status = c.status;
    http.answer.encoding = c.encoding;
    http.answer.contentRange = c.contentRange;
    http.answer.contentLength = 9;
    http.answer.pieces = {"not found"};
    callbacks.clear();
    EXPECT_EQ(Run(c.resume, 9), DownloadResult::UrlOpenFailed) << c.what;
    EXPECT_EQ(ReadAll(target), "old bytes") << c.what;
    EXPECT_TRUE(callbacks.empty()) << c.what;
    EXPECT_EQ(http.log.back(), "close session") << c.what;
  }
  http.answer.status = 200;
  http.answer.encoding = "identity";
  EXPECT_EQ(Run(), DownloadResult::Ok);
  EXPECT_EQ(ReadAll(target), "not found");
}

TEST_F(DownloadTaskTest, EveryResultCloseWhatWasOpened) {
  http.answer.urlOpens = false;
  EXPECT_EQ(Run(), DownloadResult::UrlOpenFailed);
  EXPECT_EQ(http.log, (std::vector<std::string>{"flags", "session 4", "url http://127.0.0.1/a.bin 2214592768",
                                                "close session"}));
  EXPECT_FALSE(std::filesystem::exists(velmora::testing::PathFromNarrow(target)));

  http.answer = Answer{};
  http.log.clear();
  target = directory.NarrowPath("missing\\folder\\a.bin");
  http.answer.contentLength = 1;
  EXPECT_EQ(Run(), DownloadResult::LocalFileFailed);
  EXPECT_EQ(http.log.back(), "close session");
  EXPECT_EQ(http.log[http.log.size() - 2], "close request");
}

TEST_F(DownloadTaskTest, NoPositiveLengthIsEmptyContentWithoutTouchingTheFile) {
  directory.WriteFile("a.bin", "old bytes");
  for (std::int64_t length : {std::int64_t{-1}, std::int64_t{0}}) {
    http.log.clear();
    http.answer.contentLength = length;
    http.answer.pieces = {"chunked body"};
    EXPECT_EQ(Run(), DownloadResult::EmptyContent);
    EXPECT_EQ(http.log.back(), "close session");
    EXPECT_EQ(std::count(http.log.begin(), http.log.end(), "read 10240"), 0);
    EXPECT_TRUE(callbacks.empty());
    EXPECT_EQ(task.ContentLength(), 0);
    EXPECT_EQ(ReadAll(target), "old bytes") << "the local file is left alone";
  }
}

TEST_F(DownloadTaskTest, ABodyThatEndsEarlyOrFailsIsAFailureWithTheBytesSoFarWritten) {
  http.answer.contentLength = 100;
  http.answer.pieces = {std::string(60, 'x')};  // then the connection ends
  EXPECT_EQ(Run(), DownloadResult::ReadFailed);
  EXPECT_EQ(ReadAll(target).size(), 60u);

  http.answer.pieces = {std::string(60, 'x'), kFailedRead};
  EXPECT_EQ(Run(), DownloadResult::ReadFailed);
  EXPECT_EQ(task.Position(), 60);

  callbacks.clear();
  http.answer.pieces = {};  // nothing at all after a positive length
  EXPECT_EQ(Run(), DownloadResult::ReadFailed);
  EXPECT_TRUE(callbacks.empty());
}

TEST_F(DownloadTaskTest, NothingPastTheAnnouncedLengthIsWritten) {
  http.answer.contentLength = 100;
  http.answer.pieces = {std::string(100, 'x'), std::string(50, 'y')};
  EXPECT_EQ(Run(), DownloadResult::ReadFailed);
  EXPECT_EQ(ReadAll(target), std::string(100, 'x'));

  http.answer.pieces = {std::string(60, 'x'), std::string(60, 'y')};  // crosses the end
  EXPECT_EQ(Run(), DownloadResult::ReadFailed);
  EXPECT_EQ(ReadAll(target), std::string(60, 'x'));
  EXPECT_EQ(task.Position(), 60);
}

TEST_F(DownloadTaskTest, LengthsOfTwoGibibytesAndMoreAreLengthsNotEmptyContent) {
  const std::int64_t length = (std::int64_t{1} << 32) + 10;
  http.answer.contentLength = length;
  http.answer.pieces = {"abc"};
  EXPECT_EQ(Run(), DownloadResult::ReadFailed);  // the rest never came
  EXPECT_EQ(task.ContentLength(), length);
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks[0].contentLength, 10) << "the callback gets the low 32 bits";
}

TEST_F(DownloadTaskTest, AStopRequestEndsTheDownloadBetweenChunks) {
  http.answer.contentLength = 30;
  http.answer.pieces = {std::string(10, 'a'), std::string(10, 'b'), std::string(10, 'c')};
  static DownloadTask* stopping = nullptr;
  stopping = &task;
  const DownloadResult result = task.Download(
      "http://127.0.0.1/a.bin", target, [](std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
        stopping->RequestStop();
      },
      0, false, 1);
  EXPECT_EQ(result, DownloadResult::ReadFailed);
  EXPECT_TRUE(task.StopRequested());
  EXPECT_EQ(std::count(http.log.begin(), http.log.end(), "read 10240"), 1);
  EXPECT_EQ(http.log.back(), "close session");

  const DownloadTask copy = task;
  EXPECT_FALSE(copy.StopRequested()) << "a copy starts without a stop request";
  EXPECT_EQ(copy.Position(), 10);
}

TEST_F(DownloadTaskTest, AFileThatAnotherExclusiveDownloadHoldsIsLeftAlone) {
  directory.WriteFile("a.bin", "held bytes");
  platform::OutputFile holder;
  ASSERT_TRUE(holder.Open(target, platform::OutputFile::Mode::Append, true));
  http.answer.contentLength = 3;
  http.answer.pieces = {"new"};
  task.SetExclusiveFile(true);
  EXPECT_EQ(Run(), DownloadResult::LocalFileFailed);
  EXPECT_FALSE(task.OpenedLocalFile());
  holder.Close();
  EXPECT_EQ(ReadAll(target), "held bytes");
  EXPECT_EQ(Run(), DownloadResult::Ok);
  EXPECT_TRUE(task.OpenedLocalFile());
  EXPECT_EQ(ReadAll(target), "new");
}

// A staging file is opened while the request travels, and cut only once the answer is the file:
// another answer leaves its bytes, or no empty file. The caller's in-flight work runs once a call.
TEST_F(DownloadTaskTest, AStagingFileOpenedBeforeTheAnswerIsCutOnlyForTheFile) {
  task.SetExclusiveFile(true);
  int inFlight = 0;
  for (const bool urlOpens : {true, false}) {
    for (const std::int32_t status : {404, 200}) {
      for (const bool existed : {true, false}) {
        std::filesystem::remove(velmora::testing::PathFromNarrow(target));
        if (existed) directory.WriteFile("a.bin", "old bytes");
        http.answer = Answer{};
        http.answer.urlOpens = urlOpens;
        http.answer.status = status;
        http.answer.contentLength = 3;
        http.answer.pieces = {"new"};
        task.SetInFlightWork([&inFlight] { ++inFlight; });
        const bool theFile = urlOpens && status == 200;
        EXPECT_EQ(Run(), theFile ? DownloadResult::Ok : DownloadResult::UrlOpenFailed) << status << existed;
        EXPECT_EQ(ReadAll(target), theFile ? "new" : existed ? "old bytes" : "") << status << existed;
        EXPECT_EQ(std::filesystem::exists(velmora::testing::PathFromNarrow(target)), theFile || existed);
      }
    }
  }
  EXPECT_EQ(inFlight, 8);
}

TEST_F(DownloadTaskTest, ANewTaskIsAllZero) {
  const DownloadTask fresh;
  EXPECT_EQ(fresh.ContentLength(), 0);
  EXPECT_EQ(fresh.Position(), 0);
  EXPECT_EQ(fresh.ElapsedMs(), 0);
  EXPECT_EQ(fresh.ReceivedBytes(), 0);
}

}  // namespace
}  // namespace velmora::download
