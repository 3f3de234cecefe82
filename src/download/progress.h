// Progress and speed of a row's download, shown in its grid cells after every chunk: progress bar,
// average speed, size, amount downloaded, elapsed milliseconds and a status word.
//
// The texts are ASCII (the status words aside), so they read the same in GBK.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::download {

// Grid columns written by the progress report (0-based, as the update window defines them).
inline constexpr int kProgressColumn = 2;
inline constexpr int kSpeedColumn = 3;
inline constexpr int kSizeColumn = 4;
inline constexpr int kDownloadedColumn = 5;
inline constexpr int kElapsedColumn = 6;
inline constexpr int kStatusColumn = 7;

// `value` rounded to `decimals` places, halves away from zero: the absolute value is scaled by
// 10^decimals, 1e-12 is added, and the integer part goes up by one when the fraction is at least
// 0.5 (the nudge makes 1.005 * 100 = 100.49999999999999 round up). Zero stays zero.
double RoundHalfAway(double value, int decimals);

// A byte count as "<n> <unit>": B below 1024, KB from 1024, MB from 1048576, GB from 1073741824
// (and beyond: 1 TiB is "1024 GB"), rounded to 2 decimals and written in the shortest form with
// at most 13 significant digits ("0 B", "1.5 KB", "9.54 MB"). Comparisons allow 1e-7.
std::string FormatSize(double bytes);

// Kilobytes per second with two decimals: "123.40 KB/s" below 1024, "2.00 MB/s" from 1024.
std::string FormatSpeed(float kilobytesPerSecond);

// What a row shows for a download that has `position` of `contentLength` (> 0) bytes after
// `elapsedMs` (> 0) milliseconds, `receivedBytes` of them received in that time (a resumed download
// began with the rest already present); -1: all of them.
struct RowProgress {
  std::int32_t percent = 0;  // truncated toward zero
  std::string speed;         // FormatSpeed of the average (received bytes), rounded to one decimal
  std::string size;          // FormatSize of contentLength
  std::string downloaded;    // FormatSize of position
  std::string elapsed;       // plain milliseconds, "2000"
  bool complete = false;     // every announced byte is present (the status stays "下载中")
};

RowProgress ComputeRowProgress(std::int64_t contentLength, std::int64_t position, std::int32_t elapsedMs,
                               std::int64_t receivedBytes = -1);

// Writes `progress` into row `row` of the update window, in column order 2 to 7, with the status
// "下载中": a row is "下载成功" only once its file has been checked and put in place, which the
// row's worker does after the download.
void ShowRowProgress(int row, const RowProgress& progress);

// The progress callback of every row's download (a ProgressCallback): `userData` is the row
// number; the other arguments are not read. Reads the row's task counters and shows them: of a
// resumed download, the whole file's size and every byte present, with the speed of this run's
// bytes. Rows that do not exist are ignored. Runs on the row's worker thread.
void ReportProgress(std::int32_t contentLength, std::int32_t position, std::int32_t elapsedMs,
                    std::int32_t receivedBytes, std::int32_t userData);

}  // namespace velmora::download
