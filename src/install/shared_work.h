// Many small file operations shared by two threads. Under Wine each operation on a name that does
// not exist yet reads the whole folder first, on the calling thread, so a second core halves the
// time a release of a thousand files takes to prepare and to put in place.
#pragma once

#include <cstddef>
#include <functional>

namespace velmora::install {

// From this many items on, the work is shared.
inline constexpr std::size_t kSharedWorkFrom = 64;

// Calls `work(i)` once for each i in [0, count), from the calling thread and, when `share` and the
// count allow and a second core exists, from one more thread; returns when every call has ended.
// Once a call returns false, no further item is started (the calls already running end).
void ForEachItem(std::size_t count, bool share, const std::function<bool(std::size_t)>& work);

}  // namespace velmora::install
