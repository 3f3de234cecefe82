#include "update/path_safety.h"

#include <string_view>

#include "text/encoding.h"
#include "update/state_paths.h"

namespace velmora::update {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// A segment of nothing but dots and spaces with at least two dots: "..", "...", ". .", ".. ".
// Windows drops trailing dots and spaces from a segment, so each of them may end up as "..".
bool Climbs(std::u16string_view segment) {
  int dots = 0;
  for (char16_t c : segment) {
    if (c == u'.') {
      ++dots;
    } else if (c != u' ') {
      return false;
    }
  }
  return dots >= 2;
}

// Every rule but the leading separator, on the path's UTF-16 form. With `wholeSegments`, no
// segment after the first may be empty: "\res\\x.dat" and "\Bin\" name no file.
bool StaysBelow(std::u16string_view path, bool wholeSegments = false) {
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return false;  // "\\server\share"
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] == u':') return false;  // "C:\", "x.dll:stream"
    if (i == path.size() || IsSeparator(path[i])) {
      if (Climbs(path.substr(start, i - start))) return false;
      if (wholeSegments && start > 0 && i == start) return false;
      start = i + 1;
    }
  }
  return true;
}

std::u16string Wide(const std::string& gbk) { return text::NarrowToWide(gbk, text::NarrowCodePage); }

}  // namespace

bool IsSafeInstallPath(const std::string& path) {
  const std::u16string wide = Wide(path);
  if (wide.empty() || !IsSeparator(wide[0])) return false;
  return StaysBelow(wide, true);
}

std::u16string PathKey(const std::string& path) {
  std::u16string key = Wide(path);
  for (char16_t& c : key) {
    if (c == u'/') c = u'\\';
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return key;
}

bool IsSafeLaunchTarget(const std::string& run) {
  if (run.empty()) return true;
  const std::u16string wide = Wide(run);
  // A text that does not convert cannot be judged: refuse it rather than guess.
  return !wide.empty() && StaysBelow(wide);
}

bool IsUpdaterStatePath(const std::string& path) {
  const std::u16string key = PathKey(path);
  auto within = [&key](const char* statePath) {
    const std::u16string state = PathKey(statePath);
    // The path itself, anything below it, and names that extend it ("update.journal.tmp",
    // "PreviousRelease.new").
    return key.size() >= state.size() && key.compare(0, state.size(), state) == 0 &&
           (key.size() == state.size() || key[state.size()] == u'\\' || key[state.size()] == u'.');
  };
  return within(kKeptFolder) || within(kJournalPath) || within(kRolledBackPath) || within(kRunLogPath) ||
         within(kInstallationIdPath) || within(kChannelPath);
}

}  // namespace velmora::update
