// Which file of a served tree answers a download address: the mapping of an ordinary static web
// server (nginx, Python's http.server, an object store's website), which `verify --base-url` uses
// to find each entry's file where the updater will ask for it.
//
//   base "https://cdn.example.com/2.1", folder served at that address
//   url  "https://cdn.example.com/2.1/files/<md5>/%E7%9A%AE%E8%82%A4%20%E8%93%9D%E8%89%B2.dat"
//   file "files\<md5>\皮肤 蓝色.dat" below the folder
//
// The address below the base is cut at "?" or "#" (a query and a fragment name no file), every
// escape is decoded and the bytes are read as UTF-8; empty and "." segments are skipped and ".."
// takes back the segment before it, as servers normalise paths.
#pragma once

#include <string>
#include <string_view>

namespace velmora::release {

struct ServedPath {
  std::u16string relativePath;  // "files\<md5>\皮肤 蓝色.dat": UTF-16, "\" between folders
  std::string problem;          // UTF-8: why no file of the tree answers the url; empty when mapped
};

// The file below the served folder that a server at `baseUrl` (as BaseUrlProblem accepts it)
// answers `url` with. A problem instead when the url does not begin with the base URL, holds
// characters that must be percent-encoded (spaces, control characters, non-ASCII) or a "\", an
// escape that is not "%" and two hex digits, an encoded "/" or "\" (servers differ on whether it
// separates folders), an encoded NUL, bytes that are not UTF-8, a ".." that leaves the folder, a
// name Windows cannot hold, or when it names a folder rather than a file.
ServedPath ServedPathOf(std::string_view url, std::string_view baseUrl);

}  // namespace velmora::release
