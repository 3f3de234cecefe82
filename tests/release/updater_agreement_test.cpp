// Both sides agree: a manifest that velmora-release writes for a folder is one that the updater's
// own LoadManifest reads as "nothing to update" for a copy of that folder, from the server (UTF-8)
// and from the hand-off file (GBK), and lists exactly the files that then change; signed with a
// key from keygen, it is accepted by an updater that requires that key; a channel's staged release
// reaches the installations that its rollout says, on that channel only.
#include <filesystem>
#include <fstream>

#include "manifest_checks.h"
#include "release_commands.h"
#include "update/check_doubles.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"

namespace velmora::release {
namespace {

namespace fs = std::filesystem;

class UpdaterAgreementTest : public update::testing::UpdateCheckTest {
 protected:
  void SetUp() override {
    UpdateCheckTest::SetUp();
    WriteProductFile("\\Velmora.exe", "velmora");
    WriteProductFile("\\Bin\\界面 资源.dat", std::string(5000, 'r'));
    WriteProductFile("\\Bin\\Plugins\\新淺\\extra.dat", "extra");  // the second GBK byte of "淺" is "\"
    WriteProductFile("\\empty.ini", "");
  }

  std::string ManifestOfRunDirectory(bool handOff) {
    CapturedConsole console;
    std::vector<std::string> arguments{"manifest", text::NarrowToUtf8(runDirectory.Narrow()), "--base-url",
                                       "http://127.0.0.1:1/", "--run", "Velmora.exe", "--quiet"};
    if (handOff) arguments.push_back("--handoff");
    EXPECT_EQ(RunRelease(arguments, console), kExitSuccess) << console.err;
    return console.out;
  }

  std::vector<std::string> Listed() {
    std::vector<std::string> paths;
    for (const state::UpdateEntry& entry : state::State().updateList) paths.push_back(text::NarrowToUtf8(entry.path));
    return paths;
  }
};

TEST_F(UpdaterAgreementTest, TheServersManifestOfAFolderFindsItUpToDate) {
  ServerAnswers(ManifestOfRunDirectory(false));
  EXPECT_EQ(update::LoadManifest(), 0);
  EXPECT_EQ(state::State().launchTarget, "Velmora.exe");

  WriteProductFile("\\Bin\\界面 资源.dat", "changed");
  fs::remove(velmora::testing::PathFromNarrow(runDirectory.NarrowPath(text::Utf8ToNarrow("Bin\\Plugins\\新淺\\extra.dat"))));
  EXPECT_EQ(update::LoadManifest(), 2);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"\\Bin\\Plugins\\新淺\\extra.dat", "\\Bin\\界面 资源.dat"}));
}

TEST_F(UpdaterAgreementTest, TheHandOffManifestOfAFolderFindsItUpToDate) {
  const std::string manifest = ManifestOfRunDirectory(true);
  runDirectory.WriteFile("Bin\\Config\\UP.data", manifest);
  state::State().fetchFromServer = false;
  EXPECT_EQ(update::LoadManifest(), 0);
  EXPECT_TRUE(Notices().empty());
  EXPECT_EQ(state::State().updateList.size(), 0u);
}

