// One resource's way through the manifest's mirrors (update/mirrors.h) within a row: the request
// goes to the installation's preferred mirror first; on a refused connection, a time-out, a 5xx,
// a 404 or 410, a body that breaks off, or a body of the wrong length or digest, the row goes on
// with the next mirror (the caller resumes the bytes already staged where they can be kept). A
// mirror that failed kStrikesPerRun times in this run, in any row, is skipped by every route
// afterwards. Every mirror is tried at most once per route; the row fails only when every one
// failed. Each request's mirror and each leaving, with its reason, go to the run log.
//
// A resource below no listed mirror, or a run without mirrors, has one address and nothing is
// logged: the callers' own rules alone apply then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "state/mirror_failures.h"
#include "update/mirrors.h"

namespace velmora::download {

// Failures after which a mirror is skipped for the rest of the run.
inline constexpr std::int32_t kStrikesPerRun = 2;

// Whether an answer's HTTP status (0: no answer at all, as for a refused connection or a
// time-out) is one that sends the request to another mirror: 0, 5xx, 404, 410.
bool IsMirrorFault(std::int32_t httpStatus);

// Why a request that ended with `httpStatus` and the system's `errorCode` left its mirror, for the
// log: "HTTP 503", "no answer (error 12029)".
std::string FaultText(std::int32_t httpStatus, std::uint32_t errorCode);

class MirrorRoute {
 public:
  // The route of `url` over `bases` (the run's mirrors) from `preferred`; `failures` (may be null:
  // no sharing between routes) is the run's count per mirror. `logPrefix` begins the log lines
  // ("row 3 \Bin\x.dll").
  MirrorRoute(const std::string& url, const std::vector<std::string>& bases, std::size_t preferred,
              state::MirrorFailures* failures, std::string logPrefix);

  // The route of `url` over the run's mirrors (state::State()).
  static MirrorRoute OfRun(const std::string& url, std::string logPrefix);

  // The address on the current mirror.
  const std::string& Url() const { return addresses_[current_].url; }
  // More than one mirror serves the resource.
  bool Mirrored() const { return addresses_.size() > 1; }

  // Logs that a request for `what` ("from byte 0", "3 ranges of the pack") goes to the current
  // mirror (only when mirrored).
  void NoteRequest(const std::string& what) const;

  // Counts a failure against the current mirror, logs it with `why` and moves to the next mirror
  // in the route that this route has not tried and that has not failed kStrikesPerRun times; true
  // then. False (and the current mirror stays) when there is none: the resource has failed on
  // every mirror.
  bool Leave(const std::string& why);

 private:
  bool Usable(std::size_t at) const;

  std::vector<update::MirrorAddress> addresses_;
  std::vector<bool> tried_;
  std::size_t current_ = 0;
  state::MirrorFailures* failures_;
  std::string logPrefix_;
};

}  // namespace velmora::download
