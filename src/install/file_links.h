// Second names for files on the product's volume: how old files are kept and kept files staged
// without copying their bytes where the file system allows it.
#pragma once

#include <string>

namespace velmora::install {

// Makes `name` (GBK, a new name on the same volume; an existing file there is replaced) hold the
// bytes of `existing`: a hard link, or a copy that has reached the disk where links are not
// possible. The folders on the way to `name` are created. False when `name` could not be made.
bool LinkOrCopy(const std::string& existing, const std::string& name);

// Creates the folders on the way to the file `path` that do not exist yet.
void CreateFoldersFor(const std::string& path);

}  // namespace velmora::install
