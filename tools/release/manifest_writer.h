// Writes the update manifest of a release with the updater's own JSON document:
//
//   {"run":"App.exe","data":[{"name":"App.exe","md5":"<32 lower-case hex digits>",
//     "url":"https:\/\/cdn.example.com\/App.exe","path":"\\App.exe","size":1536}, ...]}
//
// `size` (the file's length in bytes) is an addition that the updater ignores, as it ignores
// every member it does not know; `velmora-release diff` reads it to tell what an update costs.
// The serialiser escapes "/" as "\/", which every JSON reader reads back as "/".
#pragma once

#include <cstdint>
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
};

struct ManifestContent {
  std::u16string run;
  std::vector<ManifestEntry> entries;  // written in this order
};

// The manifest's bytes in `encoding`. Every text must have a GBK form for ManifestEncoding::Gbk
// (the caller checks; a character without one would be written as "?"). Linear in the output.
std::string WriteManifest(const ManifestContent& content, ManifestEncoding encoding);

}  // namespace velmora::release
