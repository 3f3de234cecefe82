// How far a root record's signatures go: root N must be signed by the threshold of root N-1's
// `root` keys and by that of its own; root 1, which the builds carry, is signed by its own at the
// key ceremony (docs/signing.md). `root`, `sign` and `verify SITE` tell the publisher what is
// still missing.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "update/root_record.h"

namespace velmora::release {

// How many of the `root` keys of `signer` made a valid signature of `bytes` in `signatures`.
std::size_t RootKeysThatSigned(const update::RootRecord& signer, const std::string& bytes,
                               const std::string& signatures);

// One line for `signer`'s `root` keys on the record `bytes` (`whose` names the signer:
// "root 1"): "signed by 1 of root 1's 3 root keys, 2 needed: add ..." when short, else
// "signed by 2 of root 1's 3 root keys (2 needed)".
std::string RootSigningLine(const update::RootRecord& signer, const std::string& whose, const std::string& bytes,
                            const std::string& signatures, bool& met);

// What the record `bytes` (of `record`) lacks, a line per unmet threshold: of `previous`'s root
// keys when given, and of its own. Empty when every threshold is met.
std::string UnmetRootThresholds(const std::optional<update::RootRecord>& previous, const update::RootRecord& record,
                                const std::string& bytes, const std::string& signatures);

}  // namespace velmora::release
