#include "update/run_directory.h"

#include "platform/processes.h"

namespace velmora::update {
namespace {

std::string& Replacement() {
  static std::string directory;
  return directory;
}

bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

}  // namespace

std::string DirectoryOf(const std::string& executablePath) {
  std::size_t lastSeparator = std::string::npos;
  for (std::size_t i = 0; i < executablePath.size(); ++i) {
    const auto byte = static_cast<unsigned char>(executablePath[i]);
    if (IsGbkLeadByte(byte) && i + 1 < executablePath.size()) {
      ++i;  // the trail byte of a two-byte character
    } else if (byte == '\\' || byte == '/') {
      lastSeparator = i;
    }
  }
  return lastSeparator == std::string::npos ? std::string() : executablePath.substr(0, lastSeparator);
}

std::string RunDirectory() {
  if (!Replacement().empty()) return Replacement();
  return DirectoryOf(platform::ExecutablePath());
}

void ReplaceRunDirectory(const std::string& directory) { Replacement() = directory; }

}  // namespace velmora::update
