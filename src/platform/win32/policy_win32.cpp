#include <windows.h>

#include "platform/policy.h"

#include <string>

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

// A text value of `key` as UTF-8, whatever its length; empty when it is missing. A value of another
// type reads as empty text, which no setting accepts, so that a wrong value is refused, not ignored.
std::optional<std::string> TextValue(const char* key, const char* name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::wstring wideName(name, name + std::char_traits<char>::length(name));
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(opened, wideName.c_str(), nullptr, &type, nullptr, &size);
  std::wstring text;
  if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    text.resize(size / sizeof(wchar_t) + 1);
    status = RegQueryValueExW(opened, wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    text.resize(status == ERROR_SUCCESS ? size / sizeof(wchar_t) : 0);
  }
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS) return std::nullopt;
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
  std::string utf8(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length, nullptr, nullptr);
  }
  return utf8;
}

}  // namespace

UpdatePolicy PlatformUpdatePolicy() {
  UpdatePolicy policy;
  policy.disableUpdates = DwordValue(kPolicyKey, kDisableUpdatesValue);
  policy.channel = TextValue(kPolicyKey, kChannelValue);
  policy.origin = TextValue(kPolicyKey, kOriginValue);
  return policy;
}

}  // namespace velmora::platform
