// A release folder listed and hashed: what `manifest`, `publish` and `diff` start from.
#pragma once

#include <string>
#include <vector>

#include "manifest_writer.h"
#include "release_console.h"
#include "release_folder.h"

namespace velmora::release {

struct HashedRelease {
  ReleaseFolder folder;                        // its files, in manifest order
  std::vector<std::string> md5;                // one per file, in the same order
  std::vector<std::string> sha256;             // one per file when asked for; empty otherwise
  std::vector<std::string> errors;             // UTF-8: files that could not be read completely
};

// Hashes every file of `folder` (already listed) on all cores, MD5 and with `withSha256` SHA-256
// from the same read, showing a progress line unless `quiet`. A file that cannot be opened or read
// to its end, or whose length changed since it was listed, becomes an error. The sizes in
// `folder.files` are the bytes hashed.
HashedRelease HashRelease(ReleaseFolder folder, ReleaseConsole& console, bool quiet, bool withSha256);

// How the manifest names the files: by their path below the base URL, or by their digest.
enum class UrlLayout { ByPath, ContentAddressed };

// Where each file of `release` lies in a content-addressed tree (ContentAddressedPath), in file
// order. Files of one content whose names differ only in letter case ("Bin\A.dll", "Lib\a.dll")
// share the first one's path: Windows would write them to one file, which a server that tells
// letter cases apart must find under the name the manifest gives.
std::vector<std::u16string> ContentAddressedPaths(const HashedRelease& release);

// The manifest of a hashed release whose `run` is the release file `runFile`.
ManifestContent ManifestOf(const HashedRelease& release, const ReleaseFile& runFile, const std::string& baseUrl,
                           UrlLayout layout);

// The release file that `run` (UTF-8, "/" or "\" between folders, any letter case) names; null
// when there is none.
const ReleaseFile* FindRunFile(const ReleaseFolder& folder, const std::string& run);

}  // namespace velmora::release
