// Starting a program through the shell with elevation ("runas"): ShellExecuteExW on Windows
// (SEE_MASK_NOASYNC | SEE_MASK_UNICODE | SEE_MASK_FLAG_NO_UI, no owner, no working directory, SW_SHOWDEFAULT), without
// waiting for it; a path of MAX_PATH characters or more is given in its short form. The POSIX
// layer starts nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velmora::platform {

// Starts `file` with `parameters` (GBK texts, converted with code page 936); true when the shell
// started it. Thread-safe.
bool RunElevatedProgram(const std::string& file, const std::string& parameters);

// A program started to be watched: asked without waiting whether it has ended. Owns the
// process's handle (closed with the object). Used by one thread at a time.
class StartedProcess {
 public:
  virtual ~StartedProcess() = default;
  // The exit status once the process has ended (GetExitCodeProcess); empty while it runs.
  virtual std::optional<std::uint32_t> ExitStatus() = 0;
};

// As RunElevatedProgram, but keeps the started process to be watched (SEE_MASK_NOCLOSEPROCESS)
// in `process`; true when it started. `process` stays null when it did not, and when the shell
// handed back no process (a document opened in a program already running; a test's launch). The
// POSIX layer starts nothing. Thread-safe.
bool RunElevatedWatched(const std::string& file, const std::string& parameters,
                        std::unique_ptr<StartedProcess>& process);
bool PlatformRunElevatedWatched(const std::string& file, const std::string& parameters,
                                std::unique_ptr<StartedProcess>& process);

// Tests: `launch` is called instead of the shell; null restores it. Thread-safe.
using LaunchFunction = bool (*)(const std::string& file, const std::string& parameters);
void ReplaceElevatedLaunch(LaunchFunction launch);

// The platform's own launch.
bool PlatformRunElevated(const std::string& file, const std::string& parameters);

}  // namespace velmora::platform
