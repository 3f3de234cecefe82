// The rollout rule: uniform places, one answer per installation and release as the percentage grows,
// and a new draw for every release; the identifier kept across runs.
#include "update/rollout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "support/temp_dir.h"

namespace velmora::update {
namespace {

std::string IdNumber(int i) {
  char text[33];
  std::snprintf(text, sizeof text, "%032x", i * 2654435761u);
  return text;
}

TEST(Rollout, PlacesAreUniformOverInstallations) {
  // 20,000 installations in 10 bands of 1,000 places: each band expects 2,000. A band outside
  // 2,000 +- 6 standard deviations (about 6 x 42) fails only by a broken rule.
  constexpr int kInstallations = 20000;
  int bands[10] = {};
  for (int i = 0; i < kInstallations; ++i) ++bands[RolloutPlace(IdNumber(i), "41") / 1000];
  const double expected = kInstallations / 10.0;
  const double deviation = std::sqrt(expected * 0.9);
  for (const int count : bands) EXPECT_NEAR(count, expected, 6 * deviation);

  int insideAtFive = 0;
  for (int i = 0; i < kInstallations; ++i) insideAtFive += IsInsideRollout(RolloutPlace(IdNumber(i), "41"), 5);
  EXPECT_NEAR(insideAtFive, 1000, 6 * std::sqrt(1000 * 0.95));
}

TEST(Rollout, AnInstallationInsideStaysInsideAsThePercentageGrows) {
  for (int i = 0; i < 2000; ++i) {
    const std::uint32_t place = RolloutPlace(IdNumber(i), "41");
    EXPECT_EQ(place, RolloutPlace(IdNumber(i), "41"));
    bool wasInside = false;
    for (int percent = 0; percent <= 100; ++percent) {
      const bool inside = IsInsideRollout(place, percent);
      EXPECT_TRUE(inside || !wasInside) << i << " left the rollout at " << percent << "%";
      wasInside = inside;
    }
    EXPECT_FALSE(IsInsideRollout(place, 0));
    EXPECT_TRUE(IsInsideRollout(place, 100));
  }
}

TEST(Rollout, EveryReleaseReachesADifferentFirstGroup) {
  int inBoth = 0;
  int inFirst = 0;
  for (int i = 0; i < 20000; ++i) {
    const bool first = IsInsideRollout(RolloutPlace(IdNumber(i), "41"), 10);
    const bool second = IsInsideRollout(RolloutPlace(IdNumber(i), "42"), 10);
    inFirst += first;
    inBoth += first && second;
  }
  // Independent draws: a tenth of the first group is in the second too (about 200 of 2,000).
  EXPECT_NEAR(inBoth, inFirst / 10, 90);
}

TEST(Rollout, ThePlaceIsTheDocumentedHash) {
  // Computed apart from the code, with Python:
  // int.from_bytes(hashlib.sha256(b"0123456789abcdef0123456789abcdef/41").digest()[:8], "big") % 10000
  EXPECT_EQ(RolloutPlace("0123456789abcdef0123456789abcdef", "41"), 9634u);
}

TEST(InstallationIdentifier, DrawnOnceKeptAndRedrawnWhenDamaged) {
  velmora::testing::TempDir directory;
  const std::string first = InstallationId(directory.Narrow());
  EXPECT_TRUE(IsInstallationId(first));
  EXPECT_EQ(InstallationId(directory.Narrow()), first);
  directory.WriteFile("Bin\\Config\\installation.id", "not an identifier\n");
  const std::string second = InstallationId(directory.Narrow());
  EXPECT_TRUE(IsInstallationId(second));
  EXPECT_NE(second, first);
  EXPECT_EQ(InstallationId(directory.Narrow()), second);
  directory.WriteFile("Bin\\Config\\installation.id", "00112233445566778899aabbccddeeff\r\n");
  EXPECT_EQ(InstallationId(directory.Narrow()), "00112233445566778899aabbccddeeff");
  EXPECT_FALSE(IsInstallationId("00112233445566778899AABBCCDDEEFF"));
}

}  // namespace
}  // namespace velmora::update
