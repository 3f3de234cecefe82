// A manifest's rollout and channel as the update check meets them: an installation outside the
// rollout lists nothing and keeps its staging files, members out of form refuse the manifest, and
// one channel's manifest is refused in another's place.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "check_doubles.h"
#include "state/program_state.h"
#include "update/fingerprint.h"
#include "update/manifest.h"
#include "update/rollout.h"
#include "update/staging_files.h"

namespace velmora::update {
namespace {

using testing::ManifestFile;
using testing::ManifestJson;
using testing::ProgramEnded;

// The manifest JSON with `members` (",\"rollout\":50") added before its entries.
std::string WithMembers(const std::string& members) {
  std::string json = ManifestJson("App.exe", {{"a", Md5Hex("new"), "\\a.dll"}});
  return json.insert(json.find(",\"data\""), members);
}

class ManifestRolloutTest : public testing::UpdateCheckTest {
 protected:
  void SetUp() override {
    UpdateCheckTest::SetUp();
    WriteProductFile("\\a.dll", "old");
  }
  // An installation identifier whose place in the release seeded `seed` is inside (or not) a
  // rollout of `percent`.
  void BecomeInstallation(const std::string& seed, std::int64_t percent, bool inside) {
    for (int i = 0;; ++i) {
      char id[33];
      std::snprintf(id, sizeof id, "%032x", i);
      if (IsInsideRollout(RolloutPlace(id, seed), percent) == inside) {
        runDirectory.WriteFile("Bin\\Config\\installation.id", id);
        return;
      }
    }
  }
  int Load() {
    try {
      return LoadManifest();
    } catch (const ProgramEnded& ended) {
      return -static_cast<int>(ended.exitCode) - 1000;
    }
  }
};

TEST_F(ManifestRolloutTest, OnlyInstallationsInsideTheRolloutAreOfferedTheRelease) {
  state::State().mode.quiet = true;
  BecomeInstallation("7", 30, true);
  ServerAnswers(WithMembers(",\"serial\":9,\"rollout\":30,\"rolloutSerial\":7"));
  EXPECT_EQ(Load(), 1);

  // Outside: nothing is listed, and the staging file of an earlier run stays for when the rollout
  // reaches this installation.
  const state::UpdateEntry entry = state::State().updateList.front();
  const std::string staging = StagingPathOf(runDirectory.Narrow() + entry.path, entry);
  runDirectory.WriteFile(staging.substr(runDirectory.Narrow().size() + 1), "ne");
  BecomeInstallation("7", 30, false);
  EXPECT_EQ(Load(), 0);
  EXPECT_TRUE(state::State().updateList.empty());
  EXPECT_TRUE(std::filesystem::exists(velmora::testing::PathFromNarrow(staging)));

  // At 100% every installation is inside; at 0% none.
  ServerAnswers(WithMembers(",\"serial\":10,\"rollout\":100,\"rolloutSerial\":7"));
  EXPECT_EQ(Load(), 1);
  ServerAnswers(WithMembers(",\"serial\":11,\"rollout\":0,\"rolloutSerial\":7"));
  EXPECT_EQ(Load(), 0);
}

TEST_F(ManifestRolloutTest, TheHandOffFilesRolloutMeansNothing) {
  state::State().fetchFromServer = false;
  runDirectory.WriteFile("Bin\\Config\\UP.data", WithMembers(",\"rollout\":0"));
  EXPECT_EQ(Load(), 1);
}

TEST_F(ManifestRolloutTest, MembersOutOfFormRefuseTheManifest) {
  state::State().mode.quiet = true;
  for (const char* members : {",\"rollout\":101", ",\"rollout\":-1", ",\"rollout\":\"50\"", ",\"rollout\":50.5",
                              ",\"rolloutSerial\":\"7\"", ",\"channel\":7", ",\"healthSeconds\":601",
                              ",\"healthSeconds\":-1"}) {
    ServerAnswers(WithMembers(members));
    EXPECT_EQ(Load(), -1021) << members;
  }
}

TEST_F(ManifestRolloutTest, HealthSecondsIsKeptAndAbsentIsZero) {
  state::State().mode.quiet = true;
  ServerAnswers(WithMembers(",\"healthSeconds\":600"));
  EXPECT_EQ(Load(), 1);
  EXPECT_EQ(state::State().healthSeconds, 600);
  ServerAnswers(WithMembers(""));
  EXPECT_EQ(Load(), 1);
  EXPECT_EQ(state::State().healthSeconds, 0);
}

TEST_F(ManifestRolloutTest, AManifestIsTakenOnlyOnTheChannelItNames) {
  state::State().mode.quiet = true;
  ServerAnswers(WithMembers(",\"channel\":\"beta\""));
  EXPECT_EQ(Load(), -1021) << "a beta manifest served as the default channel's";
  state::State().channel = "beta";
  EXPECT_EQ(Load(), 1);
  EXPECT_EQ(log.back(), "get " + ManifestUrl() + " 90000");
  EXPECT_NE(ManifestUrl().find("/download/2099/pro/beta/up.txt"), std::string::npos);
  ServerAnswers(WithMembers(",\"channel\":\"default\""));
  EXPECT_EQ(Load(), -1021);
  state::State().channel.clear();
  EXPECT_EQ(Load(), 1);
}

}  // namespace
}  // namespace velmora::update
