// The workers and the scheduler with the outside world replaced: what each download outcome leaves
// in the product's folder (staged files only: the release goes in at the end), the row's texts and
// the counters; at most two workers at a time.
#include "download/scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/completion.h"
#include "download/run_doubles.h"
#include "platform/code_signature.h"
#include "platform/release_services.h"
#include "platform/thread.h"
#include "support/held_files.h"
#include "update/code_signing.h"

namespace velmora::download {
namespace {

using testing::DownloadRunTest;

class WorkerTest : public DownloadRunTest {};

TEST_F(WorkerTest, ADownloadThatChecksOutIsStagedAndCountsOnce) {
  WriteProductFile("\\Bin\\core.dll", "old core");
  ListRow("\\Bin\\core.dll", "new core bytes");
  Serve("new core bytes");
  state::State().counters.running.store(1);

  RunWorker(1);
  // The file goes in with the rest of the release, when every row has ended.
  EXPECT_EQ(ProductBytes("\\Bin\\core.dll"), "old core");
  EXPECT_EQ(StagedBytes(1), "new core bytes");
  EXPECT_EQ(Texts(1, 7).back(), "下载成功");
  EXPECT_EQ(state::State().counters.succeeded.load(), 1);
  EXPECT_EQ(state::State().counters.failed.load(), 0);
  EXPECT_EQ(state::State().counters.running.load(), 0);
}

TEST_F(WorkerTest, EveryFailureLeavesTheOldFile) {
  struct Case {
    const char* what;
    void (*answer)(testing::Answer&);
    const char* status;
    bool leavesWhatArrived;  // a dropped transfer: the next run resumes it
  };
  const Case cases[] = {
      {"wrong file", [](testing::Answer& a) { a.pieces = {"evil bytes...."}; }, "文件校验失败", false},
      {"body cut short", [](testing::Answer& a) { a.pieces = {"new"}; }, "读本地文件失败", true},
      {"read fails", [](testing::Answer& a) { a.pieces = {"new", testing::kFailedRead}; }, "读本地文件失败", true},
      {"nothing arrives", [](testing::Answer& a) { a.pieces = {testing::kFailedRead}; }, "读本地文件失败", false},
      {"no session", [](testing::Answer& a) { a.sessionOpens = false; }, "网络连接失败", false},
      {"no length", [](testing::Answer& a) { a.contentLength = -1; }, "网页文件为空", false},
      {"404 and a 404 fallback", [](testing::Answer& a) { a.status = 404; }, "下载地址错误", false},
  };
  for (const Case& c : cases) {
    state::ResetState();
    log.clear();
    std::filesystem::remove_all(runDirectory.Path());
    WriteProductFile("\\App.exe", "old app");
    ListRow("\\App.exe", "new app bytes!");
    Serve("new app bytes!");
    c.answer(stream.answer);
    ServerAnswers("not found", 404);
    RunWorker(1);
    EXPECT_EQ(ProductBytes("\\App.exe"), "old app") << c.what;
    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), c.leavesWhatArrived ? 2u : 1u) << c.what;
    if (c.leavesWhatArrived) {
      EXPECT_TRUE(files[0].ends_with(".velmora-part")) << files[0];
    }
    EXPECT_EQ(Texts(1, 7).back(), c.status) << c.what;
    EXPECT_EQ(state::State().counters.failed.load(), 1) << c.what;
    EXPECT_EQ(state::State().counters.succeeded.load(), 0) << c.what;
  }
}

TEST_F(WorkerTest, TheFallbackFetchesTheWholeFileThroughTheSameCheck) {
  WriteProductFile("\\readme.txt", "old");
  ListRow("\\readme.txt", "new readme");
  Serve("ignored");
  stream.answer.urlOpens = false;
  ServerAnswers("new readme");
  RunWorker(1);
  EXPECT_EQ(StagedBytes(1), "new readme");
  EXPECT_EQ(Texts(1, 7).back(), "下载成功");
  EXPECT_EQ(state::State().counters.succeeded.load(), 1);

  state::ResetState();
  ListRow("\\readme.txt", "newer readme");
  ServerAnswers("tampered");
  RunWorker(1);
  EXPECT_EQ(StagedBytes(1), "<none>");
  EXPECT_EQ(ProductBytes("\\readme.txt"), "old");
  EXPECT_EQ(Texts(1, 7).back(), "文件校验失败");
  EXPECT_EQ(state::State().counters.failed.load(), 1);

  state::ResetState();
  ListRow("\\readme.txt", "newest readme");
  ServerAnswers("");
  RunWorker(1);
  EXPECT_EQ(Texts(1, 7).back(), "下载地址错误") << "an empty answer is no file";
}

