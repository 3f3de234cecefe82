// The whole-release commit as a state machine over real files: interrupted after every step that
// changes the disk (the step hook throws, as a kill would stop the process there), then recovered,
// possibly interrupted again: the folder must always come out as one whole release, with the kept
// release matching it. Also a lost staged file, a held target and the rollback.
#include "install/commit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "install/kept_release.h"
#include "install/rollback.h"
#include "platform/release_services.h"
#include "support/held_files.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "update/fingerprint.h"
#include "update/rolled_back_release.h"
#include "update/staging_files.h"
#include "update/state_paths.h"

namespace velmora::install {
namespace {

struct Interrupted {};

// A product file: its path (UTF-8, manifest form), old bytes (none: new to the release) and new bytes.
struct ReleaseFile {
  std::string path;
  std::optional<std::string> before;
  std::string after;
};

const std::vector<ReleaseFile> kRelease = {
    {"\\Bin\\core.dll", "old core", "new core, longer"},
    {"\\Bin\\界面\\皮肤 蓝色.dat", "old skin", "new skin"},
    {"\\Data\\added.pak", std::nullopt, "a file new to the release"},
    {"\\Velmora.exe", "old exe", "new exe"},
};

std::string NewReleaseIdentity() { return update::Md5Hex("the new release"); }

class CommitTest : public ::testing::Test {
 protected:
  void TearDown() override { ReplaceCommitStepHook(nullptr); }

  std::string Dir() const { return runDirectory.Narrow(); }
  std::filesystem::path PathOf(const std::string& utf8) const {
    return velmora::testing::PathFromNarrow(Dir() + text::Utf8ToNarrow(utf8));
  }
  std::optional<std::string> Read(const std::string& utf8) const {
    std::ifstream in(PathOf(utf8), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& utf8, const std::string& bytes) const {
    runDirectory.WriteFile(text::Utf8ToNarrow(utf8.substr(1)), bytes);
  }
  bool Exists(const std::string& utf8) const { return std::filesystem::exists(PathOf(utf8)); }

  static state::UpdateEntry EntryOf(const ReleaseFile& file) {
    state::UpdateEntry entry;
    entry.path = text::Utf8ToNarrow(file.path);
    entry.md5 = update::Md5Hex(file.after);
    entry.size = static_cast<std::int64_t>(file.after.size());
    return entry;
  }
  std::string StagingOf(const ReleaseFile& file) const {
    return update::StagingPathOf(Dir() + text::Utf8ToNarrow(file.path), EntryOf(file));
  }

  // The old release in place, every new file staged; returns the commit's plan.
  CommitPlan Prepare() {
    for (const ReleaseFile& file : kRelease) {
      if (file.before) Write(file.path, *file.before);
      const std::string staging = StagingOf(file);
      runDirectory.WriteFile(staging.substr(Dir().size() + 1), file.after);
    }
    CommitPlan plan;
    plan.launchTarget = "Velmora.exe";
    plan.releaseIdentity = NewReleaseIdentity();
    for (const ReleaseFile& file : kRelease) {
      const state::UpdateEntry entry = EntryOf(file);
      plan.changes.push_back({entry.path, StagingOf(file), {entry.size, entry.md5, {}}, {}});
    }
    return plan;
  }

  // Throws at the `count`th step from now on (0: never).
  void InterruptAtStep(int count) {
    steps = 0;
    ReplaceCommitStepHook([this, count] {
      if (++steps == count) throw Interrupted{};
    });
  }

  // Every file is old, or every file is new; nothing of a commit is left over. Returns whether new.
  bool ExpectOneWholeRelease(const std::string& context) {
    const bool isNew = Read(kRelease[0].path) == kRelease[0].after;
    for (const ReleaseFile& file : kRelease) {
      EXPECT_EQ(Read(file.path), isNew ? std::optional<std::string>(file.after) : file.before) << context << file.path;
    }
    EXPECT_FALSE(Exists(update::kJournalPath)) << context;
    EXPECT_FALSE(Exists(update::kNewKeptFolder)) << context;
    EXPECT_FALSE(Exists(update::kOldKeptFolder)) << context;
    return isNew;
  }

  // The kept release holds exactly the old files, and lists the added one.
  void ExpectKeptOldRelease(const std::string& context) {
    const std::optional<KeptRelease> kept = ReadKeptRelease(Dir());
    ASSERT_TRUE(kept) << context;
    EXPECT_EQ(kept->launchTarget, "Velmora.exe");
    EXPECT_EQ(kept->kept.size(), 3u) << context;
    for (const KeptFile& file : kept->kept) {
      const std::string utf8 = text::NarrowToUtf8(file.path);
      const auto found = std::find_if(kRelease.begin(), kRelease.end(), [&](const ReleaseFile& f) { return f.path == utf8; });
      ASSERT_NE(found, kRelease.end()) << utf8;
      EXPECT_EQ(Read(text::NarrowToUtf8(KeptFileOf(update::kKeptFolder, file.path))), *found->before) << context << utf8;
      EXPECT_EQ(file.md5, update::Md5Hex(*found->before));
    }
    EXPECT_EQ(kept->added, (std::vector<std::string>{text::Utf8ToNarrow("\\Data\\added.pak")})) << context;
  }

  velmora::testing::TempDir runDirectory;
  int steps = 0;
};

TEST_F(CommitTest, ACommitPutsTheWholeReleaseInPlaceAndKeepsTheOldOne) {
  const CommitOutcome outcome = Commit(Dir(), Prepare());
  ASSERT_TRUE(outcome.committed);
  EXPECT_TRUE(ExpectOneWholeRelease("after the commit: "));
  ExpectKeptOldRelease("after the commit: ");
  EXPECT_EQ(outcome.keptFiles, 3u);
  EXPECT_EQ(outcome.keptBytes, 8 + 8 + 7);
  for (const ReleaseFile& file : kRelease) EXPECT_FALSE(std::filesystem::exists(velmora::testing::PathFromNarrow(StagingOf(file))));
}

TEST_F(CommitTest, ALargeReleaseIsCarriedOutOnTwoThreadsAndGoesInWhole) {
  CommitPlan plan;
  plan.releaseIdentity = NewReleaseIdentity();
  for (int i = 0; i < 300; ++i) {
    const std::string path = "\\Data\\file" + std::to_string(i) + ".dat";
    if (i % 2 == 0) Write(path, "old " + std::to_string(i));
    ReleaseFile file{path, std::nullopt, "new " + std::to_string(i)};
    const state::UpdateEntry entry = EntryOf(file);
    runDirectory.WriteFile(StagingOf(file).substr(Dir().size() + 1), file.after);
    plan.changes.push_back({entry.path, StagingOf(file), {entry.size, entry.md5, {}}, {}, i % 2 != 0});
  }
  ASSERT_TRUE(Commit(Dir(), plan).committed);
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(Read("\\Data\\file" + std::to_string(i) + ".dat"), "new " + std::to_string(i));
  }
  const std::optional<KeptRelease> kept = ReadKeptRelease(Dir());
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->kept.size(), 150u);
  EXPECT_EQ(kept->added.size(), 150u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(PathOf("\\Data")), {}), 300) << "no staging file left";
}

