#include "root_thresholds.h"

#include "update/signature_set.h"

namespace velmora::release {

std::size_t RootKeysThatSigned(const update::RootRecord& signer, const std::string& bytes,
                               const std::string& signatures) {
  std::size_t count = 0;
  for (const std::string& id : signer.root.keyIds) {
    count += update::MeetsThreshold(update::RootRole{{id}, 1}, signer.keys, bytes, signatures) ? 1 : 0;
  }
  return count;
}

std::string RootSigningLine(const update::RootRecord& signer, const std::string& whose, const std::string& bytes,
                            const std::string& signatures, bool& met) {
  const std::size_t signers = RootKeysThatSigned(signer, bytes, signatures);
  met = signers >= signer.root.threshold;
  const std::string counted = "signed by " + std::to_string(signers) + " of " + whose + "'s " +
                              std::to_string(signer.root.keyIds.size()) + " root keys";
  if (met) return counted + " (" + std::to_string(signer.root.threshold) + " needed)";
  return counted + ", " + std::to_string(signer.root.threshold) + " needed";
}

std::string UnmetRootThresholds(const std::optional<update::RootRecord>& previous, const update::RootRecord& record,
                                const std::string& bytes, const std::string& signatures) {
  std::string unmet;
  const std::string name = "root " + std::to_string(record.version);
  for (const update::RootRecord* signer : {previous ? &*previous : nullptr, &record}) {
    if (signer == nullptr) continue;
    bool met = false;
    const std::string line = RootSigningLine(*signer, "root " + std::to_string(signer->version), bytes, signatures, met);
    if (!met) {
      unmet += name + " still needs signatures of " + std::to_string(signer->root.threshold) + " of root " +
               std::to_string(signer->version) + "'s root keys: " + line + " (add them with sign --signature)\n";
    }
  }
  return unmet;
}

}  // namespace velmora::release
