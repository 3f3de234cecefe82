// Starting the product after the release went in, with the health check of update/health_check.h:
// when the manifest gives `healthSeconds`, the started process is watched that long (the updater
// stays alive meanwhile; with the window its notice has already been answered), and a product
// that cannot be started or crashes within it has the release rolled back: the kept previous
// release goes back in (whole or nothing, journaled: install/rollback.h), it is remembered as
// rolled back so that it is not offered again (update/rolled_back_release.h), and the previous
// product is started, unwatched.
#pragma once

#include <functional>

namespace velmora::download {

// Puts the kept previous release back; true when it is back. The direct route restores it in this
// process (RollBackInPlace); a window run through the update service asks the service to.
using RollbackRoute = std::function<bool()>;

// Restores the run directory's kept release in this process, after ending running copies of the
// product (in a quiet run only with --close-product); the log says why when it could not.
bool RollBackInPlace();

// Starts run directory + "\" + the manifest's `run` elevated (RunElevated), watches it for the
// manifest's `healthSeconds` (0: not at all), and ends the updater: as updated when the release
// passed (or was not watched); after a failed check as RolledBack with the notice "更新已撤销" /
// "新版本无法正常启动，已恢复到上一版本", or, when nothing was kept or it could not be put back
// (`rollBack` false), as HealthCheckFailed with a notice that says so; the new release stays then.
// The log names the product's exit status in hex. On the window's thread, which goes on
// processing its messages while it waits; timer ticks must not come back in (the caller stops
// its timer or guards it).
[[noreturn]] void LaunchProduct(const RollbackRoute& rollBack = RollBackInPlace);

}  // namespace velmora::download
