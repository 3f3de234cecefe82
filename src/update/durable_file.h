// Small files written so that a reader finds the old content or all of the new one, never a part:
// the updater's records under Bin\Config (the commit's journal, the kept release's record, the
// rolled-back release).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace velmora::update {

// Writes `bytes` to `path` (GBK) so that `path` is at every moment either missing or old, or
// holds every new byte: the bytes go to path + ".tmp", reach the disk, and that file is renamed
// over `path` (write-through). False when `path` was not replaced; the temporary file is removed
// then.
bool WriteFileDurably(const std::string& path, const std::string& bytes);

// The whole content of a small file; nothing when it is missing, unreadable or above `limit` bytes.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit = 64 * 1024 * 1024);

}  // namespace velmora::update
