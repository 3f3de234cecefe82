#include "rollout_arguments.h"

#include "command_support.h"
#include "update/manifest_freshness.h"

namespace velmora::release {

std::optional<std::int64_t> ParsePercent(const std::string& text) {
  const std::optional<std::int64_t> value = update::ParseSerial(text);  // decimal digits alone
  if (!value || *value > kWholeRollout) return std::nullopt;
  return value;
}

bool PercentArgument(const CommandLine& line, const std::string& name, ReleaseConsole& console,
                     std::optional<std::int64_t>& percent, int& exitStatus) {
  percent.reset();
  const auto option = line.values.find(name);
  if (option == line.values.end()) return true;
  percent = ParsePercent(option->second);
  if (!percent) {
    exitStatus = UsageError(console, line.command,
                            "invalid --" + name + " \"" + option->second + "\": a whole number from 0 to 100");
    return false;
  }
  return true;
}

}  // namespace velmora::release
