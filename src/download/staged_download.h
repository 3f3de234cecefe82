// One row's file, from the server into its staging file beside the target, checked by MD5 (and
// size and SHA-256 when listed). It stays there until the whole release is committed
// (install/commit.h). What arrived is never thrown away while it can still be used:
//   - a staging file that already is the entry's whole file costs no request at all;
//   - a staging file of the same entry that an earlier run left is resumed from its length (its
//     bytes are hashed first, so the finished file is checked whole);
//   - a server that does not resume as asked (200, a range that starts elsewhere, 416) restarts
//     the file from zero, unless the staging file already is the whole file;
//   - a dropped transfer is resumed once within the run, from what arrived;
//   - a resumed file whose digest does not match is fetched whole once more;
//   - a request that does not open at all is fetched once more through the plain HTTP client.
// A failed row leaves its staging file only when a later run can resume it (a drop, a stop, a
// time-out) or when it is the whole, checked file; a wrong file and a failed write leave none.
#pragma once

#include <cstdint>
#include <string>

#include "download/download_task.h"
#include "state/program_state.h"

namespace velmora::download {

// Downloads `entry` for row `row` with the row's `task` into the staging file of `target` (GBK
// path, update::StagingPathOf). Returns nullptr when the staged file is the entry's whole file,
// otherwise the row's failure status (UTF-8). Runs on the row's worker thread.
const char* DownloadAndStage(std::int32_t row, const state::UpdateEntry& entry, DownloadTask& task,
                             const std::string& target);

// Forgets which staging folders this run has made: the next run makes them again where they are
// missing. Called when a run starts.
void ForgetMadeStagingFolders();

}  // namespace velmora::download
