// Reads an update manifest the way the updater does: the text up to its first zero byte, parsed
// by the updater's JSON document (unicode escapes left as written, as the updater leaves them),
// `run` and the members of every `data[N]` read as texts, `data` as an array or an object.
//
// The texts are kept as UTF-16, before any conversion to GBK, so that the checks can tell which
// of them the updater would read with "?" in place of a character.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/json_node.h"
#include "manifest_writer.h"

namespace velmora::release {

// A member that a manifest may leave out, as written: its JSON kind and its text (a string's
// text, a number's literal). The updater refuses the whole manifest when one is present in
// another form than its own.
struct OptionalMember {
  bool present = false;
  json::JsonKind kind = json::JsonKind::Raw;
  std::u16string text;
};

// The fields of an entry's `delta` member, each as written.
struct DeltaRecord {
  OptionalMember index;
  OptionalMember indexSize;
  OptionalMember indexSha256;
  OptionalMember headSize;
  OptionalMember headSha256;
  OptionalMember pack;
  OptionalMember packSize;
  OptionalMember packSha256;
};

struct ManifestRecord {
  std::int32_t index = 0;  // its place in `data`, from 0
  std::u16string name;
  std::u16string md5;
  std::u16string url;
  std::u16string path;
  std::optional<std::uint64_t> size;  // present when the entry has an integer `size` >= 0
  OptionalMember sizeMember;          // `size` as written
  OptionalMember sha256;
  OptionalMember deltaMember;  // `delta` as written (an object when well-formed)
  DeltaRecord delta;           // its fields, when it is an object
};

struct ManifestRecords {
  bool parsed = false;
  std::string error;        // UTF-8, when not parsed: "not valid JSON at line 3, column 14 ..."
  std::string notes;        // UTF-8 remarks on the text itself (a zero byte that ends it early)
  bool hasRun = false;
  std::u16string run;
  OptionalMember serial;
  OptionalMember expires;
  OptionalMember channel;
  OptionalMember rollout;
  OptionalMember rolloutSerial;
  OptionalMember mirrorsMember;      // `mirrors` as written
  std::vector<std::string> mirrors;  // its bases, when it has the updater's form (update/mirrors.h)
  std::vector<ManifestRecord> entries;
};

// Reads the manifest text `bytes` in `encoding`.
ManifestRecords ReadManifestText(const std::string& bytes, ManifestEncoding encoding);

}  // namespace velmora::release
