// Freeing a file that a running program holds, before it is replaced: the file is tested for an
// exclusive write open, and every process whose executable is that very file (same file name,
// letter for letter, and the same image path) is ended. Other programs that keep the file open
// are never touched; the caller's retries and its failure status are all that can be done then.
//
// Paths and names are GBK text; the system's answers come through platform/release_services.h,
// so the matching rules are tested without real processes. Thread-safe: every call takes a fresh
// process list.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velmora::install {

// Attempts at freeing a held target, and the wait after each.
inline constexpr int kReleaseAttempts = 5;
inline constexpr std::uint32_t kReleaseWaitMs = 500;

// What a target is once it has been freed as far as possible.
enum class TargetState {
  Missing,  // no file there
  Free,     // can be replaced
  Held,     // still held by a program that was not ended, or read-only
};

// Frees a target that a running program holds: kReleaseAttempts attempts kReleaseWaitMs apart,
// all of them made, each ending the processes whose executable is the target (ReleaseFile); the
// calling thread processes its window messages while it waits. `stillHeld(attempt)` is called after
// each attempt that left the target held. A target that is free at the first look is not looked at
// again. In a run that may not end the product (state::RunMode::closeProduct false) a held target
// is reported held at once, and nothing is ended.
TargetState FreeTarget(const std::string& target, const std::function<void(int attempt)>& stillHeld = {});

// The path names an existing file that is not a directory.
bool IsExistingFile(const std::string& path);

// Something exists at the path and cannot be opened for exclusive writing (held by another
// program, read-only, or no rights): a directory counts as locked too.
bool IsLocked(const std::string& path);

// The last component of `path` ("C:\App\x.exe" gives "x.exe", or "x" without the extension); empty
// when the path ends with "\". GBK-aware: a trail byte 0x5C is not a separator.
std::string FileNameOfPath(const std::string& path, bool withExtension);

// Ends every process whose executable file name equals `name` exactly (case included) and, unless
// `path` is empty, whose image path equals `path` exactly. The updater's own process is never
// ended. False only when the process list cannot be read.
bool ReleaseFile(const std::string& name, const std::string& path);

// The executable of the process in drive-letter form ("C:\App\x.exe"); 0 is the own process.
// Empty when the process cannot be opened.
std::u16string ProcessImagePath(std::uint32_t processId);

// `path` with a leading device path ("\Device\HarddiskVolume3\") replaced by its drive letter
// ("C:\"), trying A to Z in order; unchanged when no drive's device is its prefix. The device
// name is matched with a backslash after it, so HarddiskVolume1 never matches HarddiskVolume10.
std::u16string DevicePathToDrivePath(const std::u16string& path);

}  // namespace velmora::install