TEST_F(CommitTest, EveryInterruptionOfACommitAndOfItsRecoveryEndsInOneWholeRelease) {
  InterruptAtStep(0);
  Commit(Dir(), Prepare());
  const int commitSteps = steps;
  ASSERT_GT(commitSteps, static_cast<int>(kRelease.size()));

  for (int at = 1; at <= commitSteps; ++at) {
    for (int recoveryAt = 0; recoveryAt <= 3; ++recoveryAt) {
      const std::string context = "commit interrupted at step " + std::to_string(at) + ", recovery at " +
                                  std::to_string(recoveryAt) + ": ";
      std::filesystem::remove_all(runDirectory.Path());
      std::filesystem::create_directories(runDirectory.Path());
      // An earlier update's kept release, which a commit that goes back must leave as it was.
      Write(std::string(text::NarrowToUtf8(update::kKeptFolder)) + "\\release.txt", "earlier generation");
      const CommitPlan plan = Prepare();
      InterruptAtStep(at);
      EXPECT_THROW(Commit(Dir(), plan), Interrupted) << context;
      if (recoveryAt > 0) {
        InterruptAtStep(recoveryAt);
        try {
          RecoverInterruptedCommit(Dir());
        } catch (const Interrupted&) {
        }
      }
      InterruptAtStep(0);
      RecoverInterruptedCommit(Dir());
      // Every staged file was still there: recovery finishes the commit.
      EXPECT_TRUE(ExpectOneWholeRelease(context)) << context;
      ExpectKeptOldRelease(context);
      EXPECT_EQ(RecoverInterruptedCommit(Dir()).result, RecoveryResult::NothingToDo) << context;
    }
  }
}

