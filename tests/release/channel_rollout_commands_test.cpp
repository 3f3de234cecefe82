// Channels and staged rollouts on the publisher's side: publish --channel and --rollout, the
// rollout command, and what verify and diff show, checked on the tree and with the key.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "json/json_document.h"
#include "platform/signature.h"
#include "release_commands.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"

namespace velmora::release {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kNow = 1799236800;  // 2027-01-06T12:00:00Z
std::int64_t clockNow = kNow;
std::int64_t Now() { return clockNow; }

class ChannelRolloutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clockNow = kNow;
    update::ReplaceUtcSecondsNow(Now);
    Write(release.Path() / "Velmora.exe", "velmora 2.0");
    Write(release.Path() / "Bin" / "core.dll", std::string(300000, 'c'));
    Write(release.Path() / "Bin" / fs::u8path("界面.dat"), "ui 2.0");
    ASSERT_EQ(Run({"keygen", "--out", Utf8(keyFile)}), kExitSuccess) << console.err;
    publicKeyText = console.out.substr(0, console.out.find('\n'));
  }
  void TearDown() override { update::ReplaceUtcSecondsNow(nullptr); }

  static void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string Utf8(const fs::path& path) {
    return text::NarrowToUtf8(text::WideToNarrow(path.u16string(), text::NarrowCodePage));
  }
  // Every file below the site with its bytes.
  std::map<std::string, std::string> Tree() const {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(Site())) {
      if (item.is_regular_file()) files[fs::relative(item.path(), Site()).generic_string()] = Read(item.path());
    }
    return files;
  }

  int Run(std::vector<std::string> arguments) {
    console = CapturedConsole();
    return RunRelease(arguments, console);
  }
  int Publish(std::vector<std::string> extra) {
    std::vector<std::string> arguments{"publish", Utf8(release.Path()), Utf8(Site()), "--base-url",
                                       "http://127.0.0.1:9", "--run", "Velmora.exe", "--quiet"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return Run(arguments);
  }
  int Rollout(std::vector<std::string> extra, const fs::path& key = {}) {
    std::vector<std::string> arguments{"rollout", Utf8(Site()), "--key", Utf8(key.empty() ? keyFile : key)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return Run(arguments);
  }
  int Verify(const fs::path& manifest) {
    return Run({"verify", Utf8(manifest), Utf8(Site()), "--base-url", "http://127.0.0.1:9", "--public-key",
                publicKeyText, "--quiet"});
  }
  fs::path Site() const { return scratch.Path() / "site"; }
  fs::path Manifest(const std::string& channel = {}) const {
    const fs::path folder = Site() / "download" / "2099" / "pro";
    return channel.empty() ? folder / "up.txt" : folder / channel / "up.txt";
  }
  static fs::path SignatureOf(const fs::path& manifest) { return manifest.string() + ".sig"; }
  bool SignedByTheKey(const fs::path& manifest) const {
    return update::IsSignedBy(update::PublicKeyFromText(publicKeyText).value_or(""), Read(manifest),
                              Read(SignatureOf(manifest)));
  }
  static json::JsonDocument Parsed(const fs::path& manifest) {
    json::JsonDocument document;
    EXPECT_TRUE(document.Parse(text::Utf8ToNarrow(Read(manifest))));
    return document;
  }
  // The manifest's text from its `data` member on: the entries, which no rollout changes.
  static std::string Entries(const fs::path& manifest) {
    const std::string bytes = Read(manifest);
    return bytes.substr(bytes.find("\"data\":"));
  }
  static bool Found(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
  }

  velmora::testing::TempDir release;
  velmora::testing::TempDir scratch;
  velmora::testing::TempDir keys;
  fs::path keyFile = keys.Path() / "release.key";
  std::string publicKeyText;
  CapturedConsole console;
};

// The beta release drops a file of the default one and changes two: the default channel's
// manifest, signature and every file it lists stay exactly as they were, and both verify.
TEST_F(ChannelRolloutTest, PublishingToAChannelLeavesTheDefaultChannelsManifestAndFilesAsTheyWere) {
  ASSERT_EQ(Publish({"--key", Utf8(keyFile)}), kExitSuccess) << console.err;
  const std::map<std::string, std::string> before = Tree();

  Write(release.Path() / "Velmora.exe", "velmora 2.1 beta");
  Write(release.Path() / "Bin" / fs::u8path("界面.dat"), "ui 2.1");
  fs::remove(release.Path() / "Bin" / "core.dll");
  ASSERT_EQ(Publish({"--key", Utf8(keyFile), "--channel", "beta", "--rollout", "5", "--serial", "1799236900",
                     "--health-seconds", "600"}),
            kExitSuccess)
      << console.err;
  EXPECT_TRUE(Found(console.out, "/download/2099/pro/beta/up.txt (the manifest of the channel beta"))
      << console.out;
  EXPECT_TRUE(Found(console.out, "signed: /download/2099/pro/beta/up.txt.sig; serial 1799236900")) << console.out;
  EXPECT_TRUE(Found(console.out, "rollout: 5% of the installations, places drawn from rolloutSerial 1799236900"))
      << console.out;

  const std::map<std::string, std::string> after = Tree();
  for (const auto& [path, bytes] : before) {
    ASSERT_EQ(after.count(path), 1u) << path;
    EXPECT_EQ(after.at(path), bytes) << path;
  }
  EXPECT_EQ(Verify(Manifest()), kExitSuccess) << console.out << console.err;
  EXPECT_TRUE(Found(console.out, "3 files checked")) << console.out;

  ASSERT_TRUE(SignedByTheKey(Manifest("beta")));
  const json::JsonDocument beta = Parsed(Manifest("beta"));
  EXPECT_EQ(beta.GetText("channel"), "beta");
  EXPECT_EQ(beta.GetType("rollout"), json::JsonKind::Integer);
  EXPECT_EQ(beta.GetLiteral("rollout"), "5");
  EXPECT_EQ(beta.GetLiteral("healthSeconds"), "600");
  EXPECT_EQ(beta.GetLiteral("rolloutSerial"), "1799236900");
  EXPECT_EQ(beta.GetCount("data"), 2);
  EXPECT_EQ(Verify(Manifest("beta")), kExitSuccess) << console.out << console.err;
  EXPECT_TRUE(Found(console.out, "serial 1799236900\nexpires 2027-02-05T12:00:00Z (in 30 days)\nchannel beta\n"
                                 "rollout: 5% of the installations, places drawn from rolloutSerial 1799236900\n"))
      << console.out;

  // Each channel's serial is its own: the default channel takes a serial below beta's.
  Write(release.Path() / "Velmora.exe", "velmora 2.0.1");
  ASSERT_EQ(Publish({"--key", Utf8(keyFile), "--serial", "1799236850"}), kExitSuccess) << console.err;
  EXPECT_EQ(Publish({"--key", Utf8(keyFile), "--serial", "1799236899", "--channel", "beta"}), kExitFailed);
  EXPECT_TRUE(Found(console.err, "has serial 1799236900, higher than 1799236899")) << console.err;
  EXPECT_EQ(Verify(Manifest("beta")), kExitSuccess) << console.out;

  // "default" is the default channel, which the manifest then names; without the option it
  // names none, as before channels.
  ASSERT_EQ(Publish({"--key", Utf8(keyFile), "--serial", "1799236850", "--channel", "default"}), kExitSuccess)
      << console.err;
  EXPECT_EQ(Parsed(Manifest()).GetText("channel"), "default");
  EXPECT_TRUE(SignedByTheKey(Manifest()));
  EXPECT_FALSE(fs::exists(Manifest("default")));
  ASSERT_EQ(Publish({"--key", Utf8(keyFile), "--serial", "1799236850"}), kExitSuccess) << console.err;
  EXPECT_FALSE(Parsed(Manifest()).Exists("channel"));
}

TEST_F(ChannelRolloutTest, ChannelNamesAndPercentagesOutsideTheRulesAreRefusedBeforeAnythingIsWritten) {
  const struct {
    std::vector<std::string> extra;
    std::string message;
  } publishCases[] = {
      {{"--channel", "Beta"}, "invalid --channel \"Beta\": a channel name is 1 to 16 lower-case letters"},
      {{"--channel", "2beta"}, "invalid --channel \"2beta\""},
      {{"--channel", "beta-1"}, "invalid --channel \"beta-1\""},
      {{"--channel", "../x"}, "invalid --channel \"../x\""},
      {{"--channel", ""}, "invalid --channel \"\""},
      {{"--channel", "abcdefghijklmnopq"}, "invalid --channel \"abcdefghijklmnopq\""},
      {{"--rollout", "101", "--serial", "1"}, "invalid --rollout \"101\": a whole number from 0 to 100"},
      {{"--rollout", "-1", "--serial", "1"}, "invalid --rollout \"-1\""},
      {{"--rollout", "5%", "--serial", "1"}, "invalid --rollout \"5%\""},
      {{"--rollout", "2.5", "--serial", "1"}, "invalid --rollout \"2.5\""},
      {{"--health-seconds", "601"}, "invalid --health-seconds \"601\": a whole number from 0 to 600"},
      {{"--rollout", "5"}, "--rollout needs the release's serial: give --key or --serial"},
  };
  for (const auto& test : publishCases) {
    EXPECT_EQ(Publish(test.extra), kExitUsage) << test.message;
    EXPECT_TRUE(Found(console.err, test.message)) << test.message << "\n" << console.err;
    EXPECT_FALSE(fs::exists(Site())) << test.message;
  }

  ASSERT_EQ(Publish({"--key", Utf8(keyFile), "--channel", "rc2"}), kExitSuccess) << console.err;
  const std::map<std::string, std::string> published = Tree();
  const struct {
    std::vector<std::string> extra;
    std::string message;
  } rolloutCases[] = {
      {{"--channel", "rc2", "--percent", "101"}, "invalid --percent \"101\": a whole number from 0 to 100"},
      {{"--channel", "rc2", "--percent", "-5"}, "invalid --percent \"-5\""},
      {{"--channel", "rc2", "--percent", "50%"}, "invalid --percent \"50%\""},
      {{"--channel", "rc2", "--percent", ""}, "rollout needs --percent"},
      {{"--channel", "RC2", "--percent", "5"}, "invalid --channel \"RC2\""},
      {{"--channel", "rc2", "--percent", "5", "--expires", "soon"}, "invalid --expires \"soon\""},
  };
  for (const auto& test : rolloutCases) {
    EXPECT_EQ(Rollout(test.extra), kExitUsage) << test.message;
    EXPECT_TRUE(Found(console.err, test.message)) << test.message << "\n" << console.err;
  }
  EXPECT_EQ(Run({"rollout", Utf8(Site()), "--percent", "5"}), kExitUsage);
  EXPECT_TRUE(Found(console.err, "rollout needs --key")) << console.err;
  EXPECT_EQ(Run({"rollout", Utf8(Site() / "none"), "--percent", "5", "--key", Utf8(keyFile)}), kExitUsage);
  EXPECT_TRUE(Found(console.err, "no such folder")) << console.err;
  EXPECT_EQ(Tree(), published);
}

// A release widened step by step and halted: each step re-signs with a higher serial, keeps the
// installations' places (rolloutSerial) and leaves the entries byte for byte.
TEST_F(ChannelRolloutTest, RolloutRaisesTheSerialKeepsThePlacesAndTheEntriesAndReSigns) {
  // A serial ahead of the clock: each step takes the old serial + 1.
  ASSERT_EQ(Publish({"--key", Utf8(keyFile), "--channel", "beta", "--rollout", "5", "--serial", "1799240000"}),
            kExitSuccess)
      << console.err;
  const std::string entries = Entries(Manifest("beta"));
  std::int64_t serial = 1799240000;
  for (const char* percent : {"20", "50", "100", "0", "7"}) {
    ASSERT_EQ(Rollout({"--channel", "beta", "--percent", percent}), kExitSuccess) << percent << console.err;
    ++serial;
    EXPECT_TRUE(SignedByTheKey(Manifest("beta"))) << percent;
    const json::JsonDocument manifest = Parsed(Manifest("beta"));
    EXPECT_EQ(manifest.GetLiteral("rollout"), percent);
    EXPECT_EQ(manifest.GetLiteral("serial"), std::to_string(serial));
    EXPECT_EQ(manifest.GetLiteral("rolloutSerial"), "1799240000");
    EXPECT_EQ(manifest.GetText("channel"), "beta");
    EXPECT_EQ(manifest.GetText("expires"), "2027-02-05T12:00:00Z");  // kept
    EXPECT_EQ(Entries(Manifest("beta")), entries) << percent;
    EXPECT_TRUE(Found(console.out, "rolloutSerial 1799240000 (kept: every installation keeps its place)"))
        << console.out;
  }
  EXPECT_TRUE(Found(console.out, "rollout of the channel beta (" + Utf8(Site()) +
                                     "/download/2099/pro/beta/up.txt): now 7% of the installations (was 0%)\n"))
      << console.out;
  EXPECT_TRUE(Found(console.out, "serial 1799240005 (was 1799240004)\n  expires 2027-02-05T12:00:00Z (kept)\nsigned: "))
      << console.out;
  for (const auto& item : fs::recursive_directory_iterator(Site())) {
    EXPECT_EQ(item.path().string().find(".velmora-new"), std::string::npos) << item.path();
  }
  EXPECT_EQ(Verify(Manifest("beta")), kExitSuccess) << console.out << console.err;

  // A day later the serial is the time, as publish would take it; --expires is honoured.
  clockNow = kNow + 86400;
  ASSERT_EQ(Rollout({"--channel", "beta", "--percent", "30", "--expires", "45d"}), kExitSuccess) << console.err;
  const json::JsonDocument later = Parsed(Manifest("beta"));
  EXPECT_EQ(later.GetLiteral("serial"), std::to_string(kNow + 86400));
  EXPECT_EQ(later.GetLiteral("rolloutSerial"), "1799240000");
  EXPECT_EQ(later.GetText("expires"), update::FormatUtcTime(kNow + 86400 + 45 * 86400));
  EXPECT_EQ(Entries(Manifest("beta")), entries);
  EXPECT_TRUE(SignedByTheKey(Manifest("beta")));
}

// A release published without a rollout was placed by its serial: that serial is kept as
// rolloutSerial. An expiry that has passed is renewed, as publish would set it.
TEST_F(ChannelRolloutTest, RolloutOfAManifestWithoutOneKeepsTheOldSerialAsRolloutSerial) {
  ASSERT_EQ(Publish({"--key", Utf8(keyFile), "--serial", "1000", "--expires", "2d"}), kExitSuccess) << console.err;
  const std::string entries = Entries(Manifest());
  clockNow = kNow + 3 * 86400;
  ASSERT_EQ(Rollout({"--percent", "10"}), kExitSuccess) << console.err;
  const json::JsonDocument manifest = Parsed(Manifest());
  EXPECT_EQ(manifest.GetLiteral("rollout"), "10");
  EXPECT_EQ(manifest.GetLiteral("rolloutSerial"), "1000");
  EXPECT_EQ(manifest.GetLiteral("serial"), std::to_string(kNow + 3 * 86400));
  EXPECT_EQ(manifest.GetText("expires"), update::FormatUtcTime(kNow + 33 * 86400));
  EXPECT_FALSE(manifest.Exists("channel"));
  EXPECT_EQ(Entries(Manifest()), entries);
  EXPECT_TRUE(SignedByTheKey(Manifest()));
  EXPECT_TRUE(Found(console.out, "rollout of the default channel")) << console.out;
  EXPECT_TRUE(Found(console.out, "(was no rollout: every installation)")) << console.out;
  EXPECT_TRUE(Found(console.out, "rolloutSerial 1000 (the old serial")) << console.out;
  EXPECT_TRUE(Found(console.out, "(the manifest's own has passed; 30 days from now)")) << console.out;
}

// Nobody without the key changes a rollout, and a manifest that does not verify is not
// re-signed: each refusal leaves the manifest and its signature as they were.
TEST_F(ChannelRolloutTest, RolloutRefusesAManifestItsKeyDidNotSign) {
  velmora::testing::TempDir otherKeys;
  const fs::path otherKey = otherKeys.Path() / "other.key";
  ASSERT_EQ(Run({"keygen", "--out", Utf8(otherKey)}), kExitSuccess);
  ASSERT_EQ(Publish({"--key", Utf8(keyFile), "--channel", "beta", "--rollout", "5"}), kExitSuccess) << console.err;
  const std::string bytes = Read(Manifest("beta"));
  const std::string signature = Read(SignatureOf(Manifest("beta")));

  EXPECT_EQ(Rollout({"--channel", "beta", "--percent", "50"}, otherKey), kExitFailed);
  EXPECT_TRUE(Found(console.err, "is not this key's signature of the manifest")) << console.err;

  std::string changed = bytes;
  changed.replace(changed.find("\"rollout\":5"), 11, "\"rollout\":9");
  Write(Manifest("beta"), changed);
  EXPECT_EQ(Rollout({"--channel", "beta", "--percent", "50"}), kExitFailed);
  EXPECT_TRUE(Found(console.err, "is not this key's signature")) << console.err;
  EXPECT_EQ(Read(Manifest("beta")), changed);
  EXPECT_EQ(Read(SignatureOf(Manifest("beta"))), signature);
  Write(Manifest("beta"), bytes);

  fs::remove(SignatureOf(Manifest("beta")));
  EXPECT_EQ(Rollout({"--channel", "beta", "--percent", "50"}), kExitFailed);
  EXPECT_TRUE(Found(console.err, "up.txt.sig is missing")) << console.err;
  EXPECT_EQ(Read(Manifest("beta")), bytes);
  EXPECT_FALSE(fs::exists(SignatureOf(Manifest("beta"))));
  Write(SignatureOf(Manifest("beta")), signature);

  // Another channel, or one never published.
  EXPECT_EQ(Rollout({"--percent", "50"}), kExitFailed);
  EXPECT_TRUE(Found(console.err, "no manifest of the default channel")) << console.err;
  EXPECT_EQ(Rollout({"--channel", "rc", "--percent", "50"}), kExitFailed);
  EXPECT_TRUE(Found(console.err, "no manifest of the channel rc")) << console.err;

  EXPECT_EQ(Read(Manifest("beta")), bytes);
  EXPECT_EQ(Read(SignatureOf(Manifest("beta"))), signature);
  EXPECT_FALSE(fs::exists(Manifest()));

  // Beta's signed manifest copied into another channel's place is not that channel's own.
  for (const std::string other : {"rc", ""}) {
    Write(Manifest(other), bytes);
    Write(SignatureOf(Manifest(other)), signature);
    EXPECT_EQ(Rollout({"--percent", "50", "--channel", other.empty() ? "default" : other}), kExitFailed);
    EXPECT_TRUE(Found(console.err, "names the channel \"beta\", not the ")) << console.err;
    EXPECT_EQ(Read(Manifest(other)), bytes);
  }
}

// verify refuses members in another form (after re-signing them, so only the form is wrong), and
// diff shows each manifest's channel and rollout.
TEST_F(ChannelRolloutTest, VerifyAndDiffShowTheChannelAndTheRollout) {
  ASSERT_EQ(Publish({"--key", Utf8(keyFile)}), kExitSuccess) << console.err;
  Write(release.Path() / "Velmora.exe", "velmora 2.1 beta");
  ASSERT_EQ(Publish({"--key", Utf8(keyFile), "--channel", "beta", "--rollout", "5"}), kExitSuccess) << console.err;
  ASSERT_EQ(Run({"diff", Utf8(Manifest()), Utf8(Manifest("beta"))}), kExitFailed) << console.err;  // they differ
  EXPECT_TRUE(Found(console.out, "changed  \\Velmora.exe  16 bytes\n")) << console.out;
  EXPECT_TRUE(Found(console.out, "NEW channel beta\nNEW rollout: 5% of the installations, places drawn from "
                                 "rolloutSerial 1799236800\n"))
      << console.out;
  EXPECT_FALSE(Found(console.out, "OLD channel") || Found(console.out, "OLD rollout")) << console.out;

  const std::string bytes = Read(Manifest("beta"));
  for (const auto& [from, to, problem] :
       {std::tuple{"\"rollout\":5", "\"rollout\":101", "`rollout` 101 is not a whole number from 0 to 100"},
        std::tuple{"\"rolloutSerial\":1799236800", "\"rolloutSerial\":\"1799236800\"", "`rolloutSerial` \"1799236800\""},
        std::tuple{"\"channel\":\"beta\"", "\"channel\":\"Beta\"", "`channel` \"Beta\" is not a channel name"}}) {
    std::string text = bytes;
    text.replace(text.find(from), std::string(from).size(), to);
    Write(Manifest("beta"), text);
    ASSERT_EQ(Run({"sign", Utf8(Manifest("beta")), "--key", Utf8(keyFile)}), kExitSuccess) << console.err;
    EXPECT_EQ(Verify(Manifest("beta")), kExitFailed) << to;
    EXPECT_TRUE(Found(console.out, "problem   " + std::string(problem))) << console.out;
  }
}

}  // namespace
}  // namespace velmora::release
