// ui-probe watch-windows: sees every update window and task dialog that appears while a program of
// the tests runs, however briefly (the quiet runs must show none).
#pragma once

#include <cstdint>
#include <string>

namespace velmora::probe {

// Looks for visible top-level windows titled `titles` (of `processId` unless 0) every 20 ms until
// the file `stopFile` (a UTF-8 path) exists or `limitMs` have passed. Prints {"watching":true} once
// the first look is done, {"seen":{...}} for each window as it is first seen, then
// {"ok":true,"looks":N,"windows":[...]} with every window seen (each once). Returns the exit code.
int WatchWindows(const std::string& stopFile, const std::string titles[], int titleCount, std::uint32_t processId,
                 std::uint32_t limitMs);

}  // namespace velmora::probe
