// The health check after an update: when the updater itself starts the product of a release it
// has just installed, and the manifest gives `healthSeconds` (1 to kMostHealthSeconds), it watches
// the started process that long. A product that cannot be started, or that ends within that time
// with a crash status, fails the check, and the caller rolls the release back
// (download/product_health.h). A normal exit, whatever its code, passes; so does a product still
// running when the time is up, and a crash after it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/shell.h"

namespace velmora::update {

// The highest `healthSeconds` a manifest may give; a higher value makes the manifest malformed.
inline constexpr std::int64_t kMostHealthSeconds = 600;
// How often the watch looks at the process; between looks the window's messages are processed.
inline constexpr std::uint32_t kHealthSliceMs = 100;

// Whether an exit status is a crash: an NTSTATUS of severity error that the system raises
// (0xC0000000 to 0xCFFFFFFF: 0xC0000005 access violation, 0xC00000FD stack overflow, 0xC0000135 a
// DLL not found, 0xC000007B an image not valid, 0xC0000409 a failed security check...), and
// 0xE06D7363, a C++ exception nobody caught. Not a crash: 0xC000013A, the user ending a console
// program with Ctrl+C, and the codes with the customer bit that programs choose themselves
// (exit(-1) ends with 0xFFFFFFFF, a normal exit).
bool IsCrashStatus(std::uint32_t status);

// NotWatched: started, but the shell handed back no process to watch; it passes.
enum class HealthVerdict { Healthy, NotStarted, Crashed, NotWatched };

// Whether the verdict fails the release.
inline bool FailsRelease(HealthVerdict verdict) {
  return verdict == HealthVerdict::NotStarted || verdict == HealthVerdict::Crashed;
}

struct HealthResult {
  HealthVerdict verdict = HealthVerdict::Healthy;
  std::optional<std::uint32_t> exitStatus;  // when the process ended within the time
};

// Watches `process` (`started`: the start succeeded; `process` may be null then) for `seconds`, looking every kHealthSliceMs:
// `wait(ms)` waits between looks (the window's thread processes its messages meanwhile), `now()`
// is a millisecond tick count (platform/clock.h; differences in 32-bit unsigned arithmetic).
// Returns as soon as the process ends.
HealthResult WatchStartedProduct(bool started, platform::StartedProcess* process, std::int32_t seconds,
                                 const std::function<void(std::uint32_t)>& wait,
                                 const std::function<std::uint32_t()>& now);

// "0xC0000005" (eight hex digits).
std::string StatusText(std::uint32_t status);

// The log's line for the result: "the product passed its health check (ended with 0x00000000)",
// "the product ended with 0xC0000005 within 30 s: the release failed its health check"...
std::string HealthLine(const HealthResult& result, std::int32_t seconds);

}  // namespace velmora::update
