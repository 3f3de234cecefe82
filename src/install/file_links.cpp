#include "install/file_links.h"

#include <array>

#include "platform/directory_walk.h"
#include "platform/file.h"
#include "update/run_directory.h"

namespace velmora::install {
namespace {

// A copy of `from` at `to` that has reached the disk.
bool CopyFlushed(const std::string& from, const std::string& to) {
  platform::InputFile input;
  platform::OutputFile output;
  if (!input.Open(from) || !output.Open(to, platform::OutputFile::Mode::CreateOrTruncate, true)) return false;
  std::array<char, 256 * 1024> piece{};
  for (;;) {
    const std::int64_t got = input.Read(piece.data(), piece.size());
    if (got < 0) break;
    if (got == 0) {
      if (output.Flush()) return true;
      break;
    }
    if (!output.Write(piece.data(), static_cast<std::size_t>(got))) break;
  }
  output.Close();
  platform::RemoveFile(to);
  return false;
}

}  // namespace

void CreateFoldersFor(const std::string& path) {
  const std::string folder = update::DirectoryOf(path);
  if (folder.empty() || platform::FolderExists(folder)) return;
  CreateFoldersFor(folder);
  platform::CreateDirectoryAt(folder);
}

bool LinkOrCopy(const std::string& existing, const std::string& name) {
  // The common case first: a new name in a folder that exists. (Under Wine, looking for a name
  // that is not there reads the whole folder, so nothing is looked for before it is needed.)
  if (platform::MakeHardLink(existing, name)) return true;
  CreateFoldersFor(name);
  platform::RemoveFile(name);
  return platform::MakeHardLink(existing, name) || CopyFlushed(existing, name);
}

}  // namespace velmora::install
