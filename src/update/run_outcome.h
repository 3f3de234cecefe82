// How a run ended, and the exit code each ending gives a quiet or --check run (docs/managed.md
// keeps the table; the numbers are stable, since administrators' scripts test them). A run with the
// window always ends with 0.
#pragma once

#include <cstdint>

namespace velmora::update {

enum class RunOutcome {
  UpToDate,              // nothing left to do
  Updated,               // the release was installed (exits with 0 too: nothing is left to do)
  UsageError,            // options that do not combine
  Deferred,              // a file of the release is held by the running product; nothing installed
  FilesFailed,           // a file could not be downloaded or checked, or the downloads stalled
  AlreadyRunning,        // another copy of the updater runs
  DisabledByPolicy,      // the administrator's DisableUpdates
  UpdateAvailable,       // --check: an update is waiting
  ManifestUnreachable,   // no answer, an HTTP error, nothing in it, no hand-off file
  ManifestMalformed,     // not JSON, a member out of form, a path that leaves the run directory
  ManifestBadSignature,  // a signature required and missing or not valid
  ManifestTooOld,        // a lower serial than the highest accepted
  ManifestExpired,       // past its expiry
  KeysRefused,           // a published root record not taken, or the newest root expired
  NeedsElevation,        // the product's folder cannot be written and no update service serves it
  MachineCommandFailed,  // the update service or the background task could not be set up or removed
  RolledBack,            // --run: the product crashed within healthSeconds; the previous release is back
  HealthCheckFailed,     // --run: the product crashed within healthSeconds; the previous release could not
                         // be put back (none kept, damaged, held), the new one stays
};

// The exit code of a quiet or --check run that ended so.
std::int32_t ExitCodeOf(RunOutcome outcome);

// A few words for the log ("up to date", "manifest expired", ...).
const char* DescriptionOf(RunOutcome outcome);

}  // namespace velmora::update
