#include "update/run_outcome.h"

namespace velmora::update {

std::int32_t ExitCodeOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::UpToDate: return 0;
    case RunOutcome::Updated: return 0;  // nothing is left to do, as deployment tools read it
    case RunOutcome::UsageError: return 2;
    case RunOutcome::Deferred: return 3;
    case RunOutcome::FilesFailed: return 4;
    case RunOutcome::AlreadyRunning: return 5;
    case RunOutcome::DisabledByPolicy: return 6;
    case RunOutcome::UpdateAvailable: return 10;
    case RunOutcome::ManifestUnreachable: return 20;
    case RunOutcome::ManifestMalformed: return 21;
    case RunOutcome::ManifestBadSignature: return 22;
    case RunOutcome::ManifestTooOld: return 23;
    case RunOutcome::ManifestExpired: return 24;
    case RunOutcome::KeysRefused: return 25;
    case RunOutcome::NeedsElevation: return 26;
    case RunOutcome::MachineCommandFailed: return 27;
    case RunOutcome::RolledBack: return 28;
    case RunOutcome::HealthCheckFailed: return 29;
  }
  return 4;
}

const char* DescriptionOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::UpToDate: return "up to date";
    case RunOutcome::Updated: return "updated";
    case RunOutcome::UsageError: return "usage error";
    case RunOutcome::Deferred: return "deferred, the product holds files of the release";
    case RunOutcome::FilesFailed: return "files failed, nothing installed";
    case RunOutcome::AlreadyRunning: return "another copy of the updater is running";
    case RunOutcome::DisabledByPolicy: return "disabled by policy";
    case RunOutcome::UpdateAvailable: return "an update is waiting";
    case RunOutcome::ManifestUnreachable: return "manifest unreachable";
    case RunOutcome::ManifestMalformed: return "manifest malformed";
    case RunOutcome::ManifestBadSignature: return "manifest signature not valid";
    case RunOutcome::ManifestTooOld: return "manifest older than the one accepted";
    case RunOutcome::ManifestExpired: return "manifest expired";
    case RunOutcome::KeysRefused: return "root of trust refused";
    case RunOutcome::NeedsElevation: return "needs elevation, the product's folder cannot be written";
    case RunOutcome::MachineCommandFailed: return "the update service or the task could not be set up";
    case RunOutcome::RolledBack: return "rolled back, the new release failed its health check";
    case RunOutcome::HealthCheckFailed: return "the new release failed its health check and could not be rolled back";
  }
  return "unknown";
}

}  // namespace velmora::update
