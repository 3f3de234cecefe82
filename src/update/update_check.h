// The update check: the background job that the update window starts as soon as it exists. It loads
// the manifest, ends the program when nothing needs updating, and otherwise gives every listed file a
// grid row and a TaskRecord, then enables the start button.
#pragma once

namespace velmora::update {

// Runs once per program run, on the update-check thread (the window-created event starts it). The
// start button is disabled for the whole check, which keeps the downloads away until every row and
// record exists; it writes UpdateList, TaskList and EntryCount without locking.
//
// Row r (from 1) of the grid shows: column 0 "r", column 1 the entry's `path`, column 2 a progress
// cell at 0, column 3 "0 KB/s", column 7 "准备下载". With nothing to update it shows the notice
// "更新失败" / "没有需要更新的文件" (none in a quiet run) and ends the run as up to date; the manifest's own failures
// end it inside LoadManifest.
void UpdateCheck();

}  // namespace velmora::update
