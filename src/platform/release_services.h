// What releasing a locked file needs from the system: file existence and the exclusive-write test,
// the process list, each process's executable image as a kernel device path, the device name of
// each drive letter, and ending a process. The decisions (which process holds which file) are
// portable (install/locked_file_release.h); this interface only answers.
//
// Windows: FindFirstFileW, CreateFileW (GENERIC_WRITE, share mode 0, OPEN_EXISTING), a Toolhelp
// snapshot, GetProcessImageFileNameW, QueryDosDeviceW, OpenProcess + TerminateProcess. The POSIX
// layer answers for files and knows no other processes and no drive letters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::platform {

struct ProcessEntry {
  std::uint32_t processId = 0;
  std::u16string exeFile;  // the executable's file name as the snapshot gives it (no path)
};

class ReleaseServices {
 public:
  virtual ~ReleaseServices() = default;

  // Something (a file or a directory) exists at `path` (GBK); `isDirectory` tells which.
  virtual bool Find(const std::string& path, bool& isDirectory) = 0;
  // The existing file at `path` opens for writing with no sharing at all (it is closed again); a
  // read-only file never does.
  virtual bool OpensExclusively(const std::string& path) = 0;
  // Every process of the system; nothing when the list cannot be read.
  virtual std::optional<std::vector<ProcessEntry>> Processes() = 0;
  // The process's executable image as a kernel path ("\Device\HarddiskVolume3\App\x.exe"); 0 is
  // the own process. Empty when the process cannot be opened.
  virtual std::u16string ImageFileName(std::uint32_t processId) = 0;
  // The device name of the drive `letter` ("\Device\HarddiskVolume3"), empty when it has none.
  virtual std::u16string DosDevice(char16_t letter) = 0;
  // Ends the process with exit code 0; failures are ignored.
  virtual void Terminate(std::uint32_t processId) = 0;
  // The own process's id.
  virtual std::uint32_t OwnProcessId() = 0;
  virtual void SleepMs(std::uint32_t milliseconds) = 0;
};

// The system's answers unless a test has replaced them. Thread-safe.
ReleaseServices& CurrentReleaseServices();
// Tests: `services` (not owned) answers from now on; null restores the system's. Thread-safe.
void ReplaceReleaseServices(ReleaseServices* services);
ReleaseServices& PlatformReleaseServices();

}  // namespace velmora::platform
