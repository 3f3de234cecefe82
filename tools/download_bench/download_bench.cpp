// download-bench: the Windows side of the download benchmark (bench/download_bench.py runs it under
// Wine against a local server). A console program of the benchmarks, never shipped.
//
//   download-bench --mode wininet URL OUT --result FILE [--peek] [--receive-timeout MS]
//   download-bench --mode velmora URL OUT --result FILE [--progress report|pending|compute|none]
//
// wininet  The least a WinINet program does to fetch URL into OUT: InternetOpenA, InternetOpenUrlA
//          with the download's header block and request flags (0x84000100), InternetReadFile 10240
//          bytes at a time and WriteFile of every chunk. The ceiling for the program's own loop.
//          To see where the program's loop spends its time, two of its extras can be added:
//          --peek empties the thread's message queue after every chunk (PeekMessageW, as the loop
//          does), --receive-timeout sets the session's receive time-out (the program sets 30000).
// velmora  The program's own download as a grid row's worker runs it: the update window open
//          (ShowModalWindow with UpdateWindowDesign) with row 1 set up as the update check sets up
//          its rows, a TaskRecord for it in the program state, and DownloadTask::Download(URL, OUT,
//          ReportProgress, 0, false, 1) on a thread of its own. While the transfer runs, another
//          thread times a message round trip to the window (SendMessageTimeoutW with WM_NULL) every
//          20 ms: how far the window's thread is behind. When the transfer is done the tool reads
//          row 1 back from the grid and closes the window.
//          --progress picks the callback, to see where time goes: report (ReportProgress, the
//          default), pending (ReportProgress into a PendingWindowChanges of its own that is never
//          applied: the writer's side of the window changes without the window's work; the final
//          report goes to the window), compute (the row's texts computed, nothing sent to the
//          window), none (no callback at all).
//
// Writes one line of JSON to FILE (stdout is not dependable under Wine):
//   mode, variant (velmora: the callback; wininet: peek, timeout), bytes, seconds, mbps (10^6 bytes
//   per second), ok; endReadMs, requestCloseMs, sessionCloseMs (the read that found the end of the
//   body, closing the request, closing the session; -1 when not reached); error (a text) when
//   something failed
//   wininet only: fileCloseMs
//   velmora only: result (the DownloadResult), bodyMs (the task's own elapsed time, from the body's
//   start), toFirstReportMs and afterLastReportMs (from the call to the first progress report, and
//   from the last one to the return; -1 without a callback), lagSamples, lagMaxMs, lagP99Ms,
//   lagOver200 (round trips above 200 ms), lagTimeouts (round trips that gave up after 10 s), row
//   (grid row 1's cell texts, UTF-8)
// The velmora mode's timings come from a pass-through layer over the platform's streamed request
// and around the callback: three clock reads per chunk, well under a microsecond.
// Exit code 0 when the transfer succeeded, 1 when it failed, 2 for wrong arguments.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "download/download_task.h"
#include "download/progress.h"
#include "platform/pending_window_changes.h"
#include "platform/streamed_request.h"
#include "platform/update_window.h"
#include "platform/window.h"
#include "automation/json_output.h"
#include "automation/window_automation.h"
#include "state/program_state.h"
#include "text/encoding.h"
#include "update/update_window.h"

namespace {

namespace download = velmora::download;
namespace platform = velmora::platform;
namespace state = velmora::state;

using Clock = std::chrono::steady_clock;

constexpr DWORD kChunk = download::kChunkSize;
constexpr DWORD kLagIntervalMs = 20;
constexpr UINT kLagTimeoutMs = 10000;
constexpr double kLagGoalMs = 200.0;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string JsonNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.3f", value);
  return text;
}

