// The download loop (DownloadTask::Download) over a request served from memory, into a file in the
// temporary directory: what the loop itself costs per chunk, without a network.
//
//   build-bench/native/bench/download_loop_bench [--benchmark_repetitions=3]
//
// Every iteration downloads 256 MiB (VELMORA_BENCH_DOWNLOAD_MIB changes it) in 10240-byte reads: a
// stand-in StreamingHttp (ReplaceStreamingHttp) answers 200 with the length and copies each chunk
// from a prepared buffer, as a socket read copies from the system's buffers. The file is truncated
// and written again by every iteration (it stays in the page cache) and removed at the end.
//
//   BM_WriteChunks           the floor: the same copies and 10240-byte writes, no DownloadTask
//   BM_Download/none         the loop without a progress callback
//   BM_Download/report       ReportProgress after every chunk (row texts formatted) into the POSIX
//                            layer's window, which drops the changes
//   BM_Download/report_pending ReportProgress into PendingWindowChanges, the structure the Windows
//                            program posts through, that nobody applies: the writer's side alone
//                            (each text change allocated, swapped in, the one it replaces freed)
//   BM_Download/report_window as report_pending, with a thread standing in for the window's thread:
//                            woken by the changes, it applies them to a target that only counts
//                            them. The realistic figure.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/download_task.h"
#include "download/progress.h"
#include "platform/file.h"
#include "platform/pending_window_changes.h"
#include "platform/streamed_request.h"
#include "platform/update_window.h"
#include "state/program_state.h"

namespace {

namespace fs = std::filesystem;
namespace download = velmora::download;
namespace platform = velmora::platform;
namespace state = velmora::state;

constexpr std::size_t kSourceBytes = std::size_t{1} << 20;  // the prepared buffer, cycled through

std::int64_t DownloadBytes() {
  const char* text = std::getenv("VELMORA_BENCH_DOWNLOAD_MIB");
  const long mib = text != nullptr ? std::atol(text) : 256;
  return static_cast<std::int64_t>(mib > 0 ? mib : 256) << 20;
}

const fs::path& BenchFile() {
  static const fs::path path = fs::temp_directory_path() / "velmora-download-loop-bench.bin";
  return path;
}

// kSourceBytes of data, followed by one more chunk of it, so every chunk is one contiguous copy.
const std::vector<char>& Source() {
  static const std::vector<char> bytes = [] {
    std::vector<char> data(kSourceBytes + download::kChunkSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i % kSourceBytes) * 7 + 3);
    return data;
  }();
  return bytes;
}

class MemoryRequest final : public platform::StreamedRequest {
 public:
  explicit MemoryRequest(std::int64_t length) : length_(length) {}
  std::int32_t StatusCode() override { return 200; }
  std::int64_t ContentLength() override { return length_; }
  std::string ContentEncoding() override { return {}; }
  std::string ContentRange() override { return {}; }
  std::int64_t Read(void* buffer, std::uint32_t size) override {
    const std::int64_t count = std::min<std::int64_t>(size, length_ - served_);
    std::memcpy(buffer, Source().data() + served_ % static_cast<std::int64_t>(kSourceBytes),
                static_cast<std::size_t>(count));
    served_ += count;
    return count;
  }

 private:
  std::int64_t length_;
  std::int64_t served_ = 0;
};

class MemorySession final : public platform::InternetSession {
 public:
  explicit MemorySession(std::int64_t length) : length_(length) {}
  std::unique_ptr<platform::StreamedRequest> OpenUrl(const std::string&, const std::string&,
                                                     std::uint32_t) override {
    return std::make_unique<MemoryRequest>(length_);
  }

 private:
  std::int64_t length_;
};

class MemoryHttp final : public platform::StreamingHttp {
 public:
  explicit MemoryHttp(std::int64_t length) : length_(length) {}
  std::uint32_t ConnectedStateFlags() override { return 0; }
  std::unique_ptr<platform::InternetSession> OpenSession(const std::string&, std::uint32_t,
                                                         std::uint32_t) override {
    return std::make_unique<MemorySession>(length_);
  }

 private:
  std::int64_t length_;
};

// The window's thread as far as the changes are concerned: woken by them, it applies them to a
// grid that only counts what reaches it.
class CountingTarget final : public platform::WindowChangeTarget {
 public:
  int RowCount() const override { return rows_; }
  void InsertRow(int, const std::string&) override { ++rows_; }
  void SetCellText(int, int, const std::string& text) override { cells_ += text.empty() ? 0 : 1; }
  void MakeProgressCell(int, int, const platform::ProgressCellSpec&) override {}
  void SetProgressValue(int, int, std::int32_t) override { ++cells_; }
  void EnableButton(bool) override {}
  void SetButtonCaption(const std::string&) override {}
  void SetTimerInterval(std::uint32_t) override {}
  std::int64_t Cells() const { return cells_; }

 private:
  int rows_ = 0;
  std::int64_t cells_ = 0;
};

