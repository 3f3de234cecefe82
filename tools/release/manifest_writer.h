// Writes the update manifest of a release with the updater's own JSON document:
//
//   {"run":"App.exe","serial":1799236800,"expires":"2027-02-05T12:00:00Z","channel":"beta",
//    "rollout":5,"rolloutSerial":1799236800,
//    "data":[{"name":"App.exe","md5":"<32 lower-case hex digits>",
//     "url":"https:\/\/cdn.example.com\/App.exe","path":"\\App.exe","size":1536,
//     "sha256":"<64 lower-case hex digits>",
//     "delta":{"index":"https:\/\/cdn.example.com\/files\/<md5>\/App.exe.vmdi","indexSize":2210,
//              "indexSha256":"<64>","headSize":153,"headSha256":"<64>",
//              "pack":"https:\/\/cdn.example.com\/files\/<md5>\/App.exe.vmdp","packSize":61440,
//              "packSha256":"<64>"}}, ...]}
//
// `serial` and `expires` (top level, each only when given) keep an old manifest from being served
// again and stop a server from freezing the product at an old release; an updater built with a
// key requires both. `channel` (a named channel's manifest) keeps it from being taken in another
// channel's place; `rollout` and `rolloutSerial` stage the release (docs/rollouts.md). `size` and `sha256` let the updater check each download beyond its MD5;
// `velmora-release diff` reads `size` to tell what an update costs. Updaters before these members
// ignore them, as they ignore every member they do not know. `delta` (only for files that have a
// chunk index and pack, delta_files.h) tells a client holding an older copy where to fetch just
// the chunks it lacks; an updater that cannot use it fetches the whole file. `mirrors` (top level,
// only when given) lists the base addresses that serve the same files, each ending with "/":
// "mirrors":["https://cdn-a.example/velmora/","https://cdn-b.example/velmora/"].
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

// Where a file's chunk index and pack lie, with their lengths and SHA-256 digests (64 lower-case
// hex digits); the index's first `headSize` bytes are its head.
struct DeltaMember {
  std::string indexUrl;  // ASCII (percent-encoded), like the entry's url
  std::uint64_t indexSize = 0;
  std::string indexSha256;
  std::uint64_t headSize = 0;
  std::string headSha256;
  std::string packUrl;
  std::uint64_t packSize = 0;
  std::string packSha256;

  bool operator==(const DeltaMember&) const = default;
};

struct ManifestEntry {
  std::u16string name;  // the file's name
  std::string md5;      // 32 lower-case hex digits
  std::string url;      // ASCII (percent-encoded)
  std::u16string path;  // "\Bin\x.dll"
  std::uint64_t size = 0;
  std::string sha256;   // 64 lower-case hex digits; not written when empty
  std::optional<DeltaMember> delta;
};

struct ManifestContent {
  std::u16string run;
  std::optional<std::int64_t> serial;   // 0 to 2^63-1
  std::optional<std::int64_t> expires;  // seconds since 1970, written as "2027-02-05T12:00:00Z"
  std::string channel;                  // the channel it names ("beta", "default"); empty: none, not written
  std::optional<std::int64_t> rollout;  // 0 to 100
  std::optional<std::int64_t> rolloutSerial;
  std::vector<std::string> mirrors;     // base addresses serving the same files; empty: not written
  std::int64_t healthSeconds = 0;       // 0 to 600; 0: not written
  std::vector<ManifestEntry> entries;   // written in this order
};

// The manifest's bytes in `encoding`. Every text must have a GBK form for ManifestEncoding::Gbk
// (the caller checks; a character without one would be written as "?"). Linear in the output.
std::string WriteManifest(const ManifestContent& content, ManifestEncoding encoding);

}  // namespace velmora::release
