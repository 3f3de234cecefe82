#include "download/progress.h"

#include <cmath>
#include <cstdio>

#include "platform/update_window.h"
#include "state/program_state.h"
#include "text/encoding.h"

namespace velmora::download {
namespace {

constexpr double kTolerance = 1e-7;
constexpr double kKibibyte = 1024.0;
constexpr double kMebibyte = 1048576.0;
constexpr double kGibibyte = 1073741824.0;

// a < b with the display tolerance.
bool Below(double a, double b) { return a - b < -kTolerance; }

std::string Printed(const char* format, double value) {
  char text[64];
  const int length = std::snprintf(text, sizeof(text), format, value);
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

const std::string& DownloadingStatus() {
  static const std::string text = text::Utf8ToNarrow("下载中");
  return text;
}

}  // namespace

double RoundHalfAway(double value, int decimals) {
  if (value == 0.0) return 0.0;
  const double scale = std::pow(10.0, decimals);
  const double scaled = std::fabs(value) * scale + 1e-12;
  double whole = 0.0;
  const double fraction = std::modf(scaled, &whole);
  if (fraction >= 0.5) whole += 1.0;
  const double rounded = whole / scale;
  return value < 0.0 ? -rounded : rounded;
}

std::string FormatSize(double bytes) {
  double x = bytes;
  const char* unit = "B";
  // The boundaries themselves take the larger unit: 1024 is "1 KB", not "1024 B".
  if (Below(x, kKibibyte)) {
    unit = "B";
  } else if (Below(x, kMebibyte)) {
    x /= kKibibyte;
    unit = "KB";
  } else if (Below(x, kGibibyte)) {
    x /= kMebibyte;
    unit = "MB";
  } else {
    x /= kGibibyte;
    unit = "GB";
  }
  return Printed("%.13g", RoundHalfAway(x, 2)) + " " + unit;
}

std::string FormatSpeed(float kilobytesPerSecond) {
  float value = kilobytesPerSecond;
  const char* unit = " KB/s";
  if (!Below(value, 1024.0)) {
    value /= 1024.0f;
    unit = " MB/s";
  }
  return Printed("%.2f", value) + unit;
}

RowProgress ComputeRowProgress(std::int64_t contentLength, std::int64_t position, std::int32_t elapsedMs,
                               std::int64_t receivedBytes) {
  const double length = static_cast<double>(contentLength);
  const double present = static_cast<double>(position);
  const double received = receivedBytes < 0 ? present : static_cast<double>(receivedBytes);
  RowProgress progress;
  progress.size = FormatSize(length);
  progress.downloaded = FormatSize(present);
  const auto speed = static_cast<float>(RoundHalfAway(received * 1000.0 / 1024.0 / elapsedMs, 1));
  progress.speed = FormatSpeed(speed);
  progress.percent = static_cast<std::int32_t>(std::trunc(present * 100.0 / length));
  progress.elapsed = std::to_string(elapsedMs);
  progress.complete = position == contentLength;
  return progress;
}

void ShowRowProgress(int row, const RowProgress& progress) {
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  window.SetProgressValue(row, kProgressColumn, progress.percent);
  window.SetCellText(row, kSpeedColumn, progress.speed);
  window.SetCellText(row, kSizeColumn, progress.size);
  window.SetCellText(row, kDownloadedColumn, progress.downloaded);
  window.SetCellText(row, kElapsedColumn, progress.elapsed);
  window.SetCellText(row, kStatusColumn, DownloadingStatus());
}

void ReportProgress(std::int32_t /*contentLength*/, std::int32_t /*position*/, std::int32_t /*elapsedMs*/,
                    std::int32_t /*receivedBytes*/, std::int32_t userData) {
  state::ProgramState& state = state::State();
  if (userData < 1 || static_cast<std::size_t>(userData) > state.taskList.size()) return;
  const DownloadTask& task = state.taskList[static_cast<std::size_t>(userData - 1)].task;
  if (task.TotalLength() <= 0 || task.ElapsedMs() <= 0) return;
  const RowProgress progress =
      ComputeRowProgress(task.TotalLength(), task.Position(), task.ElapsedMs(), task.SpeedBytes());
  ShowRowProgress(userData, progress);
}

}  // namespace velmora::download
