// Both sides agree: a manifest that velmora-release writes for a folder is one that the updater's
// own LoadManifest reads as "nothing to update" for a copy of that folder, from the server (UTF-8)
// and from the hand-off file (GBK), and lists exactly the files that then change; signed with a
// key from keygen, it is accepted by an updater that requires that key.
#include <filesystem>
#include <fstream>

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

}  // namespace
}  // namespace velmora::release
