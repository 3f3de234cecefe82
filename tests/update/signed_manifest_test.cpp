// Manifests that must be signed: the signature, the serial and the expiry decide before anything
// is listed or written; without a required key the new members are used when present.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "check_doubles.h"
#include "platform/signature.h"
#include "update/fingerprint.h"
#include "update/manifest.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"
#include "update/staging_files.h"

namespace velmora::update {
namespace {

using testing::ManifestFile;
using testing::ManifestJson;
using testing::ProgramEnded;

const std::string kBadSignature = "获取Update文件列表失败 / 错误代码：UpData签名错误";
const std::string kRolledBack = "获取Update文件列表失败 / 错误代码：UpData版本过旧";
const std::string kExpired = "获取Update文件列表失败 / 错误代码：UpData已过期";
const std::string kBadManifest = "获取Update文件列表失败 / 错误代码：UpData数据错误";

constexpr std::int64_t kNow = 1799236800;  // 2027-01-06T12:00:00Z
std::int64_t Now() { return kNow; }

// A manifest listing one stale file, with `members` ("\"serial\":5,...") before the usual ones.
std::string Manifest(const std::string& members) {
  const std::string plain = ManifestJson("App.exe", {{"core", Md5Hex("core v2"), "\\Bin\\core.dll"}});
  return members.empty() ? plain : "{" + members + "," + plain.substr(1);
}

std::function<void(std::uint32_t)> whilePaused;  // what the pause before a second fetch does in a test

std::string Members(std::int64_t serial, const std::string& expires = "2027-02-05T12:00:00Z") {
  return "\"serial\":" + std::to_string(serial) + ",\"expires\":\"" + expires + "\"";
}

class SignedManifestTest : public testing::UpdateCheckTest {
 protected:
  void SetUp() override {
    UpdateCheckTest::SetUp();
    keyText = PublicKeyText(publisher.publicKey);
    ReplaceRequiredManifestKey(&keyText);
    ReplaceUtcSecondsNow(Now);
    whilePaused = [](std::uint32_t) {};
    ReplaceMismatchPause([](std::uint32_t ms) { whilePaused(ms); });
    WriteProductFile("\\Bin\\core.dll", "core v1");
  }
  void TearDown() override {
    ReplaceMismatchPause(nullptr);
    ReplaceUtcSecondsNow(nullptr);
    ReplaceRequiredManifestKey(nullptr);
    UpdateCheckTest::TearDown();
  }

  // The server answers with `manifest` and, beside it, `signatureText`.
  void Serve(const std::string& manifest, const std::string& signatureText, std::int32_t signatureStatus = 200) {
    ServerAnswers(manifest);
    http.responses[ManifestUrl() + ".sig"] = platform::HttpResponse{signatureStatus, signatureText};
  }
  std::string SignatureOf(const std::string& manifest, const platform::EcdsaP256KeyPair& signer) const {
    return SignatureText(platform::SignEcdsaP256Sha256(signer.privateKey, manifest));
  }
  void ServeSigned(const std::string& manifest) { Serve(manifest, SignatureOf(manifest, publisher)); }

  // The refusal leaves everything as it was: nothing listed, no state file, no file removed.
  void ExpectRefused(const std::string& notice) {
    EXPECT_THROW(LoadManifest(), ProgramEnded);
    EXPECT_EQ(Notices(), (std::vector<std::string>{notice}));
    EXPECT_TRUE(state::State().updateList.empty());
    EXPECT_TRUE(std::filesystem::exists(runDirectory.Path() / "Bin" / "core.dll.left.velmora-part"));
  }
  void LeaveAStagingFileBehind() { WriteProductFile("\\Bin\\core.dll.left.velmora-part", "part"); }

  platform::EcdsaP256KeyPair publisher = *platform::GenerateEcdsaP256KeyPair();
  std::string keyText;
};

TEST_F(SignedManifestTest, ASignedFreshManifestIsAcceptedAndItsSerialKept) {
  ServeSigned(Manifest(Members(1765000000)));
  EXPECT_EQ(LoadManifest(), 1);
  EXPECT_EQ(ReadAcceptedSerial(runDirectory.Narrow()), 1765000000);
  EXPECT_EQ(log, (testing::EventLog{"get " + ManifestUrl() + " 90000", "get " + ManifestUrl() + ".sig 90000"}));

  // The same release again (an equal serial) is accepted; the state file survives the restart.
  state::ResetState();
  EXPECT_EQ(LoadManifest(), 1);
  EXPECT_TRUE(Notices().empty());
}

TEST_F(SignedManifestTest, AnythingButTheKeysSignatureOfTheExactBytesIsRefused) {
  const std::string manifest = Manifest(Members(1765000000));
  const platform::EcdsaP256KeyPair stranger = *platform::GenerateEcdsaP256KeyPair();
  std::string changed = manifest;
  changed[changed.find("core")] = 'C';
  const struct {
    const char* what;
    std::string body;
    std::string signature;
    std::int32_t status;
  } cases[] = {
      {"one byte changed", changed, SignatureOf(manifest, publisher), 200},
      {"no signature file", manifest, "not found", 404},
      {"an empty signature file", manifest, "", 200},
      {"a signature that is not Base64", manifest, "signed!", 200},
      {"another key's signature", manifest, SignatureOf(manifest, stranger), 200},
      {"a trailing newline added", manifest + "\n", SignatureOf(manifest, publisher), 200},
  };
  LeaveAStagingFileBehind();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    log.clear();
    Serve(c.body, c.signature, c.status);
    ExpectRefused(kBadSignature);
    EXPECT_EQ(ReadAcceptedSerial(runDirectory.Narrow()), 0);
  }
}

TEST_F(SignedManifestTest, AMismatchedPairIsFetchedAgainOnceAfterAPauseBeforeItIsRefused) {
  // The first two requests came while a publish renamed the pair: it is done after the pause.
  const std::string manifest = Manifest(Members(1765000001));
  Serve(manifest, SignatureOf(Manifest(Members(1765000000)), publisher));
  whilePaused = [&](std::uint32_t ms) { log.push_back("pause " + std::to_string(ms)); ServeSigned(manifest); };
  EXPECT_EQ(LoadManifest(), 1);
  const std::string get = "get " + ManifestUrl();
  EXPECT_EQ(log, (testing::EventLog{get + " 90000", get + ".sig 90000", "pause 3000", get + " 90000",
                                    get + ".sig 90000"}));
  std::ifstream runLog(runDirectory.Path() / "Bin" / "Config" / "update.log");
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(runLog), {}).find("did not match; fetching both again in 3 s"),
            std::string::npos);

  // A pair that still does not match is refused after that one second fetch.
  state::ResetState();
  LeaveAStagingFileBehind();
  Serve(manifest, "signed!");
  whilePaused = [&](std::uint32_t) { log.clear(); };
  ExpectRefused(kBadSignature);
  EXPECT_EQ(log, (testing::EventLog{get + " 90000", get + ".sig 90000", "notice " + kBadSignature}));
}

