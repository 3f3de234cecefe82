// Download addresses of a release: the base URL the publisher gives, each file's published name
// below it, and the two joined.
//
//   base "https://cdn.example.com/velmora/2.1/", file "Bin\新 功能.dll"
//   published name  "Bin/%E6%96%B0%20%E5%8A%9F%E8%83%BD.dll"
//   content-addressed  "files/<md5>/%E6%96%B0%20%E5%8A%9F%E8%83%BD.dll",
//                      the file itself "files\<md5>\新 功能.dll" in the tree
//   url  "https://cdn.example.com/velmora/2.1/Bin/%E6%96%B0%20%E5%8A%9F%E8%83%BD.dll"
//
// Names are written as UTF-8, every byte other than A-Z a-z 0-9 - . _ ~ percent-encoded, so the
// address is plain ASCII: the updater and any web server or object store read it alike. Files keep
// their real names on disk: a web server decodes the address before it looks for the file.
#pragma once

#include <string>

namespace velmora::release {

// The folder of the published files in a content-addressed tree.
inline constexpr char kContentFolder[] = "files";

// Why `url` cannot be a base URL, or empty text when it can: it must be http:// or https://, name
// a host (letters, digits, dots and hyphens, or an IPv6 address in brackets) with an optional
// port from 1 to 65535, and may go on with a path of printable ASCII characters; a query, a
// fragment, user credentials, spaces and other characters are refused, as are "%" signs that do
// not start an escape.
std::string BaseUrlProblem(const std::string& url);

// The published name of the file at `relativePath` (UTF-16, "\" between folders): its segments,
// percent-encoded, joined with "/".
std::string PublishedName(const std::u16string& relativePath);

// Where a file lies in a content-addressed tree: kContentFolder + "\" + md5 + "\" + its own name
// (the last segment of `relativePath`), UTF-16 with "\" between folders.
std::u16string ContentAddressedPath(const std::u16string& relativePath, const std::string& md5);

// The address of that file below the base URL: ContentAddressedPath as a published name.
std::string ContentAddressedName(const std::u16string& relativePath, const std::string& md5);

// `base` and `publishedName` joined with exactly one "/" ("http://h/a/" or "http://h/a" with
// "x.dll" give "http://h/a/x.dll").
std::string JoinUrl(const std::string& base, const std::string& publishedName);

}  // namespace velmora::release
