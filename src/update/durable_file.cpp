#include "update/durable_file.h"

#include <array>

#include "platform/file.h"

namespace velmora::update {

bool WriteFileDurably(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".tmp";
  platform::OutputFile file;
  if (!file.Open(temporary, platform::OutputFile::Mode::CreateOrTruncate, true)) return false;
  const bool written = file.Write(bytes.data(), bytes.size()) && file.Flush();
  file.Close();
  if (written && platform::MoveFileReplacing(temporary, path)) return true;
  platform::RemoveFile(temporary);
  return false;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
  platform::InputFile file;
  if (!file.Open(path)) return std::nullopt;
  std::string bytes;
  std::array<char, 64 * 1024> piece{};
  for (;;) {
    const std::int64_t got = file.Read(piece.data(), piece.size());
    if (got < 0) return std::nullopt;
    if (got == 0) return bytes;
    bytes.append(piece.data(), static_cast<std::size_t>(got));
    if (bytes.size() > limit) return std::nullopt;
  }
}

}  // namespace velmora::update
