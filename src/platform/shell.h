// Starting a program through the shell with elevation ("runas"): ShellExecuteExW on Windows
// (SEE_MASK_NOASYNC | SEE_MASK_UNICODE | SEE_MASK_FLAG_NO_UI, no owner, no working directory, SW_SHOWDEFAULT), without
// waiting for it; a path of MAX_PATH characters or more is given in its short form. The POSIX
// layer starts nothing.
#pragma once

#include <string>

namespace velmora::platform {

// Starts `file` with `parameters` (GBK texts, converted with code page 936); true when the shell
// started it. Thread-safe.
bool RunElevatedProgram(const std::string& file, const std::string& parameters);

// Tests: `launch` is called instead of the shell; null restores it. Thread-safe.
using LaunchFunction = bool (*)(const std::string& file, const std::string& parameters);
void ReplaceElevatedLaunch(LaunchFunction launch);

// The platform's own launch.
bool PlatformRunElevated(const std::string& file, const std::string& parameters);

}  // namespace velmora::platform