TEST_F(CommitTest, AStagedFileLostOrDamagedMidCommitSendsRecoveryBackAndKeepsTheOthersStaged) {
  InterruptAtStep(0);
  Commit(Dir(), Prepare());
  const int firstReplacement = steps - static_cast<int>(kRelease.size()) - 3;  // after the journal
  for (int applied = 0; applied < static_cast<int>(kRelease.size()) - 1; ++applied) {
    for (const bool damaged : {false, true}) {
      const std::string context = std::to_string(applied) + " replaced, the last staged file " +
                                  (damaged ? "damaged" : "lost") + ": ";
      std::filesystem::remove_all(runDirectory.Path());
      std::filesystem::create_directories(runDirectory.Path());
      const CommitPlan plan = Prepare();
      InterruptAtStep(firstReplacement + applied);
      EXPECT_THROW(Commit(Dir(), plan), Interrupted) << context;
      const std::filesystem::path last = velmora::testing::PathFromNarrow(StagingOf(kRelease.back()));
      if (damaged) {
        std::ofstream(last, std::ios::binary) << "other bytes";
      } else {
        std::filesystem::remove(last);
      }
      InterruptAtStep(0);
      EXPECT_EQ(RecoverInterruptedCommit(Dir()).result, RecoveryResult::Backward) << context;
      EXPECT_FALSE(ExpectOneWholeRelease(context)) << context;
      // The files that were whole stay staged for the next run, also those already replaced.
      for (std::size_t i = 0; i + 1 < kRelease.size(); ++i) {
        std::ifstream in(velmora::testing::PathFromNarrow(StagingOf(kRelease[i])), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kRelease[i].after) << context << kRelease[i].path;
      }
      EXPECT_FALSE(ReadKeptRelease(Dir())) << context;
    }
  }
}


TEST_F(CommitTest, AHeldTargetStopsTheCommitBeforeAnythingChanges) {
  const CommitPlan plan = Prepare();
  const std::string heldPath = Dir() + text::Utf8ToNarrow(kRelease[1].path);
  velmora::testing::HeldFiles held([&heldPath](const std::string& path) { return path == heldPath; });
  platform::ReplaceReleaseServices(&held);
  const CommitOutcome outcome = Commit(Dir(), plan);
  platform::ReplaceReleaseServices(nullptr);
  EXPECT_FALSE(outcome.committed);
  EXPECT_EQ(outcome.failed, (std::vector<std::size_t>{1}));
  EXPECT_FALSE(ExpectOneWholeRelease(""));
  for (const ReleaseFile& file : kRelease) EXPECT_TRUE(std::filesystem::exists(velmora::testing::PathFromNarrow(StagingOf(file))));
}

TEST_F(CommitTest, ARollbackRestoresTheKeptReleaseWholeOrNotAtAll) {
  ASSERT_TRUE(Commit(Dir(), Prepare()).committed);
  InterruptAtStep(0);
  ASSERT_TRUE(RollBackToKeptRelease(Dir(), *ReadKeptRelease(Dir())).commit.committed);
  const int rollbackSteps = steps;
  EXPECT_FALSE(ExpectOneWholeRelease("after the rollback: "));
  EXPECT_FALSE(Exists(update::kKeptFolder)) << "nothing is kept after a rollback";
  EXPECT_TRUE(update::IsRolledBackRelease(Dir(), NewReleaseIdentity()));

  for (int at = 1; at <= rollbackSteps; ++at) {
    const std::string context = "rollback interrupted at step " + std::to_string(at) + ": ";
    std::filesystem::remove_all(runDirectory.Path());
    std::filesystem::create_directories(runDirectory.Path());
    InterruptAtStep(0);
    ASSERT_TRUE(Commit(Dir(), Prepare()).committed);
    InterruptAtStep(at);
    EXPECT_THROW(RollBackToKeptRelease(Dir(), *ReadKeptRelease(Dir())), Interrupted) << context;
    InterruptAtStep(0);
    RecoverInterruptedCommit(Dir());
    // The kept files were only linked for the rollback: it always goes through.
    EXPECT_FALSE(ExpectOneWholeRelease(context)) << context;
    EXPECT_FALSE(Exists(update::kKeptFolder)) << context;
    EXPECT_TRUE(update::IsRolledBackRelease(Dir(), NewReleaseIdentity())) << context;
  }

  // Installing a release forgets the rolled-back one.
  std::filesystem::remove_all(runDirectory.Path());
  std::filesystem::create_directories(runDirectory.Path());
  update::RememberRolledBackRelease(Dir(), NewReleaseIdentity());
  ASSERT_TRUE(Commit(Dir(), Prepare()).committed);
  EXPECT_FALSE(update::IsRolledBackRelease(Dir(), NewReleaseIdentity()));
}

TEST_F(CommitTest, ARollbackOfADamagedKeptReleaseChangesNothing) {
  ASSERT_TRUE(Commit(Dir(), Prepare()).committed);
  const KeptRelease kept = *ReadKeptRelease(Dir());
  std::ofstream(PathOf(text::NarrowToUtf8(KeptFileOf(update::kKeptFolder, kept.kept[0].path))), std::ios::binary) << "damaged";
  const RollbackOutcome outcome = RollBackToKeptRelease(Dir(), kept);
  EXPECT_TRUE(outcome.keptReleaseDamaged);
  EXPECT_TRUE(ExpectOneWholeRelease(""));
  EXPECT_TRUE(Exists(update::kKeptFolder));
}

}  // namespace
}  // namespace velmora::install
