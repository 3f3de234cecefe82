// The checks of a manifest itself, with the updater's own rules: what would make the update check
// refuse the whole manifest, list a file on every run, install it somewhere else or fail it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "manifest_reader.h"

namespace velmora::release {

struct ManifestProblem {
  std::int32_t entryIndex = -1;  // the entry's place in `data`, -1 for the manifest as a whole
  std::string message;           // UTF-8, naming the entry: "entry 3 (\Bin\x.dll): ..."
};

// Every problem of `records` (which must have parsed), in entry order, the manifest's own
// problems (`run`, no entries) first:
// - `run` missing, empty, breaking the path rules, without a GBK form, or naming no listed file;
// - `serial` that is not a JSON integer from 0 to 2^63-1, `expires` that is not a text holding an
//   ISO 8601 date and time with its offset (either makes the updater refuse the whole manifest);
// - `rollout` that is not a JSON integer from 0 to 100, `rolloutSerial` that is not one from 0 to
//   2^63-1, `channel` that is not a text (each makes the updater refuse the whole manifest), and a
//   `channel` text that is no channel name (no updater follows it, so every one refuses it);
// - no entries;
// - per entry: a `path` that breaks the path rules (the updater then refuses the whole manifest),
//   holds a name Windows cannot create, or has no GBK form; a path that is the same file on
//   Windows as an earlier entry's; an `md5` that is not 32 lower-case hex digits (it never
//   matches, so the file is downloaded on every run); a `url` that is empty, not http:// or
//   https://, or without a GBK form; a `size` that is not a JSON integer from 0 to 2^63-1, a
//   `sha256` that is not a text of 64 lower-case hex digits (either refuses the whole manifest);
//   a `delta` member that the updater would not use (DeltaOf) or whose index or pack address is
//   not an http:// or https:// address with a GBK form.
std::vector<ManifestProblem> CheckManifest(const ManifestRecords& records);

// The entry's `delta` member as the updater reads it: an object whose `index` and `pack` are
// non-empty texts, whose `indexSize`, `headSize` and `packSize` are JSON integers from 1 to
// 2^63-1 with headSize <= indexSize, and whose `indexSha256`, `headSha256` and `packSha256` are
// texts of 64 hex digits (returned in lower case). Nothing when the entry has no such member;
// with `problem` (UTF-8) set when it has one that the updater ignores for its form (it then
// fetches the file whole).
std::optional<DeltaMember> DeltaOf(const ManifestRecord& record, std::string& problem);

// The manifest's expiry (seconds since 1970) when it has a valid `expires`; nothing otherwise.
std::optional<std::int64_t> ExpiryOf(const ManifestRecords& records);

// The manifest's serial when it has a valid `serial`; nothing otherwise.
std::optional<std::int64_t> SerialOf(const ManifestRecords& records);

// The manifest's `rollout` (0 to 100) and `rolloutSerial` when valid, and its `channel` text when
// it is one; nothing otherwise.
std::optional<std::int64_t> RolloutOf(const ManifestRecords& records);
std::optional<std::int64_t> RolloutSerialOf(const ManifestRecords& records);
std::optional<std::string> ChannelOf(const ManifestRecords& records);

// The manifest path of a record as the message shows it ("entry 3 (\Bin\x.dll)"), 1-based.
std::string EntryLabel(const ManifestRecord& record);

}  // namespace velmora::release