struct Outcome {
  std::string mode;
  std::string variant;  // the velmora callback, or the wininet extras
  std::int64_t bytes = 0;
  double seconds = 0;
  bool ok = false;
  std::string error;
  // velmora only
  bool hasWindowFigures = false;
  std::int32_t result = -100;
  std::size_t lagSamples = 0;
  double lagMaxMs = 0;
  double lagP99Ms = 0;
  std::size_t lagOver200 = 0;
  std::size_t lagTimeouts = 0;
  std::vector<std::string> row;
  double toFirstReportMs = -1;    // from the call to the first progress report
  double afterLastReportMs = -1;  // from the last progress report to the return
  std::int32_t bodyMs = 0;        // the task's own elapsed time (from the body's start)
  // Both modes: the read that found the end, closing the request and the session (-1: not seen).
  double endReadMs = -1;
  double requestCloseMs = -1;
  double sessionCloseMs = -1;
  double fileCloseMs = -1;  // wininet only
};

std::string ToJson(const Outcome& outcome) {
  std::string json = "{\"mode\":" + velmora::probe::Quote(outcome.mode);
  if (!outcome.variant.empty()) json += ",\"variant\":" + velmora::probe::Quote(outcome.variant);
  json += ",\"bytes\":" + std::to_string(outcome.bytes);
  json += ",\"seconds\":" + JsonNumber(outcome.seconds);
  const double mbps = outcome.seconds > 0 ? static_cast<double>(outcome.bytes) / 1e6 / outcome.seconds : 0.0;
  json += ",\"mbps\":" + JsonNumber(mbps);
  json += std::string(",\"ok\":") + (outcome.ok ? "true" : "false");
  json += ",\"endReadMs\":" + JsonNumber(outcome.endReadMs);
  json += ",\"requestCloseMs\":" + JsonNumber(outcome.requestCloseMs);
  json += ",\"sessionCloseMs\":" + JsonNumber(outcome.sessionCloseMs);
  if (outcome.fileCloseMs >= 0) json += ",\"fileCloseMs\":" + JsonNumber(outcome.fileCloseMs);
  if (outcome.hasWindowFigures) {
    json += ",\"result\":" + std::to_string(outcome.result);
    json += ",\"bodyMs\":" + std::to_string(outcome.bodyMs);
    json += ",\"toFirstReportMs\":" + JsonNumber(outcome.toFirstReportMs);
    json += ",\"afterLastReportMs\":" + JsonNumber(outcome.afterLastReportMs);
    json += ",\"lagSamples\":" + std::to_string(outcome.lagSamples);
    json += ",\"lagMaxMs\":" + JsonNumber(outcome.lagMaxMs);
    json += ",\"lagP99Ms\":" + JsonNumber(outcome.lagP99Ms);
    json += ",\"lagOver200\":" + std::to_string(outcome.lagOver200);
    json += ",\"lagTimeouts\":" + std::to_string(outcome.lagTimeouts);
    json += ",\"row\":[";
    for (std::size_t i = 0; i < outcome.row.size(); ++i) {
      if (i > 0) json += ',';
      json += velmora::probe::Quote(outcome.row[i]);
    }
    json += "]";
  }
  if (!outcome.error.empty()) json += ",\"error\":" + velmora::probe::Quote(outcome.error);
  return json + "}\n";
}

bool WriteResult(const std::string& path, const Outcome& outcome) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const std::string json = ToJson(outcome);
  const bool written = std::fwrite(json.data(), 1, json.size(), file) == json.size();
  return std::fclose(file) == 0 && written;
}

// ---- wininet ---------------------------------------------------------------------------------

struct InternetCloser {
  HINTERNET handle;
  ~InternetCloser() {
    if (handle != nullptr) InternetCloseHandle(handle);
  }
};

