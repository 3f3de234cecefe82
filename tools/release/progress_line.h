// The progress line on standard error while a large folder is hashed or copied:
//
//   hashing: 1234 of 2000 files, 612.3 of 1024.0 MiB
//
// rewritten in place ("\r") a few times a second and ended with a line break. Small jobs (fewer
// than kProgressFiles files and under kProgressBytes) print nothing: they are over before a line
// would help.
#pragma once

#include <cstdint>
#include <string>

#include "release_console.h"
#include "update/file_fingerprints.h"

namespace velmora::release {

inline constexpr std::size_t kProgressFiles = 500;
inline constexpr std::uint64_t kProgressBytes = 64ull << 20;

class ProgressLine {
 public:
  // `enabled` false (--quiet) keeps it silent whatever the size of the job.
  ProgressLine(ReleaseConsole& console, std::string activity, std::size_t fileCount, std::uint64_t totalBytes,
               bool enabled);
  ~ProgressLine();  // ends the line if one was written
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Show(std::size_t filesDone, std::uint64_t bytesDone);
  // A FingerprintOptions::progress callback that shows on this line; empty when the line is silent.
  std::function<void(const update::FingerprintProgress&)> Reporter();

 private:
  ReleaseConsole& console_;
  std::string activity_;
  std::size_t fileCount_;
  std::uint64_t totalBytes_;
  bool active_;
  bool written_ = false;
};

}  // namespace velmora::release
