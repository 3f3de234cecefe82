// The signatures beside a signed file (a manifest's ".sig", a root record's ".sig"), and whether
// enough of a role's keys made them (docs/signing.md):
//   one line per signature: "<key id> <Base64 of the 64-byte signature>";
//   a line with the Base64 alone (the form of a single-key build's ".sig") counts only for a role
//   of one key, as that key's.
// Whitespace around each line is ignored; empty lines are skipped. A key counts once however many
// of its lines there are; a line of a key outside the role is ignored.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/root_record.h"

namespace velmora::update {

// Above this a signature file is not read (a thousand signatures fit well below it).
inline constexpr std::size_t kSignatureFileSizeLimit = 64 * 1024;

struct SignatureLine {
  std::string keyId;      // empty: a bare signature
  std::string signature;  // 64 bytes
};

// The lines of `text`; nothing when any line is out of form or the text is above the limit.
std::optional<std::vector<SignatureLine>> ParseSignatureFile(std::string_view text);

// The file's text: one "<key id> <Base64>" line per signature.
std::string SignatureFileText(const std::vector<SignatureLine>& lines);

// True when at least `role.threshold` distinct keys of `role` (their bytes from `keys`) made a
// valid signature of exactly `message` among the lines of `signatureText`. Costs at most one
// verification per line; stops as soon as the threshold is met.
bool MeetsThreshold(const RootRole& role, const std::map<std::string, std::string>& keys, std::string_view message,
                    std::string_view signatureText);

}  // namespace velmora::update
