#include "update/health_check.h"

#include <algorithm>
#include <cstdio>

namespace velmora::update {

bool IsCrashStatus(std::uint32_t status) {
  // 0xE06D7363 ("msc" with the customer bit): what an MSVC program raises for a C++ exception.
  constexpr std::uint32_t kUncaughtCppException = 0xE06D7363u;
  constexpr std::uint32_t kControlCExit = 0xC000013Au;
  if (status == kUncaughtCppException) return true;
  return (status & 0xF0000000u) == 0xC0000000u && status != kControlCExit;
}

HealthResult WatchStartedProduct(bool started, platform::StartedProcess* process, std::int32_t seconds,
                                 const std::function<void(std::uint32_t)>& wait,
                                 const std::function<std::uint32_t()>& now) {
  if (!started) return {HealthVerdict::NotStarted, std::nullopt};
  if (process == nullptr) return {HealthVerdict::NotWatched, std::nullopt};
  const std::uint32_t limitMs = static_cast<std::uint32_t>(seconds) * 1000u;
  const std::uint32_t start = now();
  for (;;) {
    if (const std::optional<std::uint32_t> status = process->ExitStatus()) {
      return {IsCrashStatus(*status) ? HealthVerdict::Crashed : HealthVerdict::Healthy, status};
    }
    const std::uint32_t elapsed = now() - start;
    if (elapsed >= limitMs) return {HealthVerdict::Healthy, std::nullopt};
    wait(std::min(kHealthSliceMs, limitMs - elapsed));
  }
}

std::string StatusText(std::uint32_t status) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
  return text;
}

std::string HealthLine(const HealthResult& result, std::int32_t seconds) {
  const std::string within = " within " + std::to_string(seconds) + " s";
  switch (result.verdict) {
    case HealthVerdict::NotStarted:
      return "the product could not be started: the release failed its health check";
    case HealthVerdict::Crashed:
      return "the product ended with " + StatusText(*result.exitStatus) + within +
             ": the release failed its health check";
    case HealthVerdict::NotWatched:
      return "the product started in a process the shell did not hand back: not watched";
    case HealthVerdict::Healthy:
      break;
  }
  if (result.exitStatus) return "the product ended with " + StatusText(*result.exitStatus) + within + ", not a crash";
  return "the product ran for " + std::to_string(seconds) + " s: the release passed its health check";
}

}  // namespace velmora::update
