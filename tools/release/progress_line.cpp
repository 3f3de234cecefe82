#include "progress_line.h"

#include <cstdio>

namespace velmora::release {

ProgressLine::ProgressLine(ReleaseConsole& console, std::string activity, std::size_t fileCount,
                           std::uint64_t totalBytes, bool enabled)
    : console_(console),
      activity_(std::move(activity)),
      fileCount_(fileCount),
      totalBytes_(totalBytes),
      active_(enabled && (fileCount >= kProgressFiles || totalBytes >= kProgressBytes)) {}

ProgressLine::~ProgressLine() {
  if (written_) console_.Err("\n");
}

void ProgressLine::Show(std::size_t filesDone, std::uint64_t bytesDone) {
  if (!active_) return;
  char line[160];
  const double doneMiB = static_cast<double>(bytesDone) / 1048576.0;
  if (totalBytes_ > 0) {
    std::snprintf(line, sizeof line, "\r%s: %zu of %zu files, %.1f of %.1f MiB", activity_.c_str(), filesDone,
                  fileCount_, doneMiB, static_cast<double>(totalBytes_) / 1048576.0);
  } else {  // sizes not known beforehand
    std::snprintf(line, sizeof line, "\r%s: %zu of %zu files, %.1f MiB", activity_.c_str(), filesDone, fileCount_,
                  doneMiB);
  }
  console_.Err(line);
  written_ = true;
}

std::function<void(const update::FingerprintProgress&)> ProgressLine::Reporter() {
  if (!active_) return {};
  return [this](const update::FingerprintProgress& progress) { Show(progress.filesDone, progress.bytesRead); };
}

}  // namespace velmora::release
