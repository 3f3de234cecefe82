// The update check: loads the manifest and fills the grid and the TaskList.
#pragma once

namespace velmora::update {

// Runs on the update-check thread that the window-created event starts.
void UpdateCheck();

}  // namespace velmora::update
