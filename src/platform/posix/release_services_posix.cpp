// Files through stat and open; no other processes and no drive letters on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/posix/native_path.h"
#include "platform/release_services.h"

namespace velmora::platform {
namespace {

class PosixReleaseServices final : public ReleaseServices {
 public:
  bool Find(const std::string& path, bool& isDirectory) override {
    struct stat status {};
    if (::stat(posix::NativePath(path).c_str(), &status) != 0) return false;
    isDirectory = S_ISDIR(status.st_mode);
    return true;
  }
  bool OpensExclusively(const std::string& path) override {
    // Read-only by its mode bits, whoever asks (root may write to any file).
    struct stat status {};
    if (::stat(posix::NativePath(path).c_str(), &status) == 0 && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
      return false;
    }
    const int descriptor = ::open(posix::NativePath(path).c_str(), O_WRONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    ::close(descriptor);
    return true;
  }
  std::optional<std::vector<ProcessEntry>> Processes() override { return std::vector<ProcessEntry>{}; }
  std::u16string ImageFileName(std::uint32_t) override { return {}; }
  std::u16string DosDevice(char16_t) override { return {}; }
  void Terminate(std::uint32_t) override {}
  std::uint32_t OwnProcessId() override { return static_cast<std::uint32_t>(::getpid()); }
  void SleepMs(std::uint32_t milliseconds) override {
    timespec pause{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1'000'000L};
    ::nanosleep(&pause, nullptr);
  }
};

}  // namespace

ReleaseServices& PlatformReleaseServices() {
  static PosixReleaseServices services;
  return services;
}

}  // namespace velmora::platform
