// The health check's verdict: which exit statuses are crashes, and what the watch of a started
// product concludes within and after its time, with a fake process and a fake clock.
#include <gtest/gtest.h>

#include <vector>

#include "update/health_check.h"

namespace velmora::update {
namespace {

TEST(HealthCheckTest, CrashStatusesAreSystemErrorsAndTheUncaughtCppException) {
  for (const std::uint32_t crash : {0xC0000005u, 0xC00000FDu, 0xC0000135u, 0xC000007Bu, 0xC0000409u, 0xE06D7363u}) {
    EXPECT_TRUE(IsCrashStatus(crash)) << StatusText(crash);
  }
  // Normal exits whatever the code: exit(-1), exit(3) of abort(), Ctrl+C, warnings and
  // informational statuses.
  for (const std::uint32_t normal : {0u, 1u, 3u, 0xFFFFFFFFu, 0xFFFFFFFEu, 0xC000013Au, 0x80000003u, 0x40010005u}) {
    EXPECT_FALSE(IsCrashStatus(normal)) << StatusText(normal);
  }
}

// Ends with `status` once the clock reaches `endsAtMs`.
class FakeProcess final : public platform::StartedProcess {
 public:
  FakeProcess(const std::uint32_t& clock, std::uint32_t endsAtMs, std::uint32_t status)
      : clock_(clock), endsAtMs_(endsAtMs), status_(status) {}
  std::optional<std::uint32_t> ExitStatus() override {
    if (clock_ < endsAtMs_) return std::nullopt;
    return status_;
  }

 private:
  const std::uint32_t& clock_;
  std::uint32_t endsAtMs_;
  std::uint32_t status_;
};

struct Watch {
  HealthResult result;
  std::uint32_t watchedMs = 0;
};

// Watches for 2 s a process that ends at `endsAtMs` with `status`; the clock starts near its wrap.
Watch WatchFor(std::uint32_t endsAtMs, std::uint32_t status) {
  const std::uint32_t start = 0xFFFFF000u;
  std::uint32_t clock = start;
  std::uint32_t processClock = 0;
  FakeProcess process(processClock, endsAtMs, status);
  Watch watch;
  watch.result = WatchStartedProduct(
      true, &process, 2,
      [&](std::uint32_t ms) {
        clock += ms;
        processClock += ms;
      },
      [&] { return clock; });
  watch.watchedMs = clock - start;
  return watch;
}

TEST(HealthCheckTest, OnlyACrashWithinTheTimeFailsTheRelease) {
  const Watch crash = WatchFor(500, 0xC0000005u);
  EXPECT_EQ(crash.result.verdict, HealthVerdict::Crashed);
  EXPECT_EQ(crash.result.exitStatus, 0xC0000005u);
  EXPECT_EQ(crash.watchedMs, 500u) << "the watch goes on after the process ended";
  EXPECT_EQ(HealthLine(crash.result, 2), "the product ended with 0xC0000005 within 2 s: the release failed its health check");

  const Watch normal = WatchFor(300, 0xFFFFFFFFu);
  EXPECT_EQ(normal.result.verdict, HealthVerdict::Healthy);
  EXPECT_FALSE(FailsRelease(normal.result.verdict));

  const Watch late = WatchFor(2100, 0xC0000005u);
  EXPECT_EQ(late.result.verdict, HealthVerdict::Healthy);
  EXPECT_FALSE(late.result.exitStatus.has_value());
  EXPECT_EQ(late.watchedMs, 2000u) << "watched longer or shorter than healthSeconds";
}

TEST(HealthCheckTest, AProductThatDidNotStartFailsOneWithoutAProcessToWatchPasses) {
  const auto never = [](std::uint32_t) { FAIL() << "waited for nothing"; };
  const auto now = [] { return 0u; };
  EXPECT_TRUE(FailsRelease(WatchStartedProduct(false, nullptr, 30, never, now).verdict));
  EXPECT_EQ(WatchStartedProduct(true, nullptr, 30, never, now).verdict, HealthVerdict::NotWatched);
  EXPECT_FALSE(FailsRelease(HealthVerdict::NotWatched));
}

}  // namespace
}  // namespace velmora::update