struct FileCloser {
  HANDLE handle;
  ~FileCloser() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

struct WinInetOptions {
  bool peek = false;
  DWORD receiveTimeoutMs = 0;  // 0: WinINet's own
};

void RunWinInet(const std::string& url, const std::string& out, const WinInetOptions& options, Outcome& outcome) {
  const Clock::time_point start = Clock::now();
  HINTERNET session = InternetOpenA("download-bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) {
    outcome.error = "InternetOpenA failed";
    return;
  }
  InternetCloser sessionCloser{session};
  if (options.receiveTimeoutMs != 0) {
    DWORD timeout = options.receiveTimeoutMs;
    InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
  }
  HINTERNET request = InternetOpenUrlA(session, url.c_str(), download::kRequestHeaders,
                                       static_cast<DWORD>(sizeof(download::kRequestHeaders) - 1),
                                       platform::kDownloadRequestFlags, 0);
  if (request == nullptr) {
    outcome.error = "InternetOpenUrlA failed";
    return;
  }
  InternetCloser requestCloser{request};
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
      status != 200) {
    outcome.error = "status " + std::to_string(status);
    return;
  }
  HANDLE file = CreateFileA(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    outcome.error = "CreateFileA failed";
    return;
  }
  FileCloser fileCloser{file};
  std::vector<char> buffer(kChunk);
  for (;;) {
    DWORD got = 0;
    const Clock::time_point readStart = Clock::now();
    if (!InternetReadFile(request, buffer.data(), kChunk, &got)) {
      outcome.error = "InternetReadFile failed";
      return;
    }
    if (got == 0) {
      outcome.endReadMs = MsSince(readStart);
      break;
    }
    DWORD written = 0;
    if (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got) {
      outcome.error = "WriteFile failed";
      return;
    }
    outcome.bytes += got;
    if (options.peek) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
  }
  // Closed in the program's order: the file, the request, the session.
  Clock::time_point closing = Clock::now();
  fileCloser.handle = INVALID_HANDLE_VALUE;
  const bool fileClosed = CloseHandle(file) != FALSE;
  outcome.fileCloseMs = MsSince(closing);
  closing = Clock::now();
  requestCloser.handle = nullptr;
  InternetCloseHandle(request);
  outcome.requestCloseMs = MsSince(closing);
  closing = Clock::now();
  sessionCloser.handle = nullptr;
  InternetCloseHandle(session);
  outcome.sessionCloseMs = MsSince(closing);
  outcome.seconds = SecondsSince(start);
  if (!fileClosed) {
    outcome.error = "CloseHandle of the file failed";
    return;
  }
  outcome.ok = true;
}

// ---- velmora ---------------------------------------------------------------------------------

// The callback chosen with --progress, called through Timed, which notes when the first and the
// last report came (one clock read per chunk).
download::ProgressCallback chosenCallback = nullptr;
bool reported = false;
Clock::time_point firstReport;
Clock::time_point lastReport;

void Timed(std::int32_t contentLength, std::int32_t position, std::int32_t elapsedMs, std::int32_t receivedBytes,
           std::int32_t userData) {
  lastReport = Clock::now();
  if (!reported) {
    reported = true;
    firstReport = lastReport;
  }
  if (chosenCallback != nullptr) chosenCallback(contentLength, position, elapsedMs, receivedBytes, userData);
}

void ComputeOnly(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t userData) {
  const download::DownloadTask& task = state::State().taskList[static_cast<std::size_t>(userData - 1)].task;
  if (task.ContentLength() <= 0 || task.ElapsedMs() <= 0) return;
  const download::RowProgress progress =
      download::ComputeRowProgress(task.ContentLength(), task.Position(), task.ElapsedMs());
  static volatile std::size_t sink = 0;
  sink = sink + progress.speed.size() + progress.downloaded.size();
}

// Times a round trip to the window every kLagIntervalMs until `stop` is signalled.
class LagProbe {
 public:
  LagProbe(HWND window, HANDLE stop) : window_(window), stop_(stop) {}

