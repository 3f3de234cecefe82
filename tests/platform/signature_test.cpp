// ECDSA P-256 through the platform (OpenSSL natively, CNG under Wine): a signature made elsewhere
// verifies, signatures made here verify, and nothing else does.
#include "platform/signature.h"

#include <gtest/gtest.h>

#include "text/base64.h"

namespace velmora::platform {
namespace {

// A key pair and a signature of "the release manifest" made with the openssl command.
const std::string kPublicKey = *text::Base64Decode(
    "LLArdDD8BDGwhhOo4xwplINm7inFuFZZMz6Fdu+B4V40gMe8bm0As4vrvRABug5sTR6vmuXXIrFbcTolwFH6+g==");
const std::string kPrivateKey = *text::Base64Decode(
    "LLArdDD8BDGwhhOo4xwplINm7inFuFZZMz6Fdu+B4V40gMe8bm0As4vrvRABug5sTR6vmuXXIrFbcTolwFH6+tIJOEmnfvmKHr3Bb5Uba8fz"
    "ykR75sT+vOMUgzheH7cg");
const std::string kSignature = *text::Base64Decode(
    "T2NGEIvwWwGRcamwyN7F5CBN4FfRpup8Bt6e36Mf7VYPeCy6fG8Nsvku3fPFBw+b7nd/kXyS/G5wfM/zYN6K+w==");
const std::string kMessage = "the release manifest";

TEST(EcdsaP256, ASignatureMadeElsewhereVerifiesAndNoChangedOneDoes) {
  EXPECT_TRUE(VerifyEcdsaP256Sha256(kPublicKey, kMessage, kSignature));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(kPublicKey, kMessage + " ", kSignature));
  std::string changed = kSignature;
  changed[10] = static_cast<char>(changed[10] ^ 1);
  EXPECT_FALSE(VerifyEcdsaP256Sha256(kPublicKey, kMessage, changed));
  std::string otherPoint = kPublicKey;
  otherPoint[63] = static_cast<char>(otherPoint[63] ^ 1);  // no longer on the curve
  EXPECT_FALSE(VerifyEcdsaP256Sha256(otherPoint, kMessage, kSignature));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(kPublicKey, kMessage, kSignature.substr(1)));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(kPublicKey.substr(1), kMessage, kSignature));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(kPublicKey, kMessage, std::string(64, '\0')));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(kPublicKey, kMessage, ""));
}

TEST(EcdsaP256, KeysMadeHereSignWhatTheyVerifyAndOnlyThat) {
  const std::optional<EcdsaP256KeyPair> pair = GenerateEcdsaP256KeyPair();
  ASSERT_TRUE(pair.has_value());
  ASSERT_EQ(pair->publicKey.size(), kEcdsaP256PublicKeySize);
  ASSERT_EQ(pair->privateKey.substr(0, kEcdsaP256PublicKeySize), pair->publicKey);
  const std::string manifest = "{\"run\":\"App.exe\",\"data\":[]}";
  const std::string signature = SignEcdsaP256Sha256(pair->privateKey, manifest);
  ASSERT_EQ(signature.size(), kEcdsaP256SignatureSize);
  EXPECT_TRUE(VerifyEcdsaP256Sha256(pair->publicKey, manifest, signature));
  EXPECT_FALSE(VerifyEcdsaP256Sha256(kPublicKey, manifest, signature)) << "another key";
  EXPECT_NE(GenerateEcdsaP256KeyPair()->publicKey, pair->publicKey);

  // The fixed private key signs so that its public key verifies (the scalar and the point agree).
  EXPECT_TRUE(VerifyEcdsaP256Sha256(kPublicKey, kMessage, SignEcdsaP256Sha256(kPrivateKey, kMessage)));
  EXPECT_EQ(SignEcdsaP256Sha256(kPrivateKey.substr(1), kMessage), "");
}

}  // namespace
}  // namespace velmora::platform
