// A root record: the versioned list of the publisher's keys and of how many of them must sign what
// (docs/signing.md). Two roles: `root` keys sign the next root record, `release` keys sign
// manifests. Records are published as /download/2099/pro/root/<version>.json with their signatures
// beside them (the same ".sig" form as a manifest's, update/signature_set.h).
//
//   {"version":2,"expires":"2028-01-06T12:00:00Z",
//    "keys":{"<key id>":"<Base64 public key>",...},
//    "roles":{"root":{"keys":["<key id>",...],"threshold":2},
//             "release":{"keys":["<key id>"],"threshold":1}}}
//
// A key id is the hex (lower case) of the first 16 bytes of the SHA-256 of the 64-byte public key.
// Parsing is for untrusted bytes: a record above kRootRecordSizeLimit is not read at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::update {

inline constexpr std::size_t kRootRecordSizeLimit = 64 * 1024;

// The key ids allowed to sign for a role, and how many distinct ones must.
struct RootRole {
  std::vector<std::string> keyIds;
  std::size_t threshold = 1;
};

struct RootRecord {
  std::int64_t version = 1;
  std::optional<std::int64_t> expires;    // seconds since 1970; none: never (a build's single key)
  std::map<std::string, std::string> keys;  // key id -> 64-byte public key
  RootRole root;
  RootRole release;
  bool rotates = true;  // false: the root of a build's single key, for which no record is fetched
};

// 32 lower-case hex digits: the first 16 bytes of SHA-256(publicKey). Empty when hashing failed.
std::string KeyIdOf(std::string_view publicKey);

// The record in `bytes` (UTF-8 JSON) when it has the form above, with every key under its own id,
// every role key listed in `keys`, no key twice in a role, and each threshold from 1 to the role's
// key count; nothing otherwise (above the size limit included). Members not named above are ignored.
std::optional<RootRecord> ParseRootRecord(std::string_view bytes);

// The record's text in the form above (one line, members in that order, keys by id), UTF-8. What
// ParseRootRecord reads back as `record`; for the publisher's tool (and a test's records).
std::string RootRecordText(const RootRecord& record);

// The root of a build made with one key (the build option VELMORA_MANIFEST_PUBLIC_KEY): version 1,
// that key alone in both roles, threshold 1, no expiry, never rotating.
RootRecord SingleKeyRoot(const std::string& publicKey);

}  // namespace velmora::update
