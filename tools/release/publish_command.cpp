// velmora-release publish RELEASE_DIR OUT_DIR --base-url URL --run FILE [--key KEY_FILE]
//                         [--serial N] [--expires TIME]
//
// OUT_DIR/download/2099/pro/up.txt and OUT_DIR/files/<md5>/<name> (the file's real name; its url
// holds the name percent-encoded, which web servers decode): the files first, each copied
// through a temporary name and checked against its digest on the way, then the manifest, replaced
// in one step. Whoever serves OUT_DIR meanwhile sees the old manifest with the old files (kept) or
// the new manifest with every new file in place. With --key the signature up.txt.sig is written
// beside it (manifest_signing.h tells in which order).
#include <set>
#include <utility>

#include "command_support.h"
#include "manifest_reader.h"
#include "manifest_signing.h"
#include "progress_line.h"
#include "release_commands.h"
#include "release_files.h"
#include "release_text.h"
#include "release_urls.h"
#include "signing_arguments.h"
#include "text/encoding.h"
#include "update/manifest.h"
#include "update/manifest_freshness.h"

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

// The serial of the manifest already published at `manifestPath`; nothing when there is none, it
// cannot be read or it carries no valid serial.
std::optional<std::int64_t> PublishedSerial(const std::string& manifestPath) {
  std::string bytes;
  if (!ReadWholeFile(manifestPath, bytes)) return std::nullopt;
  const ManifestRecords records = ReadManifestText(bytes, ManifestEncoding::Utf8);
  if (!records.parsed || !records.serial.present || records.serial.kind != json::JsonKind::Integer) return std::nullopt;
  return update::ParseSerial(Utf8Of(records.serial.text));
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
  SigningArguments signing;
  if (!ReadSigningArguments(line, console, signing, status)) return status;

  std::u16string manifestFolder = WithBackslashes(update::kManifestPath);
  const std::size_t lastSeparator = manifestFolder.rfind(u'\\');
  const std::u16string manifestName = manifestFolder.substr(lastSeparator);
  manifestFolder.resize(lastSeparator);
  std::string manifestFolderPath;
  std::string manifestPath;
  GbkOf(manifestFolder, manifestFolderPath);
  GbkOf(manifestFolder + manifestName, manifestPath);
  // Updaters that took the published manifest refuse one with a lower serial ("UpData版本过旧"):
  // publishing it would stop every update until a higher serial came.
  if (const std::optional<std::int64_t> published = PublishedSerial(outDir + manifestPath);
      published && signing.serial && *signing.serial < *published) {
    return Failure(console, "the manifest published in " + outOperand + " has serial " + std::to_string(*published) +
                                ", higher than " + std::to_string(*signing.serial) +
                                ": updaters that took it would refuse this one as older; give --serial " +
                                std::to_string(*published) + " or higher");
  }

  ReleaseFolder folder;
  if (!ListReleaseArgument(line.command, releaseOperand, console, folder, status)) return status;
  const std::string& run = line.values.at("run");
  if (FindRunFile(folder, run) == nullptr) {
    return UsageError(console, line.command, "--run \"" + run + "\" names no file of " + releaseOperand);
  }
  HashedRelease release;
  if (!HashReleaseFolder(std::move(folder), line, console, true, release, status)) return status;
  ManifestContent manifest = ManifestOf(release, *FindRunFile(release.folder, run), baseUrl, UrlLayout::ContentAddressed);
  manifest.serial = signing.serial;
  manifest.expires = signing.expires;
  const std::string manifestBytes = WriteManifest(manifest, ManifestEncoding::Utf8);
  std::optional<std::string> signatureText;
  if (signing.privateKey) {
    // Signed before anything is copied: a key that cannot sign leaves the tree as it was.
    signatureText.emplace();
    if (!SignManifestBytes(*signing.privateKey, manifestBytes, *signatureText, error)) return Failure(console, error);
  }

  // The files, each once: two files of one content and one name share their published file.
  std::uint64_t total = 0;
  for (const ReleaseFile& file : release.folder.files) total += file.size;
  const std::vector<std::u16string> contentPaths = ContentAddressedPaths(release);
  std::set<std::u16string> copied;
  {
    ProgressLine progress(console, "copying", release.folder.files.size(), total, line.flags.count("quiet") == 0);
    std::uint64_t bytesDone = 0;
    for (std::size_t i = 0; i < release.folder.files.size(); ++i) {
      const ReleaseFile& file = release.folder.files[i];
      // The file under its real name: a web server decodes the percent-encoded url to find it.
      const std::u16string& published = contentPaths[i];
      if (copied.insert(published).second) {
        std::string target;
        std::string folderPath;
        GbkOf(published, target);  // a release file's name has a GBK form (ListReleaseFolder)
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
  if (!CreateFolders(outDir + manifestFolderPath)) {
    return Failure(console, "cannot create the folder " + outOperand + Utf8Of(manifestFolder));
  }
  SignatureFileChange change = SignatureFileChange::None;
  if (!WriteManifestFiles(outDir + manifestPath, manifestBytes, signatureText, change, error)) {
    return Failure(console, error);
  }
  console.Out("published " + CountOf(release.folder.files.size(), "file", "files") + ", " + DescribeBytes(total) +
              ", to " + outOperand + ":\n  " + update::kManifestPath + " (the manifest; serve it uncached)\n  /" +
              kContentFolder + "/<md5>/<name> (" + CountOf(copied.size(), "file", "files") +
              ", never changing: cache them for good)\nevery url begins with " + JoinUrl(baseUrl, kContentFolder) +
              "/\n" + DescribeSigning(update::kManifestPath, manifest, change));
  return kExitSuccess;
}

}  // namespace velmora::release