TEST_F(SignedManifestTest, AnOlderOrExpiredManifestIsRefusedWhole) {
  LeaveAStagingFileBehind();
  ASSERT_TRUE(StoreAcceptedSerial(runDirectory.Narrow(), 1765000000));
  ServeSigned(Manifest(Members(1764999999)));
  ExpectRefused(kRolledBack);
  EXPECT_EQ(ReadAcceptedSerial(runDirectory.Narrow()), 1765000000);

  log.clear();
  ServeSigned(Manifest(Members(1765000001, "2027-01-06T11:59:59Z")));
  ExpectRefused(kExpired);
  log.clear();
  ServeSigned(Manifest(Members(1765000001, "2027-01-06T12:00:00Z")));
  ExpectRefused(kExpired);
  EXPECT_EQ(ReadAcceptedSerial(runDirectory.Narrow()), 1765000000);
}

TEST_F(SignedManifestTest, ASignedManifestMustCarryItsSerialAndExpiryInTheirForms) {
  LeaveAStagingFileBehind();
  for (const std::string& members :
       {std::string(), std::string("\"serial\":5"), std::string("\"expires\":\"2027-02-05T12:00:00Z\""),
        Members(5, "next month"), std::string("\"serial\":\"5\",\"expires\":\"2027-02-05T12:00:00Z\""),
        std::string("\"serial\":-5,\"expires\":\"2027-02-05T12:00:00Z\"")}) {
    SCOPED_TRACE(members);
    log.clear();
    ServeSigned(Manifest(members));
    ExpectRefused(kBadManifest);
  }
}

TEST_F(SignedManifestTest, WithoutARequiredKeyNothingIsFetchedBesideTheManifest) {
  ReplaceRequiredManifestKey(nullptr);
  ServerAnswers(Manifest(""));
  EXPECT_EQ(LoadManifest(), 1);
  EXPECT_EQ(log, (testing::EventLog{"get " + ManifestUrl() + " 90000"}));

  // The new members still count when a manifest carries them.
  state::ResetState();
  log.clear();
  ServerAnswers(Manifest(Members(7, "2027-01-01T00:00:00Z")));
  EXPECT_THROW(LoadManifest(), ProgramEnded);
  EXPECT_EQ(Notices(), (std::vector<std::string>{kExpired}));
}

TEST_F(SignedManifestTest, EntriesMayCarryASizeAndASha256InTheirForms) {
  ReplaceRequiredManifestKey(nullptr);
  const std::string sha256(64, 'a');
  const std::string entry = "{\"name\":\"core\",\"md5\":\"" + Md5Hex("core v2") + "\",\"url\":\"http://127.0.0.1/core\","
                            "\"path\":\"\\\\Bin\\\\core.dll\"";
  ServerAnswers("{\"run\":\"App.exe\",\"data\":[" + entry + ",\"size\":7,\"sha256\":\"" + sha256 + "\"}]}");
  ASSERT_EQ(LoadManifest(), 1);
  EXPECT_EQ(state::State().updateList[0].size, 7);
  EXPECT_EQ(state::State().updateList[0].sha256, sha256);

  // A digest in upper case is the same digest, kept in lower case.
  state::ResetState();
  ServerAnswers("{\"run\":\"App.exe\",\"data\":[" + entry + ",\"sha256\":\"" + std::string(64, 'A') + "\"}]}");
  ASSERT_EQ(LoadManifest(), 1);
  EXPECT_EQ(state::State().updateList[0].sha256, sha256);

  for (const std::string& members : {std::string(",\"size\":-1"), std::string(",\"size\":\"7\""), std::string(",\"size\":7.5"),
                                     std::string(",\"sha256\":\"") + std::string(64, 'g') + "\"",
                                     std::string(",\"sha256\":\"abc\""),
                                     std::string(",\"sha256\":") + std::string(64, '1')}) {
    SCOPED_TRACE(members);
    state::ResetState();
    log.clear();
    ServerAnswers("{\"run\":\"App.exe\",\"data\":[" + entry + members + "}]}");
    EXPECT_THROW(LoadManifest(), ProgramEnded);
    EXPECT_EQ(Notices(), (std::vector<std::string>{kBadManifest}));
  }
}

}  // namespace
}  // namespace velmora::update