TEST_F(WorkerTest, AFileInAFolderThatDoesNotExistYet) {
  ListRow("\\数据\\新\\配置.ini", "config");
  Serve("config");
  RunWorker(1);
  // Natively the run directory has no drive letter, so the folders come from the test's
  // directory creation only under Windows; either way the row must end counted.
  const int counted = state::State().counters.succeeded.load() + state::State().counters.failed.load();
  EXPECT_EQ(counted, 1);
  if (runDirectory.Narrow().size() > 1 && runDirectory.Narrow()[1] == ':') {
    EXPECT_EQ(StagedBytes(1), "config");
  }
}

// A target that stays locked: five attempts, each shown, then the download and its failure.

TEST_F(WorkerTest, ATargetThatStaysLockedGetsFiveAttemptsEachShownAndIsNotDownloaded) {
  velmora::testing::HeldFiles held([](const std::string&) { return true; });
  platform::ReplaceReleaseServices(&held);
  WriteProductFile("\\App.exe", "old");
  ListRow("\\App.exe", "new");
  Serve("new");
  RunWorker(1);
  platform::ReplaceReleaseServices(nullptr);
  const std::vector<std::string> statuses = Texts(1, 7);
  ASSERT_EQ(statuses.size(), 6u);
  for (int attempt = 1; attempt <= 5; ++attempt) {
    EXPECT_EQ(statuses[static_cast<std::size_t>(attempt - 1)], "文件被占用,解除中->" + std::to_string(attempt));
  }
  EXPECT_EQ(statuses.back(), "不能打开本地文件");
  EXPECT_TRUE(stream.headerBlocks.empty()) << "a file that cannot be replaced is not fetched";
  EXPECT_EQ(ProductBytes("\\App.exe"), "old");
  EXPECT_EQ(state::State().counters.failed.load(), 1);
}

