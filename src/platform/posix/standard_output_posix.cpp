#include <unistd.h>

#include "platform/standard_output.h"

namespace velmora::platform {

bool WriteStandardOutput(const std::string& utf8) {
  std::size_t written = 0;
  while (written < utf8.size()) {
    const ssize_t wrote = write(STDOUT_FILENO, utf8.data() + written, utf8.size() - written);
    if (wrote <= 0) return false;
    written += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace velmora::platform
