// The run directory: the folder that holds the updater's executable, where the product's files
// live. Manifest paths ("\Bin\App.exe") and the hand-off file are joined to it.
#pragma once

#include <string>

namespace velmora::update {

// The run directory as GBK text without a trailing separator ("C:\App" for "C:\App\Updater.exe");
// empty when the executable's path is unknown. Thread-safe.
std::string RunDirectory();

// The directory part of an executable path: everything before its last separator ("\" or "/"),
// read character by character, so that a GBK trail byte 0x5C is never taken for a separator.
// Empty when the path has no separator.
std::string DirectoryOf(const std::string& executablePath);

// Tests: RunDirectory returns `directory` from now on; an empty text restores the real one.
// Not to be called while another thread reads the run directory.
void ReplaceRunDirectory(const std::string& directory);

}  // namespace velmora::update
