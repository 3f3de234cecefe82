#include "update/root_record.h"

#include <algorithm>

#include "json/json_document.h"
#include "platform/hash.h"
#include "platform/signature.h"
#include "text/encoding.h"
#include "update/fingerprint.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"

namespace velmora::update {
namespace {

constexpr std::size_t kKeyIdBytes = 16;

bool IsKeyIdText(const std::string& text) {
  return text.size() == 2 * kKeyIdBytes &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::optional<std::int64_t> CountAt(const json::JsonDocument& document, const std::string& path) {
  if (document.GetType(path) != json::JsonKind::Integer) return std::nullopt;
  return ParseSerial(document.GetLiteral(path));
}

// The keys of `keys`, each under the id of its own bytes.
bool ReadKeys(const json::JsonDocument& document, std::map<std::string, std::string>& keys) {
  if (document.GetType("keys") != json::JsonKind::Object) return false;
  std::vector<std::string> ids;
  document.GetKeys("keys", ids);
  for (const std::string& id : ids) {
    // Checked before it is used in a path: a key id never holds "." or "[".
    if (!IsKeyIdText(id) || keys.count(id) != 0) return false;
    const std::string path = "keys." + id;
    if (document.GetType(path) != json::JsonKind::String) return false;
    const std::optional<std::string> key = PublicKeyFromText(document.GetText(path));
    if (!key || KeyIdOf(*key) != id) return false;
    keys.emplace(id, *key);
  }
  return !keys.empty();
}

bool ReadRole(const json::JsonDocument& document, const std::string& name,
              const std::map<std::string, std::string>& keys, RootRole& role) {
  const std::string path = "roles." + name;
  if (document.GetType(path + ".keys") != json::JsonKind::Array) return false;
  const std::int32_t count = document.GetCount(path + ".keys");
  for (std::int32_t i = 0; i < count; ++i) {
    const std::string element = path + ".keys[" + std::to_string(i) + "]";
    if (document.GetType(element) != json::JsonKind::String) return false;
    std::string id = document.GetText(element);
    if (keys.count(id) == 0 || std::find(role.keyIds.begin(), role.keyIds.end(), id) != role.keyIds.end()) {
      return false;
    }
    role.keyIds.push_back(std::move(id));
  }
  const std::optional<std::int64_t> threshold = CountAt(document, path + ".threshold");
  if (!threshold || *threshold < 1 || static_cast<std::uint64_t>(*threshold) > role.keyIds.size()) return false;
  role.threshold = static_cast<std::size_t>(*threshold);
  return true;
}

}  // namespace

std::string KeyIdOf(std::string_view publicKey) {
  platform::HashComputation sha256(platform::kCalgSha256);
  sha256.Add(publicKey);
  const std::string digest = sha256.Finish(32);
  if (digest.size() < kKeyIdBytes) return {};
  return LowerHexOfDigest(digest.substr(0, kKeyIdBytes));
}

std::optional<RootRecord> ParseRootRecord(std::string_view bytes) {
  if (bytes.size() > kRootRecordSizeLimit) return std::nullopt;
  json::JsonDocument document;
  if (!document.ParseWide(text::NarrowToWide(std::string(bytes), text::Utf8CodePage), true)) return std::nullopt;
  if (document.GetType("") != json::JsonKind::Object) return std::nullopt;
  RootRecord record;
  const std::optional<std::int64_t> version = CountAt(document, "version");
  if (!version || *version < 1) return std::nullopt;
  record.version = *version;
  if (document.GetType("expires") != json::JsonKind::String) return std::nullopt;
  record.expires = ParseUtcTime(document.GetText("expires"));
  if (!record.expires || !ReadKeys(document, record.keys)) return std::nullopt;
  if (!ReadRole(document, "root", record.keys, record.root)) return std::nullopt;
  if (!ReadRole(document, "release", record.keys, record.release)) return std::nullopt;
  return record;
}

std::string RootRecordText(const RootRecord& record) {
  const auto role = [](const RootRole& r) {
    std::string ids;
    for (const std::string& id : r.keyIds) ids += (ids.empty() ? "\"" : ",\"") + id + "\"";
    return "{\"keys\":[" + ids + "],\"threshold\":" + std::to_string(r.threshold) + "}";
  };
  std::string keys;
  for (const auto& [id, key] : record.keys) {
    keys += (keys.empty() ? "\"" : ",\"") + id + "\":\"" + PublicKeyText(key) + "\"";
  }
  return "{\"version\":" + std::to_string(record.version) + ",\"expires\":\"" +
         FormatUtcTime(record.expires.value_or(0)) + "\",\"keys\":{" + keys + "},\"roles\":{\"root\":" +
         role(record.root) + ",\"release\":" + role(record.release) + "}}\n";
}

RootRecord SingleKeyRoot(const std::string& publicKey) {
  RootRecord record;
  const std::string id = KeyIdOf(publicKey);
  record.keys.emplace(id, publicKey);
  record.root.keyIds = {id};
  record.release.keyIds = {id};
  record.rotates = false;
  return record;
}

}  // namespace velmora::update
