// Staged files reach the disk on a thread of their own. A worker whose staged file has been
// checked queues it and goes on with its next row while the flusher flushes it (FlushFileBuffers,
// fsync: 0.4-2.5 ms a file under Wine, up to a third of a 3 KB row's time on a busy machine). The
// commit waits for every file queued, so that no staged file is renamed into place before its bytes
// are on the disk, and refuses the rows whose files could not be flushed (completion.h).
//
// One flusher thread at most (a kept thread, platform/thread.h), started when a file is queued and
// none runs, and ending after a second without work. Its state lives for the whole process.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"

namespace velmora::download {

// Queues the staged file `staging` (GBK path) to be flushed and returns at once; when no thread
// can be started, flushes it here. `open` (may be null) is the file still open for writing: it is
// flushed and closed through that handle, without opening the file again. Any thread.
void FlushInBackground(const std::string& staging, std::unique_ptr<platform::OutputFile> open = nullptr);

// Waits until every file queued so far has been flushed; returns the paths of those that could not
// be (opened and) flushed, and forgets them. Any thread.
std::vector<std::string> WaitForFlushes();

}  // namespace velmora::download
