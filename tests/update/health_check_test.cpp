// The health check's verdict: which exit statuses are crashes, and what the watch of a started
// product concludes within and after its time, with a fake process and a fake clock.
#include <gtest/gtest.h>

#include "update/health_check.h"

namespace velmora::update {
namespace {

TEST(HealthCheckTest, CrashStatusesAreSystemErrorsAndTheUncaughtCppException) {
  for (const std::uint32_t crash : {0xC0000005u, 0xC00000FDu, 0xC0000135u, 0xC000007Bu, 0xC0000409u, 0xE06D7363u}) {
    EXPECT_TRUE(IsCrashStatus(crash)) << StatusText(crash);
  }
  // Normal exits whatever the code: exit(-1), abort() of MinGW, Ctrl+C, a warning, a breakpoint.
  for (const std::uint32_t normal : {0u, 1u, 3u, 0xFFFFFFFFu, 0xFFFFFFFEu, 0xC000013Au, 0x80000003u, 0x40010005u}) {
    EXPECT_FALSE(IsCrashStatus(normal)) << StatusText(normal);
  }
}

// Ends with `status` once `elapsed` reaches `endsAtMs`.
struct FakeProcess final : platform::StartedProcess {
  std::uint32_t elapsed = 0, endsAtMs = 0, status = 0;
  std::optional<std::uint32_t> ExitStatus() override {
    return elapsed < endsAtMs ? std::nullopt : std::optional<std::uint32_t>(status);
  }
};

// Watches for 2 s a process that ends after `endsAtMs` with `status`; the clock starts near its
// wrap. Returns the result and how long the watch went on.
std::pair<HealthResult, std::uint32_t> WatchFor(std::uint32_t endsAtMs, std::uint32_t status) {
  const std::uint32_t start = 0xFFFFF000u;
  std::uint32_t clock = start;
  FakeProcess process;
  process.endsAtMs = endsAtMs;
  process.status = status;
  const auto wait = [&](std::uint32_t ms) { clock += ms, process.elapsed += ms; };
  const HealthResult result = WatchStartedProduct(true, &process, 2, wait, [&] { return clock; });
  return {result, clock - start};
}

TEST(HealthCheckTest, OnlyACrashWithinTheTimeFailsTheRelease) {
  const auto [crash, crashWatchedMs] = WatchFor(500, 0xC0000005u);
  EXPECT_EQ(crash.verdict, HealthVerdict::Crashed);
  EXPECT_EQ(crashWatchedMs, 500u) << "the watch went on after the process ended";
  EXPECT_EQ(HealthLine(crash, 2), "the product ended with 0xC0000005 within 2 s: the release failed its health check");
  EXPECT_FALSE(FailsRelease(WatchFor(300, 0xFFFFFFFFu).first.verdict));
  const auto [late, lateWatchedMs] = WatchFor(2100, 0xC0000005u);
  EXPECT_EQ(late.verdict, HealthVerdict::Healthy);
  EXPECT_EQ(lateWatchedMs, 2000u) << "watched longer or shorter than healthSeconds";
}

TEST(HealthCheckTest, AProductThatDidNotStartFailsOneWithoutAProcessToWatchPasses) {
  const auto never = [](std::uint32_t) { FAIL() << "waited for nothing"; };
  const auto now = [] { return 0u; };
  EXPECT_TRUE(FailsRelease(WatchStartedProduct(false, nullptr, 30, never, now).verdict));
  EXPECT_FALSE(FailsRelease(WatchStartedProduct(true, nullptr, 30, never, now).verdict));
}

}  // namespace
}  // namespace velmora::update
