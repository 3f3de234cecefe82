// The line that velmora-update.exe --check prints for scripts (docs/managed.md):
//   up to date
//   update: 2 files, 1048576 bytes: "\\Velmora.exe" "\\Bin\\中文 名.dll"
// UTF-8, ending in a line feed; each name is a JSON string, so any name can be read back.
#pragma once

#include <string>

#include "state/program_state.h"

namespace velmora::app {

// The line for the stale entries `listed` (empty: up to date). Bytes are the entries' `size`;
// when an entry gives none, the count says "at least".
std::string CheckReportLine(const state::UpdateList& listed);

// `utf8` as a JSON string: in double quotes, with quotes, backslashes and control characters
// escaped; other characters as they are.
std::string JsonQuoted(const std::string& utf8);

}  // namespace velmora::app
