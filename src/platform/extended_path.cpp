#include "platform/extended_path.h"

#include <vector>

namespace velmora::platform {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// The segments of `rest` with "." dropped and ".." taking the one before it away (none to take
// at the root: the root stays). Empty segments (repeated separators) are dropped.
std::vector<std::u16string_view> ResolvedSegments(std::u16string_view rest) {
  std::vector<std::u16string_view> segments;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && !IsSeparator(rest[i])) continue;
    const std::u16string_view segment = rest.substr(start, i - start);
    start = i + 1;
    if (segment.empty() || segment == u".") continue;
    if (segment == u"..") {
      if (!segments.empty()) segments.pop_back();
      continue;
    }
    segments.push_back(segment);
  }
  return segments;
}

// `root` followed by the resolved segments of `rest`, each after a "\"; a trailing separator of
// `path` is kept ("C:\a\" names a folder).
std::u16string Joined(std::u16string root, std::u16string_view rest, bool trailingSeparator) {
  const std::vector<std::u16string_view> segments = ResolvedSegments(rest);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i > 0 || root.back() != u'\\') root += u'\\';
    root += segments[i];
  }
  if (trailingSeparator && root.back() != u'\\') root += u'\\';
  return root;
}

}  // namespace

std::u16string ExtendedPath(std::u16string_view path) {
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == u'?' || path[2] == u'.') &&
      IsSeparator(path[3])) {
    return std::u16string(path);  // "\\?\..." already, or a device ("\\.\pipe\x")
  }
  const bool trailing = !path.empty() && IsSeparator(path.back());
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == u':' && IsSeparator(path[2])) {
    std::u16string root = u"\\\\?\\";
    root += path[0];
    root += u":\\";
    return Joined(std::move(root), path.substr(3), trailing);
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // "\\server\share\rest": the server and the share are the root, which ".." never leaves.
    const std::u16string_view unc = path.substr(2);
    std::size_t server = 0;
    while (server < unc.size() && !IsSeparator(unc[server])) ++server;
    std::size_t share = server + 1;
    while (share < unc.size() && !IsSeparator(unc[share])) ++share;
    if (server == 0 || server >= unc.size() || share == server + 1) return {};
    std::u16string root = u"\\\\?\\UNC\\";
    root += unc.substr(0, server);
    root += u'\\';
    root += unc.substr(server + 1, share - server - 1);
    return Joined(std::move(root), share < unc.size() ? unc.substr(share + 1) : std::u16string_view(), trailing);
  }
  return {};
}

}  // namespace velmora::platform
