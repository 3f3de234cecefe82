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
#include "update/root_of_trust.h"
#include "update/signature_set.h"
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
const std::string kKeysRefused = "获取Update文件列表失败 / 错误代码：UpData密钥错误";

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
    ReplaceConfiguredRootRecord(nullptr);
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

// A build carrying root 1 (the publisher's key); root 2 hands manifests to two new keys, both needed.
TEST_F(SignedManifestTest, ABuildWithARootTakesTheNextRootsAndTheirKeysBeforeTheManifest) {
  const platform::EcdsaP256KeyPair a = *platform::GenerateEcdsaP256KeyPair(), b = *platform::GenerateEcdsaP256KeyPair();
  RootRecord one = SingleKeyRoot(publisher.publicKey);
  one.rotates = true;
  one.expires = kNow + 3600;
  const std::string oneText = RootRecordText(one);
  ReplaceConfiguredRootRecord(&oneText);
  RootRecord two = one;
  two.version = 2;
  two.keys[KeyIdOf(a.publicKey)] = a.publicKey;
  two.keys[KeyIdOf(b.publicKey)] = b.publicKey;
  two.release = {{KeyIdOf(a.publicKey), KeyIdOf(b.publicKey)}, 2};
  using Signers = std::vector<const platform::EcdsaP256KeyPair*>;
  const auto lines = [](const std::string& bytes, const Signers& keys) {
    std::vector<SignatureLine> signed_;
    for (const auto* key : keys) signed_.push_back({KeyIdOf(key->publicKey), platform::SignEcdsaP256Sha256(key->privateKey, bytes)});
    return SignatureFileText(signed_);
  };
  const std::string twoText = RootRecordText(two);
  http.responses[RootRecordUrl(2)] = {200, twoText};
  http.responses[RootRecordUrl(2) + ".sig"] = {200, lines(twoText, {&publisher})};
  http.responses[RootRecordUrl(3)] = {404, "not found"};
  ASSERT_TRUE(StoreAcceptedSerial(runDirectory.Narrow(), INT64_MAX));  // forged with the old key
  WriteProductFile("\\Bin\\Config\\UP.beta.serial", "9223372036854775807\n");
  LeaveAStagingFileBehind();

  // The old key alone, or one of the two, no longer signs a manifest; the forged serials are gone.
  const std::string manifest = Manifest(Members(5));
  for (const Signers& signers : {Signers{&publisher}, Signers{&a, &a}}) {
    log.clear();
    Serve(manifest, lines(manifest, signers));
    ExpectRefused(kBadSignature);
  }
  EXPECT_EQ(ReadAcceptedSerial(runDirectory.Narrow()), 0);
  EXPECT_FALSE(std::filesystem::exists(runDirectory.Path() / "Bin" / "Config" / "UP.beta.serial"));
  state::ResetState();
  log.clear();
  Serve(manifest, lines(manifest, {&b, &a}));
  EXPECT_EQ(LoadManifest(), 1);
  EXPECT_EQ(ReadAcceptedSerial(runDirectory.Narrow()), 5);
  // Root 2 was stored: only root 3 is asked for.
  EXPECT_EQ(log[0], "get " + RootRecordUrl(3) + " 90000");

  // A next root that is not signed as it must be refuses the run; a quiet run ends with 25.
  http.responses[RootRecordUrl(3)] = {200, twoText};
  state::ResetState();
  LeaveAStagingFileBehind();
  log.clear();
  ExpectRefused(kKeysRefused);
  state::State().mode.quiet = true;
  try {
    LoadManifest();
    ADD_FAILURE();
  } catch (const ProgramEnded& ended) {
    EXPECT_EQ(ended.exitCode, 25u);
  }
}

}  // namespace
}  // namespace velmora::update
