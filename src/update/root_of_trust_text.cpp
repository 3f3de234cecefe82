// The root record the build carries, from the file named by the build option
// VELMORA_ROOT_OF_TRUST (empty: none). The build writes the file's bytes into
// root_of_trust_record.inc as a list of numbers. Alone in its file so that a program can link its
// own definition instead, as with the key (update/manifest_key.cpp).
#include "update/root_of_trust.h"

namespace velmora::update {
namespace {

const unsigned char kRecord[] = {
#include "root_of_trust_record.inc"
    0};

}  // namespace

std::string_view ConfiguredRootRecordText() { return std::string_view(reinterpret_cast<const char*>(kRecord), sizeof(kRecord) - 1); }

}  // namespace velmora::update
