// The benchmark process's peak resident memory, for reporting beside the timings.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

namespace velmora::bench {

// VmHWM from /proc/self/status, in MiB (0 where the system does not report it). Child processes,
// such as a reference tool run through std::system, do not count.
inline double PeakResidentMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

}  // namespace velmora::bench
