// The walk from the newest root a copy holds to the newest one published (docs/signing.md): each
// next record is taken only when its version is exactly one more and the previous root's `root`
// threshold and its own both signed it. Portable: fetching and storing are the caller's.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "update/root_record.h"

namespace velmora::update {

// At most this many roots are taken in one walk; a server with more is refused.
inline constexpr std::int64_t kRootChainStepLimit = 1024;

// The record of `version` and its signature file, as published. `found` false: the server has no
// such version (the walk ends there). `failed`: it could not be asked (the walk is refused).
struct FetchedRoot {
  bool found = false;
  bool failed = false;
  std::string record;
  std::string signatures;
  std::string why;  // for the log, when `failed`
};

// The record in `recordBytes` when it may follow `previous`: of form, version previous + 1, and
// signed (`signatureText`) by the thresholds of previous's `root` role and of its own. `why` says
// what is wrong otherwise.
std::optional<RootRecord> NextRoot(const RootRecord& previous, std::string_view recordBytes,
                                   std::string_view signatureText, std::string& why);

// Whether two roots trust different manifest signers: other key ids, other keys under them, or
// another threshold.
bool ReleaseKeysDiffer(const RootRecord& before, const RootRecord& after);

struct RootWalk {
  std::optional<RootRecord> newest;  // nothing: refused
  std::int64_t taken = 0;            // roots taken (and stored) in this walk
  std::string why;                   // the refusal, for the log
};

// From `start`, asks `fetch` for each next version until it has none, hands every root taken to
// `take` (its record bytes; false refuses the walk) before asking for the next, then refuses a
// newest root that expired at `now`. A root that never rotates is taken as it is. More than
// `stepLimit` roots to take refuse the walk.
RootWalk WalkRootChain(const RootRecord& start, const std::function<FetchedRoot(std::int64_t version)>& fetch,
                       const std::function<bool(const RootRecord& previous, const RootRecord& next,
                                                const std::string& record)>& take,
                       std::int64_t now, std::int64_t stepLimit = kRootChainStepLimit);

}  // namespace velmora::update
