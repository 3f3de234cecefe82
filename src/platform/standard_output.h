// The process's standard output, for lines that scripts read (velmora-update.exe --check). The
// program is a GUI program: it writes to whatever handle it was given (a file or pipe that the
// caller redirected), else to the console of the process that started it, else nowhere.
#pragma once

#include <string>

namespace velmora::platform {

// Writes `utf8` as it is; false when there is no standard output or the write failed.
// Not for concurrent use.
bool WriteStandardOutput(const std::string& utf8);

}  // namespace velmora::platform
