// Whether the program at a path may run as SYSTEM: the update service's executable and the
// background task's must be changeable by no one but SYSTEM, Administrators and TrustedInstaller
// (app/outside_writers.h). Reads each descriptor on the way through platform/file_security.h.
#pragma once

#include <string>

namespace velmora::app {

// Why the program at `executablePath` (GBK, a full path) must not run as SYSTEM, as one line for
// the output and the log; empty when only the trusted accounts can change it and every folder
// above it. A descriptor that cannot be read is a reason too. Costs one descriptor read per folder.
std::string WhyNotSystemWorthy(const std::string& executablePath);

}  // namespace velmora::app
