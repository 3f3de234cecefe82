// velmora-release publish RELEASE_DIR OUT_DIR --base-url URL --run FILE
//
// OUT_DIR/download/2099/pro/up.txt and OUT_DIR/files/<md5>/<name>: the files first, each copied
// through a temporary name and checked against its digest on the way, then the manifest, replaced
// in one step. Whoever serves OUT_DIR meanwhile sees the old manifest with the old files (kept) or
// the new manifest with every new file in place.
#include <set>
#include <utility>

#include "command_support.h"
#include "progress_line.h"
#include "release_commands.h"
#include "release_files.h"
#include "release_text.h"
#include "release_urls.h"
#include "text/encoding.h"
#include "update/manifest.h"

namespace velmora::release {
namespace {

// True when the folder `inner` is `outer` or lies below it (compared as Windows compares paths;
// the command line's texts, so "a/../b" is not seen through).
bool IsSameOrBelow(const std::string& inner, const std::string& outer) {
  const std::u16string innerKey = SamePathKey(WideOfUtf8(inner)) + u'\\';
  const std::u16string outerKey = SamePathKey(WideOfUtf8(outer)) + u'\\';
  return innerKey.compare(0, outerKey.size(), outerKey) == 0;
}

std::u16string WithBackslashes(const std::string& slashed) {
  std::u16string wide = WideOfUtf8(slashed);
  for (char16_t& c : wide) {
    if (c == u'/') c = u'\\';
  }
  return wide;
}

}  // namespace

int RunPublishCommand(const CommandLine& line, ReleaseConsole& console) {
  int status = kExitSuccess;
  std::string baseUrl;
  if (!BaseUrlArgument(line, console, baseUrl, status)) return status;
  const std::string& releaseOperand = line.operands[0];
  const std::string& outOperand = line.operands[1];
  std::string outDir;
  std::string error;
  if (!PathArgument(outOperand, outDir, error)) return UsageError(console, line.command, error);
  if (IsSameOrBelow(outOperand, releaseOperand)) {
    return UsageError(console, line.command, "OUT_DIR must not lie inside RELEASE_DIR (it would be published too)");
  }
  ReleaseFolder folder;
  if (!ListReleaseArgument(line.command, releaseOperand, console, folder, status)) return status;
  const std::string& run = line.values.at("run");
  if (FindRunFile(folder, run) == nullptr) {
    return UsageError(console, line.command, "--run \"" + run + "\" names no file of " + releaseOperand);
  }
  HashedRelease release;
  if (!HashReleaseFolder(std::move(folder), line, console, release, status)) return status;
  const ManifestContent manifest =
      ManifestOf(release, *FindRunFile(release.folder, run), baseUrl, UrlLayout::ContentAddressed);

  // The files, each once: two files of one content and one name share their published file.
  std::uint64_t total = 0;
  for (const ReleaseFile& file : release.folder.files) total += file.size;
  std::set<std::string> copied;
  {
    ProgressLine progress(console, "copying", release.folder.files.size(), total, line.flags.count("quiet") == 0);
    std::uint64_t bytesDone = 0;
    for (std::size_t i = 0; i < release.folder.files.size(); ++i) {
      const ReleaseFile& file = release.folder.files[i];
      const std::string published = ContentAddressedName(file.relativePath, release.md5[i]);
      if (copied.insert(published).second) {
        std::string target;
        std::string folderPath;
        GbkOf(WithBackslashes(published), target);  // the name is ASCII: percent-encoded
        GbkOf(WithBackslashes(std::string(kContentFolder) + "/" + release.md5[i]), folderPath);
        if (!CreateFolders(outDir + "\\" + folderPath)) {
          return Failure(console, "cannot create the folder " + outOperand + "/" + kContentFolder + "/" + release.md5[i]);
        }
        if (!CopyFileChecked(file.localPath, outDir + "\\" + target, release.md5[i], error)) {
          return Failure(console, error);
        }
      }
      bytesDone += file.size;
      progress.Show(i + 1, bytesDone);
    }
  }

  // The manifest last, where the updater asks for it: the tree is complete before it names it.
  std::u16string manifestFolder = WithBackslashes(update::kManifestPath);
  const std::size_t lastSeparator = manifestFolder.rfind(u'\\');
  const std::u16string manifestName = manifestFolder.substr(lastSeparator);
  manifestFolder.resize(lastSeparator);
  std::string manifestFolderPath;
  std::string manifestPath;
  GbkOf(manifestFolder, manifestFolderPath);
  GbkOf(manifestFolder + manifestName, manifestPath);
  if (!CreateFolders(outDir + manifestFolderPath)) {
    return Failure(console, "cannot create the folder " + outOperand + Utf8Of(manifestFolder));
  }
  if (!WriteFileReplacing(outDir + manifestPath, WriteManifest(manifest, ManifestEncoding::Utf8), error)) {
    return Failure(console, error);
  }
  console.Out("published " + CountOf(release.folder.files.size(), "file", "files") + ", " + DescribeBytes(total) +
              ", to " + outOperand + ":\n  " + update::kManifestPath + " (the manifest; serve it uncached)\n  /" +
              kContentFolder + "/<md5>/<name> (" + CountOf(copied.size(), "file", "files") +
              ", never changing: cache them for good)\nevery url begins with " + JoinUrl(baseUrl, kContentFolder) +
              "/\n");
  return kExitSuccess;
}

}  // namespace velmora::release
