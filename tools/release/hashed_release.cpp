#include "hashed_release.h"

#include <map>

#include "progress_line.h"
#include "release_digests.h"
#include "release_text.h"
#include "release_urls.h"

namespace velmora::release {

HashedRelease HashRelease(ReleaseFolder folder, ReleaseConsole& console, bool quiet, bool withSha256) {
  HashedRelease release;
  std::vector<std::string> paths;
  std::uint64_t totalBytes = 0;
  paths.reserve(folder.files.size());
  for (const ReleaseFile& file : folder.files) {
    paths.push_back(file.localPath);
    totalBytes += file.size;
  }
  std::vector<FileDigests> prints;
  {
    ProgressLine line(console, "hashing", paths.size(), totalBytes, !quiet);
    update::FingerprintOptions options;
    options.progress = line.Reporter();
    prints = DigestFiles(paths, withSha256, options);
  }
  release.md5.reserve(prints.size());
  if (withSha256) release.sha256.reserve(prints.size());
  for (std::size_t i = 0; i < prints.size(); ++i) {
    ReleaseFile& file = folder.files[i];
    const std::string shown = "\\" + Utf8Of(file.relativePath);
    switch (prints[i].state) {
      case update::FileReadState::Missing:
        release.errors.push_back(shown + ": cannot be opened (removed meanwhile, or no permission to read it)");
        break;
      case update::FileReadState::ReadFailed:
        release.errors.push_back(shown + ": cannot be read to its end");
        break;
      case update::FileReadState::Read:
        if (prints[i].bytesRead != file.size) {
          release.errors.push_back(shown + ": changed while it was read (" + std::to_string(file.size) + " bytes when "
                                   "listed, " + std::to_string(prints[i].bytesRead) + " when hashed)");
        }
        break;
    }
    file.size = prints[i].bytesRead;
    release.md5.push_back(std::move(prints[i].md5));
    if (withSha256) release.sha256.push_back(std::move(prints[i].sha256));
  }
  release.folder = std::move(folder);
  return release;
}

std::vector<std::u16string> ContentAddressedPaths(const HashedRelease& release) {
  std::vector<std::u16string> paths;
  std::map<std::u16string, std::u16string> firstByKey;
  paths.reserve(release.folder.files.size());
  for (std::size_t i = 0; i < release.folder.files.size(); ++i) {
    const std::u16string path = ContentAddressedPath(release.folder.files[i].relativePath, release.md5[i]);
    paths.push_back(firstByKey.emplace(SamePathKey(path), path).first->second);
  }
  return paths;
}

ManifestContent ManifestOf(const HashedRelease& release, const ReleaseFile& runFile, const std::string& baseUrl,
                           UrlLayout layout) {
  const std::vector<std::u16string> contentPaths =
      layout == UrlLayout::ContentAddressed ? ContentAddressedPaths(release) : std::vector<std::u16string>();
  ManifestContent content;
  content.run = runFile.relativePath;
  content.entries.reserve(release.folder.files.size());
  for (std::size_t i = 0; i < release.folder.files.size(); ++i) {
    const ReleaseFile& file = release.folder.files[i];
    ManifestEntry entry;
    const std::size_t lastSeparator = file.relativePath.rfind(u'\\');
    entry.name = lastSeparator == std::u16string::npos ? file.relativePath : file.relativePath.substr(lastSeparator + 1);
    entry.md5 = release.md5[i];
    const std::u16string& published = layout == UrlLayout::ContentAddressed ? contentPaths[i] : file.relativePath;
    entry.url = JoinUrl(baseUrl, PublishedName(published));
    entry.path = u"\\" + file.relativePath;
    entry.size = file.size;
    if (i < release.sha256.size()) entry.sha256 = release.sha256[i];
    content.entries.push_back(std::move(entry));
  }
  return content;
}

const ReleaseFile* FindRunFile(const ReleaseFolder& folder, const std::string& run) {
  // "./Velmora.exe" and "Bin/./x.exe" name what "Velmora.exe" and "Bin/x.exe" name.
  std::u16string key = u"\\" + SamePathKey(WideOfUtf8(run));
  for (std::size_t dot = key.find(u"\\.\\"); dot != std::u16string::npos; dot = key.find(u"\\.\\")) key.erase(dot, 2);
  key.erase(0, 1);
  if (key.empty()) return nullptr;
  for (const ReleaseFile& file : folder.files) {
    if (SamePathKey(file.relativePath) == key) return &file;
  }
  return nullptr;
}

}  // namespace velmora::release
