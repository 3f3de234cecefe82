// The administrator's policy for the updater, read from the machine's settings:
// HKEY_LOCAL_MACHINE\Software\Policies\Velmora\Update on Windows (docs/managed.md lists the
// values). Other systems have no such place: there the policy is always the default, unless a
// test replaces the source.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::platform {

// The registry key below HKEY_LOCAL_MACHINE, and its values.
inline constexpr char kPolicyKey[] = "Software\\Policies\\Velmora\\Update";
inline constexpr char kDisableUpdatesValue[] = "DisableUpdates";
inline constexpr char kChannelValue[] = "Channel";
inline constexpr char kOriginValue[] = "Origin";

struct UpdatePolicy {
  // DisableUpdates as set (REG_DWORD); empty when the value is missing or not a DWORD.
  std::optional<std::uint32_t> disableUpdates;
  // Channel as set (REG_SZ, as UTF-8); empty when the value is missing. A value of another type
  // reads as empty text, which is no channel name.
  std::optional<std::string> channel;
  // Origin as set (REG_SZ, as UTF-8): where the manifest, its signature and the roots come from
  // instead of the build's origin; empty when the value is missing. Another type reads as empty
  // text, which is no origin.
  std::optional<std::string> origin;
};

class PolicySource {
 public:
  virtual ~PolicySource() = default;
  virtual UpdatePolicy Read() = 0;
};

// The machine's policy, or the replacement's. Thread-safe.
UpdatePolicy ReadUpdatePolicy();

// Tests: `source` (not owned) answers ReadUpdatePolicy from now on; null restores the system's.
void ReplacePolicySource(PolicySource* source);

// The system's own policy.
UpdatePolicy PlatformUpdatePolicy();

}  // namespace velmora::platform
