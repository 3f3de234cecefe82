#include "update/origin.h"

#include "state/program_state.h"
#include "update/run_directory.h"
#include "update/run_log.h"

namespace velmora::update {
namespace {

bool IsHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

}  // namespace

bool IsOrigin(const std::string& text) {
  constexpr char kScheme[] = "https://";
  if (text.rfind(kScheme, 0) != 0 || text.size() > 300) return false;
  const std::size_t hostStart = sizeof kScheme - 1;
  std::size_t at = hostStart;
  while (at < text.size() && IsHostCharacter(text[at])) ++at;
  if (at == hostStart) return false;
  if (at == text.size()) return true;
  if (text[at] != ':' || at + 1 == text.size() || text.size() - at - 1 > 5) return false;
  long port = 0;
  for (std::size_t digit = at + 1; digit < text.size(); ++digit) {
    if (text[digit] < '0' || text[digit] > '9') return false;
    port = port * 10 + (text[digit] - '0');
  }
  return port >= 1 && port <= 65535;
}

std::string ManifestOrigin() {
  const std::string& chosen = state::State().origin;
  return chosen.empty() ? BuiltInOrigin() : chosen;
}

std::string FollowPolicyOrigin(const std::optional<std::string>& policy) {
  if (!policy) return {};
  if (!IsOrigin(*policy)) return "the policy's Origin is not an origin of the form https://host[:port]";
  state::State().origin = *policy;
  AppendToRunLog(RunDirectory(), "origin: " + *policy + " (policy)");
  return {};
}

}  // namespace velmora::update
