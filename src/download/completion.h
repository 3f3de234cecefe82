// The end of a download run: on every tick of the window's timer (500 ms) the completion check
// sees whether every row has been counted, then (when every row succeeded) commits the whole
// staged release, shows the outcome and ends the updater, launching the product when the user
// asks for it after a full success. A run with a failed row installs nothing. A run whose downloads stop advancing is
// abandoned with a time-out notice after one minute per listed file of such ticks.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::download {

// Below this many bytes in a tick (1 KiB/s at 500 ms a tick) the downloads count as stalled.
inline constexpr std::int64_t kStalledBytesPerTick = 512;
// Stalled ticks allowed per listed file.
inline constexpr std::int32_t kTicksPerEntry = 120;

// The timer's tick handler, on the window's thread. Every path that shows a notice stops the timer
// first and ends the updater after the notice.
void CheckCompletion();

// Starts run directory + "\" + the manifest's `run` elevated, then ends the updater whether or not
// it started.
void LaunchProduct();

// Starts `file` with `parameters` through the shell with the verb "runas"; true when it started.
bool RunElevated(const std::string& file, const std::string& parameters);

}  // namespace velmora::download
