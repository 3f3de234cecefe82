// velmora-update.exe --rollback: the user's own way back to the release before the last update.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::app {

// How restoring the kept release ended (also what the update service reports to the window).
enum class RollbackResult : std::int32_t { Restored = 0, NothingKept = 1, KeptReleaseDamaged = 2, FilesHeld = 3 };

// Asks first ("恢复上一版本"), ends running copies of the product, restores the kept release
// (install/rollback.h) and offers to start the product. With nothing kept it says so
// ("没有可恢复的版本"). Returns the exit code: 0.
int RunRollback();

// The rollback itself, without a question or a notice: ends running copies of the product and
// restores the kept release. `heldFiles` gets the number of files that stayed held.
RollbackResult RestoreKeptRelease(std::int32_t& heldFiles);

// The notice for how the rollback ended, and on success the offer to start `product` (the full
// path, empty: none).
void ShowRollbackResult(RollbackResult result, std::int32_t heldFiles, const std::string& product);

// Before a rollback: with no release kept, the notice that says so; otherwise the question
// ("[确定]恢复到上一版本 [取消]退出"). True when the user said yes; `product` gets the kept release's
// product as a full path (empty when it names none).
bool ConfirmRollback(std::string& product);

}  // namespace velmora::app