  void Run() {
    for (;;) {
      const Clock::time_point sent = Clock::now();
      DWORD_PTR answer = 0;
      const LRESULT answered = SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, kLagTimeoutMs, &answer);
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
      if (answered == 0) ++timeouts_;
      samples_.push_back(ms);
      if (WaitForSingleObject(stop_, kLagIntervalMs) == WAIT_OBJECT_0) return;
    }
  }

  void Report(Outcome& outcome) const {
    std::vector<double> sorted = samples_;
    std::sort(sorted.begin(), sorted.end());
    outcome.lagSamples = sorted.size();
    outcome.lagTimeouts = timeouts_;
    if (sorted.empty()) return;
    outcome.lagMaxMs = sorted.back();
    // The nearest-rank 99th percentile.
    const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(sorted.size())));
    outcome.lagP99Ms = sorted[std::max<std::size_t>(rank, 1) - 1];
    outcome.lagOver200 = static_cast<std::size_t>(
        std::count_if(sorted.begin(), sorted.end(), [](double ms) { return ms > kLagGoalMs; }));
  }

 private:
  HWND window_;
  HANDLE stop_;
  std::vector<double> samples_;
  std::size_t timeouts_ = 0;
};

bool NoWake() { return true; }  // counts as woken, so it is never woken again

// The platform's streamed requests, passed through, with the time of the read that finds the end
// of the body and of closing the request and the session.
struct EndTimes {
  double endReadMs = -1;
  double requestCloseMs = -1;
  double sessionCloseMs = -1;
};
EndTimes endTimes;

class TimedRequest final : public platform::StreamedRequest {
 public:
  explicit TimedRequest(std::unique_ptr<platform::StreamedRequest> inner) : inner_(std::move(inner)) {}
  ~TimedRequest() override {
    const Clock::time_point start = Clock::now();
    inner_.reset();
    endTimes.requestCloseMs = MsSince(start);
  }
  std::int32_t StatusCode() override { return inner_->StatusCode(); }
  std::int64_t ContentLength() override { return inner_->ContentLength(); }
  std::string ContentEncoding() override { return inner_->ContentEncoding(); }
  std::string ContentRange() override { return inner_->ContentRange(); }
  std::string ContentType() override { return inner_->ContentType(); }
  std::int64_t Read(void* buffer, std::uint32_t size) override {
    const Clock::time_point start = Clock::now();
    const std::int64_t got = inner_->Read(buffer, size);
    if (got == 0) endTimes.endReadMs = MsSince(start);
    return got;
  }

 private:
  std::unique_ptr<platform::StreamedRequest> inner_;
};

class TimedSession final : public platform::InternetSession {
 public:
  explicit TimedSession(std::unique_ptr<platform::InternetSession> inner) : inner_(std::move(inner)) {}
  ~TimedSession() override {
    const Clock::time_point start = Clock::now();
    inner_.reset();
    endTimes.sessionCloseMs = MsSince(start);
  }
  std::unique_ptr<platform::StreamedRequest> OpenUrl(const std::string& url, const std::string& headers,
                                                     std::uint32_t flags) override {
    std::unique_ptr<platform::StreamedRequest> request = inner_->OpenUrl(url, headers, flags);
    if (!request) return nullptr;
    return std::make_unique<TimedRequest>(std::move(request));
  }

 private:
  std::unique_ptr<platform::InternetSession> inner_;
};

class TimedHttp final : public platform::StreamingHttp {
 public:
  std::uint32_t ConnectedStateFlags() override { return platform::PlatformStreamingHttp().ConnectedStateFlags(); }
  std::unique_ptr<platform::InternetSession> OpenSession(const std::string& agent, std::uint32_t accessType,
                                                         std::uint32_t receiveTimeoutMs) override {
    std::unique_ptr<platform::InternetSession> session =
        platform::PlatformStreamingHttp().OpenSession(agent, accessType, receiveTimeoutMs);
    if (!session) return nullptr;
    return std::make_unique<TimedSession>(std::move(session));
  }
};

struct VelmoraRun {
  std::string url;
  std::string out;
  download::ProgressCallback callback = nullptr;
  bool unappliedChanges = false;  // --progress pending
  Outcome* outcome = nullptr;
  std::thread coordinator;
};

// Row 1 as the update check sets up a row.
void SetUpRow() {
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  window.InsertRow(1, "1");
  window.SetCellText(1, velmora::update::kColumnFileName, "\\download-bench.bin");
  window.MakeProgressCell(1, velmora::update::kColumnProgress, platform::ProgressCellSpec{});
  window.SetCellText(1, velmora::update::kColumnSpeed, "0 KB/s");
  window.SetCellText(1, velmora::update::kColumnStatus, velmora::text::Utf8ToNarrow("准备下载"));
}

