// The root record of the end-to-end tests' velmora-update-test-root.exe: test_root_1.json, whose root
// key is test_root_key.pem and release key test_key.private (test keys, known to every reader).
#include "update/root_of_trust.h"

namespace velmora::update {
namespace {
const unsigned char kRecord[] = {
#include "test_root_record.inc"
    0};
}  // namespace

std::string_view ConfiguredRootRecordText() { return {reinterpret_cast<const char*>(kRecord), sizeof(kRecord) - 1}; }

}  // namespace velmora::update
