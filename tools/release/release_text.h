// Texts of the publisher's tool: conversions between UTF-16 (how it keeps names), UTF-8 (its
// messages and the server's manifest) and GBK (the updater's own text), the rules Windows sets for
// names, the key under which Windows sees two paths as one file, and byte counts for people.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::release {

std::string Utf8Of(const std::u16string& wide);
std::u16string WideOfUtf8(const std::string& utf8);

// True when every character of `wide` has a GBK (code page 936) form; `gbk` receives it. GBK is
// the updater's text: a character without a GBK form would reach it as "?".
bool GbkOf(const std::u16string& wide, std::string& gbk);

// The most UTF-16 units Windows allows in one file or folder name.
inline constexpr std::size_t kLongestWindowsName = 255;

// Why Windows cannot hold `name` (one path segment) as a file or folder name, or empty text when
// it can: more than kLongestWindowsName characters, characters below U+0020 and
// < > : " / \ | ? *, a trailing dot or space (Windows drops them, so the file would get another
// name), or a device name ("CON", "nul.txt", "COM1").
std::string WindowsNameProblem(std::u16string_view name);

// The key under which two relative paths are one file on Windows: "/" read as "\", leading
// separators dropped, letters folded to lower case (ASCII, Latin-1, Greek, Cyrillic and
// full-width Latin; Windows folds every letter, these are the ones release folders hold).
std::u16string SamePathKey(std::u16string_view path);

// "1.5 MiB (1572864 bytes)", "512 bytes", "1 byte".
std::string DescribeBytes(std::uint64_t bytes);

// "1 file", "3 files".
std::string CountOf(std::uint64_t count, const std::string& singular, const std::string& plural);

}  // namespace velmora::release