// Row 1's texts once the window shows the last progress report, told by its elapsed time (or after
// two seconds); at once when `lastElapsed` is empty (no report went to the window).
std::vector<std::string> ReadRowOne(platform::WindowHandle window, const std::string& lastElapsed) {
  constexpr auto kColumn = static_cast<std::size_t>(velmora::update::kColumnElapsed);
  std::vector<std::string> row;
  for (int attempt = 0; attempt < 40; ++attempt) {
    const auto grid = platform::automation::ReadGrid(window, 0, 1);
    if (grid && !grid->rows.empty()) row = grid->rows.front();
    if (lastElapsed.empty() || (row.size() > kColumn && row[kColumn] == lastElapsed)) break;
    Sleep(50);
  }
  return row;
}

void Coordinate(VelmoraRun& run, HWND window) {
  Outcome& outcome = *run.outcome;
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  LagProbe probe(window, stop);
  std::thread probeThread([&probe] { probe.Run(); });

  platform::PendingWindowChanges unapplied(NoWake);
  if (run.unappliedChanges) {
    unapplied.Open();
    platform::ReplaceUpdateWindow(&unapplied);
  }
  TimedHttp timedHttp;
  platform::ReplaceStreamingHttp(&timedHttp);
  download::DownloadTask& task = state::State().taskList.front().task;
  const Clock::time_point start = Clock::now();
  chosenCallback = run.callback;
  const download::DownloadResult result =
      task.Download(run.url, run.out, run.callback != nullptr ? Timed : nullptr, 0, false, 1);
  const Clock::time_point end = Clock::now();
  outcome.seconds = std::chrono::duration<double>(end - start).count();
  if (reported) {
    outcome.toFirstReportMs = std::chrono::duration<double, std::milli>(firstReport - start).count();
    outcome.afterLastReportMs = std::chrono::duration<double, std::milli>(end - lastReport).count();
  }
  outcome.bodyMs = task.ElapsedMs();
  platform::ReplaceStreamingHttp(nullptr);
  outcome.endReadMs = endTimes.endReadMs;
  outcome.requestCloseMs = endTimes.requestCloseMs;
  outcome.sessionCloseMs = endTimes.sessionCloseMs;
  if (run.unappliedChanges) {
    platform::ReplaceUpdateWindow(nullptr);
    download::ReportProgress(0, 0, 0, 0, 1);  // the row's final state, to the window
  }

  SetEvent(stop);
  probeThread.join();
  CloseHandle(stop);

  outcome.result = static_cast<std::int32_t>(result);
  outcome.bytes = task.Position();
  outcome.ok = result == download::DownloadResult::Ok;
  if (!outcome.ok) outcome.error = "Download returned " + std::to_string(outcome.result);
  probe.Report(outcome);
  const bool reportsShown = run.callback == download::ReportProgress && reported;
  outcome.row = ReadRowOne(reinterpret_cast<platform::WindowHandle>(window),
                           reportsShown ? std::to_string(task.ElapsedMs()) : std::string());
  PostMessageW(window, WM_CLOSE, 0, 0);
}

void RunVelmora(VelmoraRun& run) {
  Outcome& outcome = *run.outcome;
  outcome.hasWindowFigures = true;
  state::ResetState();
  state::TaskRecord record;
  record.rowNumber = 1;
  state::State().taskList.push_back(record);
  state::State().entryCount = 1;

  platform::WindowEvents events;
  events.created = [&run](platform::WindowHandle handle) {
    SetUpRow();
    const HWND window = reinterpret_cast<HWND>(handle);
    run.coordinator = std::thread([&run, window] { Coordinate(run, window); });
  };
  const bool shown = platform::ShowModalWindow(velmora::update::UpdateWindowDesign(), events);
  if (run.coordinator.joinable()) run.coordinator.join();
  if (!shown && outcome.error.empty()) outcome.error = "the window could not be shown";
}