// Authenticode's stand-in: "signed by NAME..." is NAME's valid signature, "changed..." a bad digest.
platform::CodeSignature ReadStandInSignature(const std::string& path) {
  std::ifstream in(velmora::testing::PathFromNarrow(path), std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  if (bytes.rfind("signed by ", 0) == 0) return {platform::CodeSignatureStatus::Valid, bytes.substr(10, 7), "ok"};
  if (bytes.rfind("MZsigned by ", 0) == 0) return {platform::CodeSignatureStatus::Valid, bytes.substr(12, 7), "ok"};
  return {bytes.rfind("changed", 0) == 0 ? platform::CodeSignatureStatus::BadDigest : platform::CodeSignatureStatus::Unsigned, {}, "no"};
}

TEST_F(WorkerTest, APinnedSubjectRefusesEveryProgramFileItDidNotSignAndItsLaunch) {
  const std::string subject = "Velmora";
  update::ReplaceCodeSigningSubject(&subject);
  platform::ReplaceCodeSignatureReader(ReadStandInSignature);
  const char* const files[][3] = {{"\\a.dll", "signed by Velmora", "下载成功"}, {"\\b.DLL", "signed by Mallory", "文件校验失败"},
                                  {"\\c.exe", "changed", "文件校验失败"}, {"\\d.exe", "plain", "文件校验失败"},
                                  {"\\e.txt", "plain", "下载成功"}, {"\\f.dat", "MZ plain", "文件校验失败"},
                                  {"\\g.com", "MZsigned by Velmora", "下载成功"}};
  for (int row = 1; row <= 7; ++row) {
    ListRow(files[row - 1][0], files[row - 1][1]);
    Serve(files[row - 1][1]);
    RunWorker(row);
    EXPECT_EQ(Texts(row, 7).back(), files[row - 1][2]) << row;
    EXPECT_EQ(StagedBytes(row) == "<none>", Texts(row, 7).back() != "下载成功") << row;  // a refused file is gone
  }
  EXPECT_NE(ProductBytes("\\Bin\\Config\\update.log").find("b.DLL: 文件校验失败 (signed by \"Mallory\", not by \"Velmora\" (ok))"),
            std::string::npos);
  WriteProductFile("\\Velmora.exe", "plain");  // the product is checked again before it starts
  EXPECT_FALSE(RunElevated(runDirectory.Narrow() + "\\Velmora.exe", ""));
  WriteProductFile("\\Velmora.exe", "signed by Velmora");  // no image, though "signed"
  EXPECT_FALSE(RunElevated(runDirectory.Narrow() + "\\Velmora.exe", ""));
  WriteProductFile("\\Velmora.exe", "MZsigned by Velmora");
  EXPECT_TRUE(RunElevated(runDirectory.Narrow() + "\\Velmora.exe", ""));
  platform::ReplaceCodeSignatureReader(nullptr);
  update::ReplaceCodeSigningSubject(nullptr);
}

TEST(CreateParentDirectories, OnlyDriveLetterPathsGetDirectories) {
  EXPECT_FALSE(CreateParentDirectories("\\\\server\\share\\x.dll"));
  EXPECT_FALSE(CreateParentDirectories("relative\\x.dll"));
  EXPECT_FALSE(CreateParentDirectories(""));
}

std::atomic<int> runningNow{0};
std::atomic<int> mostAtOnce{0};
std::atomic<int> started{0};

void BriefWorker(std::int32_t /*row*/) {
  const int now = runningNow.fetch_add(1) + 1;
  int most = mostAtOnce.load();
  while (now > most && !mostAtOnce.compare_exchange_weak(most, now)) {
  }
  started.fetch_add(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  runningNow.fetch_sub(1);
  state::State().counters.succeeded.fetch_add(1);
  state::State().counters.running.fetch_sub(1);
}

class SchedulerTest : public DownloadRunTest {};

TEST_F(SchedulerTest, FiveRowsRunAtMostTwoAtATime) {
  for (int row = 1; row <= 5; ++row) ListRow("\\f" + std::to_string(row), "x");
  state::State().counters.failed.store(7);  // from an earlier run: reset
  StartDownloads(BriefWorker);
  for (const state::TaskRecord& record : state::State().taskList) {
    EXPECT_NE(record.workerThread, 0u);
    platform::WaitForThread(record.workerThread, 5000);
  }
  EXPECT_EQ(started.load(), 5);
  EXPECT_LE(mostAtOnce.load(), 2);
  EXPECT_EQ(state::State().counters.failed.load(), 0);
  EXPECT_EQ(state::State().counters.succeeded.load(), 5);
  const std::vector<std::string> expected{"button off", "timer 500", "caption 正在下载"};
  std::vector<std::string> seen;
  for (const std::string& event : log) {
    if (event.rfind("button", 0) == 0 || event.rfind("timer", 0) == 0 || event.rfind("caption", 0) == 0) seen.push_back(event);
  }
  EXPECT_EQ(seen, expected);
}

std::mutex orderMutex;
std::vector<std::string> order;  // "start N" and "end N", as the workers saw them

void UnevenWorker(std::int32_t row) {
  {
    std::lock_guard lock(orderMutex);
    order.push_back("start " + std::to_string(row));
  }
  // Row 1 takes longest, so rows 3 and 4 start on row 2's end while row 1 still runs.
  std::this_thread::sleep_for(std::chrono::milliseconds(row == 1 ? 150 : 10));
  {
    std::lock_guard lock(orderMutex);
    order.push_back("end " + std::to_string(row));
  }
  state::State().counters.succeeded.fetch_add(1);
  state::State().counters.running.fetch_sub(1);
}

TEST_F(SchedulerTest, RowsStartInOrderEachOnTheEndOfAnEarlierOne) {
  order.clear();
  for (int row = 1; row <= 6; ++row) ListRow("\\f" + std::to_string(row), "x");
  StartDownloads(UnevenWorker);
  for (const state::TaskRecord& record : state::State().taskList) platform::WaitForThread(record.workerThread, 5000);

  std::vector<int> startedRows;
  int running = 0;
  int ended = 0;
  for (const std::string& event : order) {
    if (event.rfind("start", 0) == 0) {
      const int row = std::stoi(event.substr(6));
      startedRows.push_back(row);
      ++running;
      // Rows are started in order, so row k (k > 2) runs only once k - 2 rows have ended; two
      // rows that run at once may log their starts in either order.
      EXPECT_LE(running, 2) << "after " << ended << " ends";
      EXPECT_GE(ended, row - 2) << "row " << row;
    } else {
      --running;
      ++ended;
    }
  }
  std::sort(startedRows.begin(), startedRows.end());
  EXPECT_EQ(startedRows, (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(state::State().counters.succeeded.load(), 6);
}

}  // namespace
}  // namespace velmora::download