TEST_F(UpdaterAgreementTest, ASignedManifestIsAcceptedByAnUpdaterThatRequiresItsKey) {
  velmora::testing::TempDir scratch;
  const std::string folder = text::NarrowToUtf8(scratch.Narrow());
  CapturedConsole console;
  ASSERT_EQ(RunRelease({"keygen", "--out", folder + "/release.key"}, console), kExitSuccess) << console.err;
  const std::string keyText = console.out;
  ASSERT_EQ(RunRelease({"manifest", text::NarrowToUtf8(runDirectory.Narrow()), "--base-url", "http://127.0.0.1:1/",
                        "--run", "Velmora.exe", "--out", folder + "/up.txt", "--key", folder + "/release.key"},
                       console),
            kExitSuccess)
      << console.err;
  const auto read = [&scratch](const char* name) {
    std::ifstream in(velmora::testing::PathFromNarrow(scratch.NarrowPath(name)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  update::ReplaceRequiredManifestKey(&keyText);
  ServerAnswers(read("up.txt"));
  http.responses[update::ManifestUrl() + ".sig"] = platform::HttpResponse{200, read("up.txt.sig")};
  EXPECT_EQ(update::LoadManifest(), 0);
  EXPECT_TRUE(Notices().empty());
  update::ReplaceRequiredManifestKey(nullptr);
}

// A published release's `delta` members reach the updater as the tool reads them; the updater
// keeps them for the files it lists.
TEST_F(UpdaterAgreementTest, ThePublishedDeltaMembersAreTheOnesTheUpdaterReads) {
  std::string large(200000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 7919) % 251);
  WriteProductFile("\\Bin\\界面 资源.dat", large);
  velmora::testing::TempDir site;
  CapturedConsole console;
  ASSERT_EQ(RunRelease({"publish", text::NarrowToUtf8(runDirectory.Narrow()), text::NarrowToUtf8(site.Narrow()),
                        "--base-url", "http://127.0.0.1:1/", "--run", "Velmora.exe", "--quiet"},
                       console),
            kExitSuccess)
      << console.err;
  std::ifstream in(velmora::testing::PathFromNarrow(site.NarrowPath("download\\2099\\pro\\up.txt")), std::ios::binary);
  const std::string manifest(std::istreambuf_iterator<char>(in), {});
  const ManifestRecords records = ReadManifestText(manifest, ManifestEncoding::Utf8);
  std::optional<DeltaMember> published;
  for (const ManifestRecord& record : records.entries) {
    std::string problem;
    if (const auto delta = DeltaOf(record, problem)) published = delta;
  }
  ASSERT_TRUE(published);  // the one large file

  WriteProductFile("\\Bin\\界面 资源.dat", "older");
  ServerAnswers(manifest);
  ASSERT_EQ(update::LoadManifest(), 1);
  const state::UpdateEntry& entry = state::State().updateList[0];
  EXPECT_EQ(text::NarrowToUtf8(entry.path), "\\Bin\\界面 资源.dat");
  EXPECT_TRUE(entry.delta.Present());
  EXPECT_EQ(entry.delta.indexUrl, published->indexUrl);
  EXPECT_EQ(entry.delta.indexUrl, entry.url + ".vmdi");
  EXPECT_EQ(entry.delta.indexSize, static_cast<std::int64_t>(published->indexSize));
  EXPECT_EQ(entry.delta.indexSha256, published->indexSha256);
  EXPECT_EQ(entry.delta.headSize, static_cast<std::int64_t>(published->headSize));
  EXPECT_EQ(entry.delta.headSha256, published->headSha256);
  EXPECT_EQ(entry.delta.packUrl, published->packUrl);
  EXPECT_EQ(entry.delta.packSize, static_cast<std::int64_t>(published->packSize));
  EXPECT_EQ(entry.delta.packSha256, published->packSha256);
}

// A release published to beta at 0% is offered to no installation; the rollout command's 100%
// re-signs it for all of them, and the updater takes the higher serial. On the default channel
// the beta manifest is refused.
TEST_F(UpdaterAgreementTest, AChannelsRolloutIsAppliedByTheUpdaterOnThatChannelOnly) {
  velmora::testing::TempDir scratch;
  const std::string folder = text::NarrowToUtf8(scratch.Narrow());
  CapturedConsole console;
  ASSERT_EQ(RunRelease({"keygen", "--out", folder + "/release.key"}, console), kExitSuccess) << console.err;
  const std::string keyText = console.out;
  ASSERT_EQ(RunRelease({"publish", text::NarrowToUtf8(runDirectory.Narrow()), folder + "/site", "--base-url",
                        "http://127.0.0.1:1/", "--run", "Velmora.exe", "--key", folder + "/release.key", "--channel",
                        "beta", "--rollout", "0", "--quiet"},
                       console),
            kExitSuccess)
      << console.err;
  const auto serve = [this, &scratch] {
    const auto read = [&scratch](const char* name) {
      std::ifstream in(velmora::testing::PathFromNarrow(scratch.NarrowPath(name)), std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    };
    http.responses[update::ManifestUrl()] = platform::HttpResponse{200, read("site\\download\\2099\\pro\\beta\\up.txt")};
    http.responses[update::ManifestUrl() + ".sig"] =
        platform::HttpResponse{200, read("site\\download\\2099\\pro\\beta\\up.txt.sig")};
  };
  update::ReplaceRequiredManifestKey(&keyText);
  WriteProductFile("\\Velmora.exe", "older");
  state::State().channel = "beta";
  serve();
  EXPECT_EQ(update::LoadManifest(), 0);  // outside a rollout of 0%
  EXPECT_TRUE(Notices().empty());

  ASSERT_EQ(RunRelease({"rollout", folder + "/site", "--channel", "beta", "--percent", "100", "--key",
                        folder + "/release.key"},
                       console),
            kExitSuccess)
      << console.err;
  serve();
  EXPECT_EQ(update::LoadManifest(), 1);
  EXPECT_EQ(Listed(), std::vector<std::string>{"\\Velmora.exe"});
  EXPECT_TRUE(Notices().empty());

  const std::string betaUrl = update::ManifestUrl();
  state::State().channel.clear();
  ServerAnswers(http.responses[betaUrl].body);
  http.responses[update::ManifestUrl() + ".sig"] = http.responses[betaUrl + ".sig"];
  EXPECT_THROW(update::LoadManifest(), update::testing::ProgramEnded);
  ASSERT_EQ(Notices().size(), 1u);
  EXPECT_NE(Notices()[0].find("UpData数据错误"), std::string::npos) << Notices()[0];  // malformed here, code 21
  update::ReplaceRequiredManifestKey(nullptr);
}

}  // namespace
}  // namespace velmora::release