int Usage() {
  std::fprintf(stderr,
               "usage: download-bench --mode wininet URL OUT --result FILE [--peek] [--receive-timeout MS]\n"
               "       download-bench --mode velmora URL OUT --result FILE [--progress report|pending|compute|none]\n"
               "       download-bench --mode wininet-set LIST --result FILE (LIST: \"URL FILE\" lines, two at a time)\n");
  return 2;
}

}  // namespace

// Fetches every (url, file) pair of `listPath` (one "URL FILE" per line) with RunWinInet, two at
// a time, as the updater's workers do; the outcome's bytes and seconds cover the whole set.
void RunWinInetSet(const std::string& listPath, const WinInetOptions& options, Outcome& outcome) {
  std::vector<std::pair<std::string, std::string>> pairs;
  if (FILE* list = std::fopen(listPath.c_str(), "r")) {
    char url[2048];
    char out[2048];
    while (std::fscanf(list, "%2047s %2047s", url, out) == 2) pairs.emplace_back(url, out);
    std::fclose(list);
  }
  if (pairs.empty()) {
    outcome.error = "no pairs in " + listPath;
    return;
  }
  const Clock::time_point start = Clock::now();
  std::atomic<std::size_t> next{0};
  std::vector<Outcome> outcomes(pairs.size());
  auto fetch = [&] {
    for (std::size_t index = next++; index < pairs.size(); index = next++) {
      RunWinInet(pairs[index].first, pairs[index].second, options, outcomes[index]);
    }
  };
  std::thread first(fetch);
  std::thread second(fetch);
  first.join();
  second.join();
  outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  outcome.ok = true;
  for (const Outcome& one : outcomes) {
    outcome.bytes += one.bytes;
    if (!one.ok) {
      outcome.ok = false;
      outcome.error = one.error;
    }
  }
}

int main(int argc, char** argv) {
  std::string mode;
  std::string progress = "report";
  std::string resultPath;
  std::vector<std::string> positional;
  WinInetOptions wininet;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if ((argument == "--mode" || argument == "--result" || argument == "--progress") && i + 1 < argc) {
      (argument == "--mode" ? mode : argument == "--result" ? resultPath : progress) = argv[++i];
    } else if (argument == "--peek") {
      wininet.peek = true;
    } else if (argument == "--receive-timeout" && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long value = std::strtoul(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || value == 0 || value > 0xFFFFFFFFUL) return Usage();
      wininet.receiveTimeoutMs = static_cast<DWORD>(value);
    } else if (argument.rfind("--", 0) == 0) {
      return Usage();
    } else {
      positional.push_back(argument);
    }
  }
  if (mode == "wininet-set" && positional.size() == 1 && !resultPath.empty()) {
    Outcome outcome;
    outcome.mode = mode;
    RunWinInetSet(positional[0], wininet, outcome);
    if (!WriteResult(resultPath, outcome)) return 1;
    return outcome.ok ? 0 : 1;
  }
  if (positional.size() != 2 || resultPath.empty() || (mode != "wininet" && mode != "velmora") ||
      (progress != "report" && progress != "pending" && progress != "compute" && progress != "none")) {
    return Usage();
  }

  Outcome outcome;
  outcome.mode = mode;
  if (mode == "wininet") {
    if (wininet.peek) outcome.variant = "peek";
    if (wininet.receiveTimeoutMs != 0) {
      outcome.variant += (outcome.variant.empty() ? "" : ",");
      outcome.variant += "timeout";
    }
    RunWinInet(positional[0], positional[1], wininet, outcome);
  } else {
    outcome.variant = progress;
    VelmoraRun run;
    run.url = positional[0];
    run.out = positional[1];
    run.callback = progress == "compute" ? ComputeOnly : progress == "none" ? nullptr : download::ReportProgress;
    run.unappliedChanges = progress == "pending";
    run.outcome = &outcome;
    RunVelmora(run);
  }
  if (!WriteResult(resultPath, outcome)) return 1;
  return outcome.ok ? 0 : 1;
}
