#include "update/mirrors.h"

#include <memory>
#include <utility>

#include "json/json_document.h"
#include "state/program_state.h"
#include "text/encoding.h"
#include "update/rollout.h"
#include "update/run_log.h"

namespace velmora::update {

bool IsMirrorBase(const std::string& text) {
  std::size_t hostStart = 0;
  if (text.rfind("https://", 0) == 0) {
    hostStart = 8;
  } else if (text.rfind("http://", 0) == 0) {
    hostStart = 7;
  } else {
    return false;
  }
  if (text.size() > 2048 || text.back() != '/') return false;
  const std::size_t pathStart = text.find('/', hostStart);
  if (pathStart == hostStart) return false;  // no host
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f || c == '?' || c == '#' || c == '\\') return false;
  }
  return true;
}

std::size_t PreferredMirror(const std::string& installationId, std::size_t count) {
  if (count == 0) return 0;
  return RolloutPlace(installationId, "mirrors") % count;
}

std::vector<MirrorAddress> MirrorAddressesOf(const std::string& url, const std::vector<std::string>& bases,
                                             std::size_t preferred) {
  std::size_t own = kNoMirror;
  for (std::size_t i = 0; i < bases.size(); ++i) {
    if (url.size() > bases[i].size() && url.compare(0, bases[i].size(), bases[i]) == 0 &&
        (own == kNoMirror || bases[i].size() > bases[own].size())) {
      own = i;
    }
  }
  if (own == kNoMirror) return {{kNoMirror, std::string(), url}};
  const std::string relative = url.substr(bases[own].size());
  std::vector<MirrorAddress> addresses;
  addresses.reserve(bases.size());
  for (std::size_t step = 0; step < bases.size(); ++step) {
    const std::size_t mirror = (preferred + step) % bases.size();
    addresses.push_back({mirror, bases[mirror], bases[mirror] + relative});
  }
  return addresses;
}

std::optional<std::vector<std::string>> ReadMirrors(const json::JsonDocument& document) {
  const json::JsonKind kind = document.GetType("mirrors");
  if (kind == json::JsonKind::Raw) return std::vector<std::string>{};
  const std::int32_t count = kind == json::JsonKind::Array ? document.GetCount("mirrors") : 0;
  if (count < 1 || static_cast<std::size_t>(count) > kMostMirrors) return std::nullopt;
  std::vector<std::string> bases;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::string element = "mirrors[" + std::to_string(i) + "]";
    if (document.GetType(element) != json::JsonKind::String) return std::nullopt;
    bases.push_back(document.GetText(element));
    if (!IsMirrorBase(bases.back())) return std::nullopt;
  }
  return bases;
}

void UseMirrors(std::vector<std::string> bases, const std::string& runDirectory) {
  state::ProgramState& state = state::State();
  state.mirrors = std::move(bases);
  state.preferredMirror = 0;
  state.mirrorFailures.reset();
  if (state.mirrors.empty()) return;
  state.preferredMirror = PreferredMirror(InstallationId(runDirectory), state.mirrors.size());
  state.mirrorFailures = std::make_shared<state::MirrorFailures>(state.mirrors.size());
  AppendToRunLog(runDirectory, "mirrors: " + std::to_string(state.mirrors.size()) + ", this installation prefers " +
                                   text::NarrowToUtf8(state.mirrors[state.preferredMirror]));
}

}  // namespace velmora::update
