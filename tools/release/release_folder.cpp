#include "release_folder.h"

#include <algorithm>
#include <map>

#include "platform/directory_walk.h"
#include "release_text.h"
#include "update/path_safety.h"

namespace velmora::release {
namespace {

std::string Shown(const std::u16string& relativePath) { return "\\" + Utf8Of(relativePath); }

std::string WalkProblemText(const platform::WalkProblem& problem) {
  const std::string where = problem.relativePath.empty() ? "the release folder" : Shown(problem.relativePath);
  switch (problem.kind) {
    case platform::WalkProblemKind::FolderUnreadable:
      return where + ": the folder cannot be read";
    case platform::WalkProblemKind::FolderLink:
      return where + ": a link to a folder (links to folders are not followed; copy the folder instead)";
    case platform::WalkProblemKind::NameNotUnicode:
      return where + ": the name is not valid UTF-8";
    case platform::WalkProblemKind::NameWithBackslash:
      return where + ": the name holds a backslash, which Windows reads as a folder separator";
    case platform::WalkProblemKind::NotRegularFile:
      return where + ": not a regular file (a device, a pipe, or a link whose target is gone)";
  }
  return where + ": cannot be listed";
}

// Why the updater could not install the file at `relativePath` as it is, or empty text.
std::string InstallProblem(const std::u16string& relativePath, std::string& manifestPath) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = relativePath.find(u'\\', start);
    const std::u16string segment = relativePath.substr(start, end == std::u16string::npos ? end : end - start);
    const std::string problem = WindowsNameProblem(segment);
    if (!problem.empty()) return "the name \"" + Utf8Of(segment) + "\" has " + problem;
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  std::string gbk;
  if (!GbkOf(u"\\" + relativePath, gbk)) {
    return "the name holds characters without a GBK (code page 936) form; the updater, which keeps "
           "paths as GBK text, would read them as \"?\"";
  }
  if (!update::IsSafeInstallPath(gbk)) return "the path breaks the update check's path rules";
  if (update::IsUpdaterStatePath(gbk)) {
    return "the updater keeps its own state there (the kept release, the commit's journal, its log)";
  }
  manifestPath = std::move(gbk);
  return {};
}

}  // namespace

bool ComesBefore(const ReleaseFile& a, const ReleaseFile& b) { return a.relativePath < b.relativePath; }

ReleaseFolder ListReleaseFolder(const std::string& folder) {
  ReleaseFolder release;
  platform::DirectoryWalk walk = platform::WalkDirectoryTree(folder);
  if (!walk.rootIsFolder) return release;
  release.found = true;

  for (const platform::WalkProblem& problem : walk.problems) release.problems.push_back(WalkProblemText(problem));
  for (platform::WalkedFile& walked : walk.files) {
    ReleaseFile file;
    const std::string problem = InstallProblem(walked.relativePath, file.manifestPath);
    if (!problem.empty()) {
      release.problems.push_back(Shown(walked.relativePath) + ": " + problem);
      continue;
    }
    if (walked.relativePath.size() > kLongPathWarning) {
      release.warnings.push_back(Shown(walked.relativePath) + ": a path of " + std::to_string(walked.relativePath.size()) +
                                 " characters; below the product's folder it may pass the 260 that programs "
                                 "without long-path support can open");
    }
    file.relativePath = std::move(walked.relativePath);
    file.localPath = folder + file.manifestPath;
    file.size = walked.size;
    release.files.push_back(std::move(file));
  }
  std::sort(release.files.begin(), release.files.end(), ComesBefore);

  // Two paths that Windows reads as one file: the second download would replace the first.
  std::map<std::u16string, std::u16string> seen;
  std::vector<ReleaseFile> distinct;
  distinct.reserve(release.files.size());
  for (ReleaseFile& file : release.files) {
    const auto [earlier, added] = seen.emplace(SamePathKey(file.relativePath), file.relativePath);
    if (added) {
      distinct.push_back(std::move(file));
    } else {
      release.problems.push_back(Shown(file.relativePath) + ": the same file on Windows as " + Shown(earlier->second) +
                                 " (the names differ only in letter case)");
    }
  }
  release.files = std::move(distinct);
  std::sort(release.problems.begin(), release.problems.end());
  std::sort(release.warnings.begin(), release.warnings.end());
  return release;
}

}  // namespace velmora::release