std::mutex wakeMutex;
std::condition_variable wakeSignal;
bool woken = false;

bool WakeWindowThread() {
  {
    const std::lock_guard<std::mutex> lock(wakeMutex);
    woken = true;
  }
  wakeSignal.notify_one();
  return true;
}

class WindowThreadStandIn {
 public:
  WindowThreadStandIn() : changes_(WakeWindowThread) {
    changes_.Open();
    thread_ = std::thread([this] { Run(); });
  }
  ~WindowThreadStandIn() {
    {
      const std::lock_guard<std::mutex> lock(wakeMutex);
      stop_ = true;
    }
    wakeSignal.notify_one();
    thread_.join();
    changes_.Close();
  }
  platform::UpdateWindow& Window() { return changes_; }
  std::int64_t Applies() const { return applies_.load(); }

 private:
  void Run() {
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(wakeMutex);
        // The real window also applies on a 250 ms timer of its own.
        wakeSignal.wait_for(lock, std::chrono::milliseconds(250), [this] { return woken || stop_; });
        woken = false;
        if (stop_) return;
      }
      if (changes_.Apply(target_) > 0) applies_.fetch_add(1);
    }
  }

  platform::PendingWindowChanges changes_;
  CountingTarget target_;
  bool stop_ = false;
  std::atomic<std::int64_t> applies_{0};
  std::thread thread_;
};

// Row 1 as the update check leaves it: a task record and the row's cells.
void SetUpRow() {
  state::ResetState();
  state::TaskRecord record;
  record.rowNumber = 1;
  state::State().taskList.push_back(record);
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  window.InsertRow(1, "1");
  window.SetCellText(1, 1, "\\download-loop-bench.bin");
  window.MakeProgressCell(1, download::kProgressColumn, platform::ProgressCellSpec{});
  window.SetCellText(1, download::kSpeedColumn, "0 KB/s");
}

enum class Callback { None, Report, ReportPending, ReportToWindow };

bool NoWake() { return true; }  // the "window" counts as woken, so it is never woken again

void BM_Download(benchmark::State& benchState, Callback callback) {
  const std::int64_t size = DownloadBytes();
  MemoryHttp http(size);
  platform::ReplaceStreamingHttp(&http);
  std::unique_ptr<WindowThreadStandIn> windowThread;
  platform::PendingWindowChanges unapplied(NoWake);
  if (callback == Callback::ReportPending) {
    unapplied.Open();
    platform::ReplaceUpdateWindow(&unapplied);
  }
  if (callback == Callback::ReportToWindow) {
    windowThread = std::make_unique<WindowThreadStandIn>();
    platform::ReplaceUpdateWindow(&windowThread->Window());
  }
  SetUpRow();
  const download::ProgressCallback progress = callback == Callback::None ? nullptr : download::ReportProgress;
  download::DownloadTask& task = state::State().taskList.front().task;
  for (auto _ : benchState) {
    const download::DownloadResult result = task.Download("http://127.0.0.1/bench.bin", BenchFile().string(),
                                                          progress, 0, false, 1);
    if (result != download::DownloadResult::Ok || task.Position() != size) {
      benchState.SkipWithError("the download did not complete");
      break;
    }
  }
  benchState.SetBytesProcessed(static_cast<std::int64_t>(benchState.iterations()) * size);
  benchState.counters["chunks_per_iteration"] =
      static_cast<double>((size + download::kChunkSize - 1) / download::kChunkSize);
  if (windowThread) {
    benchState.counters["window_applies"] =
        benchmark::Counter(static_cast<double>(windowThread->Applies()), benchmark::Counter::kAvgIterations);
  }
  platform::ReplaceUpdateWindow(nullptr);
  windowThread.reset();
  platform::ReplaceStreamingHttp(nullptr);
  state::ResetState();
}

void BM_WriteChunks(benchmark::State& benchState) {
  const std::int64_t size = DownloadBytes();
  std::vector<char> buffer(download::kChunkSize);
  for (auto _ : benchState) {
    platform::OutputFile file;
    if (!file.Open(BenchFile().string(), platform::OutputFile::Mode::CreateOrTruncate)) {
      benchState.SkipWithError("the file did not open");
      break;
    }
    MemoryRequest request(size);
    for (;;) {
      const std::int64_t got = request.Read(buffer.data(), download::kChunkSize);
      if (got <= 0) break;
      if (!file.Write(buffer.data(), static_cast<std::size_t>(got))) {
        benchState.SkipWithError("a write failed");
        break;
      }
    }
    file.Close();
  }
  benchState.SetBytesProcessed(static_cast<std::int64_t>(benchState.iterations()) * size);
}

BENCHMARK(BM_WriteChunks)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK_CAPTURE(BM_Download, none, Callback::None)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK_CAPTURE(BM_Download, report, Callback::Report)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK_CAPTURE(BM_Download, report_pending, Callback::ReportPending)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK_CAPTURE(BM_Download, report_window, Callback::ReportToWindow)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove(BenchFile(), ignored);
  return 0;
}
