// velmora-update.exe --rollback: the user's own way back to the release before the last update.
#pragma once

namespace velmora::app {

// Asks first ("恢复上一版本"), ends running copies of the product, restores the kept release
// (install/rollback.h) and offers to start the product. With nothing kept it says so
// ("没有可恢复的版本"). Returns the exit code: 0.
int RunRollback();

}  // namespace velmora::app
