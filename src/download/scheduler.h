// The downloads of a run: the start button starts kMaxRunningWorkers runner threads that run each
// grid row's worker in row order, while the window stays responsive; each worker frees its target,
// downloads into a staging file, checks it, and records the outcome in its row and in the
// program-wide counters. Nothing is put in place until every row has ended: then the completion
// check commits the whole release (completion.h). Closing the window stops them.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::download {

// Row status texts (GBK in the program; written here in UTF-8).
inline constexpr char kStatusSucceeded[] = "下载成功";
inline constexpr char kStatusLockedPrefix[] = "文件被占用,解除中->";
inline constexpr char kStatusReadFailed[] = "读本地文件失败";
inline constexpr char kStatusNoInternet[] = "网络连接失败";
inline constexpr char kStatusBadAddress[] = "下载地址错误";
inline constexpr char kStatusLocalFile[] = "不能打开本地文件";
inline constexpr char kStatusEmpty[] = "网页文件为空";
inline constexpr char kStatusDigestMismatch[] = "文件校验失败";

// How long the fallback's whole-resource request may take.
inline constexpr std::uint32_t kFallbackWaitMs = 30000;
// How long closing the window waits for the threads to stop before ending them by force.
inline constexpr std::uint32_t kStopWaitMs = 2000;

// One row's work (RunWorker in the program; tests pass stand-ins).
using WorkerRoutine = void (*)(std::int32_t row);

// The start button's click handler, on the window's thread: disables the button, starts the
// completion timer (500 ms), resets the counters, frees the program that will be launched at the
// end, starts the rows (StartRows) and sets the caption "正在下载". Returns early when the window
// is being closed.
void StartDownloads(WorkerRoutine worker);
void StartDownloads();

// The parts of StartDownloads, for a run without a window. ResetRunCounters: no stop requested,
// every counter 0. FreeLaunchTarget: ends the running product (the program launched at the end)
// when the run may end it. StartRows: runs each row's worker in row order, at
// most kMaxRunningWorkers at a time: that many runner threads take the rows in order, each the next
// row as soon as its own has ended, until none is left or a stop is requested. Returns once the
// runners are started; every row's `workerThread` is then one of the runners' handles, so waiting
// for every row's handle waits for every row.
void ResetRunCounters();
void FreeLaunchTarget();
void StartRows(WorkerRoutine worker);

// Row `row`'s worker (1-based). Counts the row exactly once, as succeeded or failed.
void RunWorker(std::int32_t row);

// The user closes the window: no further row is started, every download is asked to stop, and the
// completion check shows nothing any more. The window goes when the click handler has returned.
void RequestStop();
bool StopRequested();

// The window is about to be destroyed: asks the workers to stop, waits at most kStopWaitMs in all
// for them and for the update check, then ends by force whatever still runs. Files in the product's
// place are never half-written either way.
void StopThreads();

// Waits `amount` units (0 ms, 1 s, 2 min, 3 h) while the calling thread processes its messages.
bool PumpingDelay(std::int64_t amount, std::int32_t unit = 0);

// Creates every directory on the way to `path`'s file ("C:\App\Bin\x.dll": "C:\", "C:\App\",
// "C:\App\Bin\"), ignoring failures and existing ones. Only drive-letter paths: false otherwise.
bool CreateParentDirectories(const std::string& path);

}  // namespace velmora::download
