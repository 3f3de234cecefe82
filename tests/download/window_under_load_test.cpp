// The real update window (Windows only; elsewhere no window opens and the test is skipped) while
// two rows report a 1 GiB download each, in 10 KiB chunks, as fast as the download loop runs:
// the window keeps answering and ends with every row's final state.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "download/download_task.h"
#include "download/progress.h"
#include "platform/streamed_request.h"
#include "platform/thread.h"
#include "platform/update_window.h"
#include "platform/window.h"
#include "automation/window_automation.h"
#include "state/program_state.h"
#include "update/update_window.h"

namespace velmora::download {
namespace {

using Clock = std::chrono::steady_clock;

// Serves `size` bytes of zeros to every request, as fast as it is asked.
class MemoryHttp final : public platform::StreamingHttp {
 public:
  explicit MemoryHttp(std::int64_t size) : size_(size) {}
  std::uint32_t ConnectedStateFlags() override { return 0; }
  std::unique_ptr<platform::InternetSession> OpenSession(const std::string&, std::uint32_t, std::uint32_t) override {
    return std::make_unique<Session>(size_);
  }

 private:
  class Request final : public platform::StreamedRequest {
   public:
    explicit Request(std::int64_t size) : left_(size), size_(size) {}
    std::int32_t StatusCode() override { return 200; }
    std::int64_t ContentLength() override { return size_; }
    std::string ContentEncoding() override { return {}; }
    std::string ContentRange() override { return {}; }
    std::int64_t Read(void* buffer, std::uint32_t size) override {
      const std::int64_t got = std::min<std::int64_t>(left_, size);
      std::memset(buffer, 0, static_cast<std::size_t>(got));
      left_ -= got;
      return got;
    }

   private:
    std::int64_t left_;
    std::int64_t size_;
  };
  class Session final : public platform::InternetSession {
   public:
    explicit Session(std::int64_t size) : size_(size) {}
    std::unique_ptr<platform::StreamedRequest> OpenUrl(const std::string&, const std::string&, std::uint32_t) override {
      return std::make_unique<Request>(size_);
    }

   private:
    std::int64_t size_;
  };
  std::int64_t size_;
};

bool RowsFinished(const platform::automation::GridInfo& grid) {
  if (grid.rows.size() != 2) return false;
  for (const auto& row : grid.rows) {
    if (row[2] != "100" || row[7] != "下载中" || row[5] != "1 GB") return false;
  }
  return true;
}

TEST(WindowUnderLoad, TwoGibibyteReportsKeepTheWindowAnsweringAndEndInTheFinalState) {
  constexpr std::int64_t kSize = std::int64_t{1} << 30;
  MemoryHttp http(kSize);
  platform::ReplaceStreamingHttp(&http);
  state::ResetState();
  state::State().taskList.resize(2);
  for (int row = 1; row <= 2; ++row) state::State().taskList[static_cast<std::size_t>(row - 1)].rowNumber = row;

  std::optional<platform::automation::GridInfo> grid;
  DownloadResult results[2] = {DownloadResult::ReadFailed, DownloadResult::ReadFailed};
  double slowestAnswerMs = 0;
  int answers = 0;
  platform::WindowEvents events;
  events.created = [&](platform::WindowHandle window) {
    platform::StartThread([&, window] {
      platform::UpdateWindow& operations = platform::PlatformUpdateWindow();
      for (int row = 1; row <= 2; ++row) {
        operations.InsertRow(row, std::to_string(row));
        operations.MakeProgressCell(row, kProgressColumn, platform::ProgressCellSpec{});
      }
      platform::ThreadHandle workers[2];
      for (int row = 1; row <= 2; ++row) {
        workers[row - 1] = platform::StartThread([&, row] {
          // "NUL" swallows the bytes: the disk is not what this test is about.
          results[row - 1] = state::State().taskList[static_cast<std::size_t>(row - 1)].task.Download(
              "http://127.0.0.1/big", "NUL", ReportProgress, 0, false, row);
        });
      }
      // A message round trip to the window's thread (the button's text) while the rows report.
      while (platform::IsThreadRunning(workers[0]) || platform::IsThreadRunning(workers[1])) {
        const Clock::time_point sent = Clock::now();
        platform::automation::ReadButton(window);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        slowestAnswerMs = std::max(slowestAnswerMs, ms);
        ++answers;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      for (int attempt = 0; attempt < 250; ++attempt) {
        grid = platform::automation::ReadGrid(window);
        if (grid && RowsFinished(*grid)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      platform::automation::CloseWindow(window);
    });
  };
  const bool shown = platform::ShowModalWindow(update::UpdateWindowDesign(), events);
  platform::ReplaceStreamingHttp(nullptr);
  if (!shown) {
    state::ResetState();
    GTEST_SKIP() << "no window system here";
  }

  EXPECT_EQ(results[0], DownloadResult::Ok);
  EXPECT_EQ(results[1], DownloadResult::Ok);
  state::ResetState();
  ASSERT_TRUE(grid);
  EXPECT_TRUE(RowsFinished(*grid));
  EXPECT_EQ(grid->rows[0][4], "1 GB");
  EXPECT_EQ(grid->rows[1][5], "1 GB");
  EXPECT_GT(answers, 0);
  // A generous bound: the goal (200 ms) is measured by the benchmark, not here.
  EXPECT_LT(slowestAnswerMs, 5000.0);
  std::printf("window answered %d times, slowest %.1f ms\n", answers, slowestAnswerMs);
}

}  // namespace
}  // namespace velmora::download
