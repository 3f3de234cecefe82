#include "update/rollout.h"

#include <cstdio>

#include "platform/file.h"
#include "platform/hash.h"
#include "platform/random_bytes.h"
#include "update/durable_file.h"
#include "update/fingerprint.h"
#include "update/state_paths.h"

namespace velmora::update {

std::uint32_t RolloutPlace(const std::string& installationId, const std::string& seed) {
  platform::HashComputation sha256(platform::kCalgSha256);
  sha256.Add(installationId + "/" + seed);
  const std::string digest = sha256.Finish(kSha256DigestLength);
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 8 && i < digest.size(); ++i) {
    value = (value << 8) | static_cast<unsigned char>(digest[i]);
  }
  return static_cast<std::uint32_t>(value % kRolloutPlaces);
}

bool IsInsideRollout(std::uint32_t place, std::int64_t percent) {
  return static_cast<std::int64_t>(place) < percent * (kRolloutPlaces / 100);
}

bool IsInstallationId(const std::string& text) {
  if (text.size() != 32) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string InstallationId(const std::string& runDirectory) {
  const std::string path = runDirectory + kInstallationIdPath;
  if (const std::optional<std::string> kept = ReadSmallFile(path, 1024)) {
    std::string text = *kept;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    if (IsInstallationId(text)) return text;
  }
  unsigned char bytes[16] = {};
  if (!platform::FillRandomBytes(bytes, sizeof bytes)) return {};
  std::string id;
  for (const unsigned char byte : bytes) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", byte);
    id += hex;
  }
  platform::CreateDirectoryAt(runDirectory + "\\Bin");
  platform::CreateDirectoryAt(runDirectory + "\\Bin\\Config");
  // Kept so that the answer stays the same run after run; should it not be kept, this run still
  // has an identifier, and the next one draws again.
  WriteFileDurably(path, id + "\n");
  return id;
}

}  // namespace velmora::update
