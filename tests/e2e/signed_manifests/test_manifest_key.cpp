// The key that the end-to-end tests' updater (velmora-update-test-key.exe) requires manifests to be
// signed with. Its private half is test_key.private beside this file: a key for tests only, known
// to everyone who reads this repository.
#include "update/manifest_signature.h"

namespace velmora::update {

std::string_view ConfiguredManifestKeyText() {
  return "Dq73cOGZ8YEQ24C84hBqbp6Ib8agItBVsqsLndyv2C1glbKVWauG7WLFCB05J3XWTZNGKBUxZ90BvSLdVT8Nlg==";
}

}  // namespace velmora::update
