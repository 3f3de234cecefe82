#include "update/staging_files.h"

#include "platform/file.h"

namespace velmora::update {

std::string StagingPathOf(const std::string& target) { return target + kStagingSuffix; }

void RemoveStagingLeftover(const std::string& target) { platform::RemoveFile(StagingPathOf(target)); }

}  // namespace velmora::update
