// The downloads of a run without a window (--quiet): the same workers, two at a time, the same
// checks and the same whole-release commit as with the window, with the run's end decided on the
// calling thread instead of the window's timer.
#pragma once

#include "download/completion.h"
#include "download/scheduler.h"

namespace velmora::download {

// Downloads every listed row and commits the release when they all succeeded; returns how the run
// ended. The rows are started on a thread of their own while the calling thread ticks the
// completion check (kCompletionTickMs) and looks every few milliseconds whether the last row has
// ended. A run whose downloads stall past the limit is stopped (its staging files stay).
RunEnd RunUnattendedDownloads(WorkerRoutine worker = RunWorker);

}  // namespace velmora::download
