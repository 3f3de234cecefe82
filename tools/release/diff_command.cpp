// velmora-release diff OLD NEW [--handoff]
//
// What the updater downloads when it finds OLD installed and NEW published: every file of NEW
// whose path OLD lacks or whose digest differs, matched by path as Windows matches them.
#include <map>
#include <optional>

#include "command_support.h"
#include "manifest_reader.h"
#include "platform/directory_walk.h"
#include "release_commands.h"
#include "release_files.h"
#include "release_text.h"

namespace velmora::release {
namespace {

struct SideFile {
  std::string shownPath;  // "\Bin\x.dll", UTF-8
  std::string md5;
  std::optional<std::uint64_t> size;
};

// One side of the comparison, from a folder (listed and hashed) or a manifest.
bool ReadSide(const CommandLine& line, const std::string& operand, ReleaseConsole& console,
              std::vector<SideFile>& files, int& status) {
  std::string path;
  std::string error;
  if (!PathArgument(operand, path, error)) {
    status = UsageError(console, line.command, error);
    return false;
  }
  if (platform::FolderExists(path)) {
    ReleaseFolder folder = ListReleaseFolder(path);
    // A folder that could not be published may still be compared: its problems are noted.
    for (const std::string& problem : folder.problems) console.Err("velmora-release: note: " + problem + "\n");
    HashedRelease release;
    if (!HashReleaseFolder(std::move(folder), line, console, false, release, status)) return false;
    for (std::size_t i = 0; i < release.folder.files.size(); ++i) {
      const ReleaseFile& file = release.folder.files[i];
      files.push_back({"\\" + Utf8Of(file.relativePath), release.md5[i], file.size});
    }
    return true;
  }
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) {
    status = UsageError(console, line.command, "no such folder or manifest: " + operand);
    return false;
  }
  const ManifestRecords records =
      ReadManifestText(bytes, line.flags.count("handoff") != 0 ? ManifestEncoding::Gbk : ManifestEncoding::Utf8);
  if (!records.parsed) {
    status = Failure(console, operand + ": " + records.error);
    return false;
  }
  for (const ManifestRecord& record : records.entries) {
    files.push_back({Utf8Of(record.path), Utf8Of(record.md5), record.size});
  }
  return true;
}

}  // namespace

int RunDiffCommand(const CommandLine& line, ReleaseConsole& console) {
  int status = kExitSuccess;
  std::vector<SideFile> oldFiles;
  std::vector<SideFile> newFiles;
  if (!ReadSide(line, line.operands[0], console, oldFiles, status)) return status;
  if (!ReadSide(line, line.operands[1], console, newFiles, status)) return status;

  std::map<std::u16string, const SideFile*> oldByPath;
  for (const SideFile& file : oldFiles) oldByPath.emplace(SamePathKey(WideOfUtf8(file.shownPath)), &file);

  std::string report;
  std::size_t downloads = 0;
  std::size_t unchanged = 0;
  std::size_t unknownSizes = 0;
  std::uint64_t total = 0;
  for (const SideFile& file : newFiles) {
    const auto old = oldByPath.find(SamePathKey(WideOfUtf8(file.shownPath)));
    const bool isNew = old == oldByPath.end();
    if (!isNew) {
      const bool same = old->second->md5 == file.md5;
      oldByPath.erase(old);  // what is left at the end is only in OLD
      if (same) {
        ++unchanged;
        continue;
      }
    }
    ++downloads;
    if (file.size) {
      total += *file.size;
    } else {
      ++unknownSizes;
    }
    report += (isNew ? "new      " : "changed  ") + file.shownPath + "  " +
              (file.size ? DescribeBytes(*file.size) : std::string("size unknown")) + "\n";
  }
  report += CountOf(downloads, "file", "files") + " to download, " + (unknownSizes > 0 ? "at least " : "") +
            DescribeBytes(total) +
            (unknownSizes > 0 ? " (" + std::to_string(unknownSizes) + " without a size in the manifest)" : "") + "; " +
            std::to_string(unchanged) + " unchanged; " + std::to_string(oldByPath.size()) +
            " only in OLD (the updater leaves them in place)\n";
  console.Out(report);
  return kExitSuccess;
}

}  // namespace velmora::release
