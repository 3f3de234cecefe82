// The root record that the end-to-end tests' updater (velmora-update-test-root.exe) carries:
// test_root_1.json beside this file, whose root key is test_root_key.pem and whose release key is
// test_key.private. Keys for tests only, known to everyone who reads this repository.
#include "update/root_of_trust.h"

namespace velmora::update {
namespace {

const unsigned char kRecord[] = {
#include "test_root_record.inc"
    0};

}  // namespace

std::string_view ConfiguredRootRecordText() {
  return std::string_view(reinterpret_cast<const char*>(kRecord), sizeof(kRecord) - 1);
}

}  // namespace velmora::update
