// The runs without a person at the screen (docs/managed.md): --quiet updates with no window and
// no dialog; --check only looks. Both report through the exit code and the log.
#pragma once

namespace velmora::app {

// The update check, the downloads two at a time, the checks and the whole-release commit, as with
// the window; then, with --run and a release installed, the product is started. Returns the exit
// code (or ends the process with it, when the check finds nothing to do or refuses the manifest).
int RunQuiet();

// The update check alone: prints the check report line (app/check_report.h) and returns the exit
// code of "up to date" or "update waiting". Nothing is downloaded, and the hand-off file stays.
int RunCheckOnly();

}  // namespace velmora::app
