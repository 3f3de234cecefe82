// Fills a row's staging file from chunks instead of downloading the file whole: the chunks the
// computer already holds (in any file the update check cut) are copied, and only the missing ones
// are fetched from the release's pack, in few requests of many ranges each, and inflated. Each
// fetched chunk is checked against its identity as it arrives; the caller then checks the whole
// file by its digests as for any download.
//
// The steps: the index's head (checked by its SHA-256 from the signed manifest), the records of
// the groups not held (checked by the groups' identities), the local chunks, the pack's missing
// chunks. A staging file that an earlier run left at the file's length keeps every chunk that is
// already in place (resuming at chunk granularity). Servers differ in what they do with ranges:
// an answer that is not what was asked is asked again with fewer ranges per request, then with
// one range per request; when that fails too, or anything else goes wrong, the caller downloads
// the file whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "delta/local_catalogue.h"
#include "download/download_task.h"
#include "state/program_state.h"

namespace velmora::download {

enum class DeltaFillResult {
  Filled,    // the staging file holds every chunk of the file, flushed
  Fallback,  // the file is to be downloaded whole (the staging file may hold anything)
  Stopped,   // the task was asked to stop; the staging file stays for the next run
};

// Fills `staging` (GBK) with the file of `entry`, which has a delta member, for row `row`.
// `local` (paths GBK) may be null: no chunks held. Runs on the row's worker thread.
DeltaFillResult FillFromChunks(std::int32_t row, const state::UpdateEntry& entry, DownloadTask& task,
                               const std::string& staging, const delta::LocalChunkSources* local);

}  // namespace velmora::download
