#include "update/root_chain.h"

#include "update/manifest_freshness.h"
#include "update/signature_set.h"

namespace velmora::update {

std::optional<RootRecord> NextRoot(const RootRecord& previous, std::string_view recordBytes,
                                   std::string_view signatureText, std::string& why) {
  std::optional<RootRecord> next = ParseRootRecord(recordBytes);
  const std::string name = "root " + std::to_string(previous.version + 1);
  if (!next) {
    why = name + ": not a root record (or above " + std::to_string(kRootRecordSizeLimit) + " bytes)";
  } else if (next->version != previous.version + 1) {
    why = name + ": the record says version " + std::to_string(next->version);
  } else if (!MeetsThreshold(previous.root, previous.keys, recordBytes, signatureText)) {
    why = name + ": not signed by " + std::to_string(previous.root.threshold) + " of root " +
          std::to_string(previous.version) + "'s root keys";
  } else if (!MeetsThreshold(next->root, next->keys, recordBytes, signatureText)) {
    why = name + ": not signed by " + std::to_string(next->root.threshold) + " of its own root keys";
  } else {
    return next;
  }
  return std::nullopt;
}

bool ReleaseKeysDiffer(const RootRecord& before, const RootRecord& after) {
  if (before.release.threshold != after.release.threshold || before.release.keyIds != after.release.keyIds) return true;
  for (const std::string& id : after.release.keyIds) {
    if (before.keys.at(id) != after.keys.at(id)) return true;
  }
  return false;
}

RootWalk WalkRootChain(const RootRecord& start, const std::function<FetchedRoot(std::int64_t version)>& fetch,
                       const std::function<bool(const RootRecord& previous, const RootRecord& next,
                                                const std::string& record)>& take,
                       std::int64_t now, std::int64_t stepLimit) {
  RootWalk walk;
  RootRecord current = start;
  while (current.rotates) {
    const FetchedRoot fetched = fetch(current.version + 1);
    if (fetched.failed) {
      walk.why = "root " + std::to_string(current.version + 1) + ": " + fetched.why;
      return walk;
    }
    if (!fetched.found) break;
    if (walk.taken == stepLimit) {
      walk.why = "more than " + std::to_string(stepLimit) + " new roots";
      return walk;
    }
    std::optional<RootRecord> next = NextRoot(current, fetched.record, fetched.signatures, walk.why);
    if (!next) return walk;
    if (!take(current, *next, fetched.record)) {
      walk.why = "root " + std::to_string(next->version) + " could not be stored";
      return walk;
    }
    ++walk.taken;
    current = std::move(*next);
  }
  if (current.expires && now >= *current.expires) {
    walk.why = "root " + std::to_string(current.version) + " expired " + FormatUtcTime(*current.expires);
    return walk;
  }
  walk.why.clear();
  walk.newest = std::move(current);
  return walk;
}

}  // namespace velmora::update
