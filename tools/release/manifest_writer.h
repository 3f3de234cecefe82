// Writes the update manifest of a release with the updater's own JSON document:
//
//   {"run":"App.exe","serial":1799236800,"expires":"2027-02-05T12:00:00Z",
//    "data":[{"name":"App.exe","md5":"<32 lower-case hex digits>",
//     "url":"https:\/\/cdn.example.com\/App.exe","path":"\\App.exe","size":1536,
//     "sha256":"<64 lower-case hex digits>"}, ...]}
//
// `serial` and `expires` (top level, each only when given) keep an old manifest from being served
// again and stop a server from freezing the product at an old release; an updater built with a
// key requires both. `size` and `sha256` let the updater check each download beyond its MD5;
// `velmora-release diff` reads `size` to tell what an update costs. Updaters before these members
// ignore them, as they ignore every member they do not know.
// The serialiser escapes "/" as "\/", which every JSON reader reads back as "/".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::release {

enum class ManifestEncoding {
  Utf8,  // the manifest server's up.txt
  Gbk,   // the hand-off file (Bin\Config\UP.data), which the updater reads without conversion
};

struct ManifestEntry {
  std::u16string name;  // the file's name
  std::string md5;      // 32 lower-case hex digits
  std::string url;      // ASCII (percent-encoded)
  std::u16string path;  // "\Bin\x.dll"
  std::uint64_t size = 0;
  std::string sha256;   // 64 lower-case hex digits; not written when empty
};

struct ManifestContent {
  std::u16string run;
  std::optional<std::int64_t> serial;   // 0 to 2^63-1
  std::optional<std::int64_t> expires;  // seconds since 1970, written as "2027-02-05T12:00:00Z"
  std::vector<ManifestEntry> entries;   // written in this order
};

// The manifest's bytes in `encoding`. Every text must have a GBK form for ManifestEncoding::Gbk
// (the caller checks; a character without one would be written as "?"). Linear in the output.
std::string WriteManifest(const ManifestContent& content, ManifestEncoding encoding);

}  // namespace velmora::release
