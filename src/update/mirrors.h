// Mirrors: other base addresses that serve the same files as the manifest's own. A manifest may
// list them in its top-level member `mirrors` (docs/release-tool.md):
//
//   "mirrors": ["https://cdn-a.example/velmora/", "https://cdn-b.example/velmora/"]
//
// An address that begins with one of the listed bases can be fetched from the same relative path
// below each of them. Each installation prefers one mirror, drawn from its identifier, so that
// the fleet's requests spread evenly over the mirrors and one installation keeps to the same one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velmora::json {
class JsonDocument;
}

namespace velmora::update {

// The most mirrors a manifest may list.
inline constexpr std::size_t kMostMirrors = 16;

// A usable base: "http://" or "https://", a host, and a path ending with "/"; no spaces, no
// control characters, no query or fragment.
bool IsMirrorBase(const std::string& text);

// The mirror an installation prefers among `count` (> 0): RolloutPlace(installationId, "mirrors")
// modulo `count`.
std::size_t PreferredMirror(const std::string& installationId, std::size_t count);

// One place of a file: the mirror's position in the list (or kNoMirror), its base (empty for
// kNoMirror) and the address there.
inline constexpr std::size_t kNoMirror = static_cast<std::size_t>(-1);
struct MirrorAddress {
  std::size_t mirror = kNoMirror;
  std::string base;
  std::string url;
};

// The addresses of `url` on every mirror, the preferred one first and then the others in list
// order after it (wrapping around). A `url` below no listed base has only itself (kNoMirror).
// When it lies below several, the longest base is its base.
std::vector<MirrorAddress> MirrorAddressesOf(const std::string& url, const std::vector<std::string>& bases,
                                             std::size_t preferred);

// The manifest's `mirrors` member: empty when there is none; nothing when it is out of form (not
// an array of 1 to kMostMirrors texts that are each IsMirrorBase), which refuses the manifest as
// any other malformed member does. Texts as the document's GetText gives them, like `url`.
std::optional<std::vector<std::string>> ReadMirrors(const json::JsonDocument& document);

// Makes `bases` the run's mirrors (ProgramState): the preferred one drawn from the installation's
// identifier below `runDirectory`, every failure count at 0; logs them. No mirrors: none kept.
void UseMirrors(std::vector<std::string> bases, const std::string& runDirectory);

}  // namespace velmora::update
