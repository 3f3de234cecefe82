#include "rollout_description.h"

#include "manifest_checks.h"
#include "rollout_arguments.h"

namespace velmora::release {

std::string DescribeRollout(std::int64_t percent) {
  if (percent >= kWholeRollout) return "every installation (100%)";
  if (percent <= 0) return "no installation that has not taken it yet (0%: halted)";
  return std::to_string(percent) + "% of the installations";
}

std::string DescribeChannelAndRollout(const ManifestRecords& records) {
  std::string lines;
  if (const std::optional<std::string> channel = ChannelOf(records)) lines += "channel " + *channel + "\n";
  const std::optional<std::int64_t> rollout = RolloutOf(records);
  const std::optional<std::int64_t> rolloutSerial = RolloutSerialOf(records);
  const std::optional<std::int64_t> serial = SerialOf(records);
  if (rollout) {
    // The seed of every installation's place, as the updater picks it.
    const std::string seed = rolloutSerial ? "rolloutSerial " + std::to_string(*rolloutSerial)
                             : serial      ? "serial " + std::to_string(*serial) + " (no rolloutSerial)"
                                           : "the release's files (no rolloutSerial, no serial)";
    lines += "rollout: " + DescribeRollout(*rollout) + ", places drawn from " + seed + "\n";
  } else if (rolloutSerial) {
    lines += "rolloutSerial " + std::to_string(*rolloutSerial) + " without `rollout`: every installation\n";
  }
  return lines;
}

}  // namespace velmora::release
