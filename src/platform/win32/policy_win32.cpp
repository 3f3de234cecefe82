#include <windows.h>

#include "platform/policy.h"

namespace velmora::platform {
namespace {

// A REG_DWORD value of `key`; empty when it is missing or of another type. Reads the 64-bit view,
// where administrators' tools write on 64-bit Windows.
std::optional<std::uint32_t> DwordValue(const char* key, const char* name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

UpdatePolicy PlatformUpdatePolicy() {
  UpdatePolicy policy;
  policy.disableUpdates = DwordValue(kPolicyKey, kDisableUpdatesValue);
  return policy;
}

}  // namespace velmora::platform
