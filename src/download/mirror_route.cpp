#include "download/mirror_route.h"

#include <utility>

#include "state/program_state.h"
#include "text/encoding.h"
#include "update/run_directory.h"
#include "update/run_log.h"

namespace velmora::download {

bool IsMirrorFault(std::int32_t httpStatus) {
  return httpStatus == 0 || httpStatus == 404 || httpStatus == 410 || (httpStatus >= 500 && httpStatus <= 599);
}

std::string FaultText(std::int32_t httpStatus, std::uint32_t errorCode) {
  if (httpStatus != 0) return "HTTP " + std::to_string(httpStatus);
  return errorCode != 0 ? "no answer (error " + std::to_string(errorCode) + ")" : std::string("no answer");
}

MirrorRoute::MirrorRoute(const std::string& url, const std::vector<std::string>& bases, std::size_t preferred,
                         state::MirrorFailures* failures, std::string logPrefix)
    : addresses_(update::MirrorAddressesOf(url, bases, preferred)),
      tried_(addresses_.size(), false),
      failures_(failures),
      logPrefix_(std::move(logPrefix)) {
  // The first mirror not yet struck out; when every one is, the preferred one still gets its try.
  for (std::size_t at = 0; at < addresses_.size(); ++at) {
    if (Usable(at)) {
      current_ = at;
      break;
    }
  }
  tried_[current_] = true;
}

MirrorRoute MirrorRoute::OfRun(const std::string& url, std::string logPrefix) {
  const state::ProgramState& state = state::State();
  return MirrorRoute(url, state.mirrors, state.preferredMirror, state.mirrorFailures.get(), std::move(logPrefix));
}

bool MirrorRoute::Usable(std::size_t at) const {
  return !tried_[at] && (failures_ == nullptr || failures_->Of(addresses_[at].mirror) < kStrikesPerRun);
}

void MirrorRoute::NoteRequest(const std::string& what) const {
  if (!Mirrored()) return;
  update::AppendToRunLog(update::RunDirectory(), logPrefix_ + ": " + what + " from mirror " +
                                                     text::NarrowToUtf8(addresses_[current_].base));
}

bool MirrorRoute::Leave(const std::string& why) {
  if (!Mirrored()) return false;
  if (failures_ != nullptr) failures_->Add(addresses_[current_].mirror);
  std::size_t next = current_;
  for (std::size_t step = 1; step < addresses_.size(); ++step) {
    const std::size_t at = (current_ + step) % addresses_.size();
    if (Usable(at)) {
      next = at;
      break;
    }
  }
  const std::string left = text::NarrowToUtf8(addresses_[current_].base);
  update::AppendToRunLog(update::RunDirectory(), logPrefix_ + ": left mirror " + left + " (" + why + ")" +
                                                     (next == current_ ? "; no mirror left" : ""));
  if (next == current_) return false;
  current_ = next;
  tried_[current_] = true;
  return true;
}

}  // namespace velmora::download
