// The end of a download run: on every tick (the window's timer, 500 ms; an unattended run's own
// loop) the completion check sees whether every row has been counted, then (when every row
// succeeded) commits the whole staged release. With the window it shows the outcome and ends the
// updater, launching the product when the user asks for it after a full success. A run with a
// failed row installs nothing. A run whose downloads stop advancing is abandoned after one minute
// per listed file of such ticks (with the window, after a time-out notice).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "update/run_outcome.h"

namespace velmora::download {

// Below this many bytes in a tick (1 KiB/s at 500 ms a tick) the downloads count as stalled.
inline constexpr std::int64_t kStalledBytesPerTick = 512;
// Stalled ticks allowed per listed file.
inline constexpr std::int32_t kTicksPerEntry = 120;
// The length of a tick.
inline constexpr std::uint32_t kCompletionTickMs = 500;

// How a download run ended.
struct RunEnd {
  update::RunOutcome outcome = update::RunOutcome::Updated;  // Updated, Deferred or FilesFailed
  std::int32_t failedRows = 0;  // rows that failed, or could not be put in place
  bool timedOut = false;        // the downloads stopped advancing for too long
};

// One tick: counts it as stalled when the downloads advanced by less than kStalledBytesPerTick;
// when every row has ended, commits the release if they all succeeded (and nothing waits for a
// held file) and returns how the run ended; when the stalled ticks reach the limit, returns a
// time-out. Empty while the run goes on. On the thread that owns the run's end.
std::optional<RunEnd> CompletionTick();

// The window timer's tick handler, on the window's thread: CompletionTick, then the outcome's
// notice and the end of the updater. Every path that shows a notice stops the timer first.
void CheckCompletion();

// Starts `file` with `parameters` through the shell with the verb "runas"; true when it started.
// A build pinning a code-signing subject starts only an executable image signed by it (a script,
// a shortcut or an unsigned program is not started: update/code_signing.h); the log says why.
bool RunElevated(const std::string& file, const std::string& parameters);

}  // namespace velmora::download
