// Fuzz target: arbitrary bytes as a root record and its signature file, the two things a root
// server answers with before any key is trusted.
//
// The input is split at its first NUL: the bytes before are the record, those after the signature
// file (no NUL: both are the whole input). Whatever the bytes, the readers must not crash, and what
// they accept must hold what the walk relies on:
//   - a record: every key under the id of its own bytes, every role key known, no key twice in a
//     role, each threshold from 1 to the role's key count; its text, read back, is the same record;
//   - a signature file: every signature 64 bytes; its text, read back, gives the same lines;
//   - the threshold check, over the record's roles, answers without crashing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/root_record.h"
#include "update/signature_set.h"

namespace {

void CheckRole(const velmora::update::RootRecord& record, const velmora::update::RootRole& role) {
  if (role.threshold < 1 || role.threshold > role.keyIds.size()) std::abort();
  for (std::size_t i = 0; i < role.keyIds.size(); ++i) {
    if (record.keys.count(role.keyIds[i]) == 0) std::abort();
    for (std::size_t j = 0; j < i; ++j) {
      if (role.keyIds[i] == role.keyIds[j]) std::abort();
    }
  }
}

bool SameRole(const velmora::update::RootRole& a, const velmora::update::RootRole& b) {
  return a.keyIds == b.keyIds && a.threshold == b.threshold;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view recordBytes = input.substr(0, split);
  const std::string_view signatureBytes = split == std::string_view::npos ? input : input.substr(split + 1);

  const std::optional<velmora::update::RootRecord> record = velmora::update::ParseRootRecord(recordBytes);
  if (record) {
    for (const auto& [id, key] : record->keys) {
      if (key.size() != 64 || velmora::update::KeyIdOf(key) != id) std::abort();
    }
    CheckRole(*record, record->root);
    CheckRole(*record, record->release);
    const std::optional<velmora::update::RootRecord> again =
        velmora::update::ParseRootRecord(velmora::update::RootRecordText(*record));
    if (!again || again->version != record->version || again->expires != record->expires ||
        again->keys != record->keys || !SameRole(again->root, record->root) ||
        !SameRole(again->release, record->release)) {
      std::abort();
    }
  }

  const std::optional<std::vector<velmora::update::SignatureLine>> lines =
      velmora::update::ParseSignatureFile(signatureBytes);
  if (lines) {
    for (const velmora::update::SignatureLine& line : *lines) {
      if (line.signature.size() != 64) std::abort();
    }
    const std::optional<std::vector<velmora::update::SignatureLine>> again =
        velmora::update::ParseSignatureFile(velmora::update::SignatureFileText(*lines));
    if (!again || again->size() != lines->size()) std::abort();
    for (std::size_t i = 0; i < lines->size(); ++i) {
      if ((*again)[i].keyId != (*lines)[i].keyId || (*again)[i].signature != (*lines)[i].signature) std::abort();
    }
  }
  if (record) {
    velmora::update::MeetsThreshold(record->root, record->keys, recordBytes, signatureBytes);
    velmora::update::MeetsThreshold(record->release, record->keys, recordBytes, signatureBytes);
  }
  return 0;
}
