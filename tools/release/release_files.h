// File work of the publisher's tool: paths from the command line, whole files read and written,
// folders made, files copied while their digest is checked.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::release {

// What is appended to a file's name while its new bytes are written, before they replace it.
inline constexpr char kStagedSuffix[] = ".velmora-new";

// The command-line path `utf8` as the program's GBK path text. False, with `error` set, when a
// character has no GBK form (the file functions of the updater's code take GBK paths).
bool PathArgument(const std::string& utf8, std::string& gbk, std::string& error);

// Every byte of the file at `path` (GBK); false when it cannot be opened or read to its end.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Writes `bytes` to `path` (GBK) in one step: into "<path>.velmora-new" first, which then replaces
// the file. False, with `error` (UTF-8) set, when it could not; no half-written file is left in
// the place of `path`.
bool WriteFileReplacing(const std::string& path, const std::string& bytes, std::string& error);

// The two steps of WriteFileReplacing, for files that must change together (a manifest and its
// signature): StageFile writes `bytes` into "<path>.velmora-new" and makes them reach the disk;
// ReplaceWithStaged then puts that file in the place of `path` in one step. Each returns false,
// with `error` (UTF-8) set and the staged file removed, when it could not. DiscardStaged removes a
// staged file that is not to be used after all.
bool StageFile(const std::string& path, const std::string& bytes, std::string& error);
bool ReplaceWithStaged(const std::string& path, std::string& error);
void DiscardStaged(const std::string& path);

// Creates the folder `path` (GBK, "\" or "/" between folders) and the folders above it that are
// missing. False when it does not exist afterwards.
bool CreateFolders(const std::string& path);

// The folder part of `path` (GBK) without its last "\" or "/", or empty text when it has none.
std::string FolderOf(const std::string& path);

// Creates the folder that the file `path` (GBK) goes into, as CreateFolders does: an --out FILE
// whose folder is missing gets one, as `publish` makes its own. True when there is one afterwards;
// false with `error` (UTF-8) set when it could not be made (a file in its place).
bool CreateParentFolder(const std::string& path, std::string& error);

// Copies `from` to `to` (GBK), through "<to>.velmora-new", hashing the bytes on the way: true
// only when every byte was copied and their MD5 is `md5`; `to` is then replaced in one step.
// Otherwise `to` is left as it was and `error` (UTF-8) says why.
bool CopyFileChecked(const std::string& from, const std::string& to, const std::string& md5, std::string& error);

}  // namespace velmora::release
