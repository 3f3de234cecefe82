// velmora-release publish RELEASE_DIR OUT_DIR --base-url URL --run FILE [--key KEY_FILE]
//                         [--serial N] [--expires TIME] [--channel NAME] [--rollout PERCENT]
//
// OUT_DIR/download/2099/pro/up.txt and OUT_DIR/files/<md5>/<name> (the file's real name; its url
// holds the name percent-encoded, which web servers decode): the files first, each copied
// through a temporary name and checked against its digest on the way (one already in place with
// the same bytes is left untouched, stored_copies.h), with the chunk index and pack of each file
// of 64 KiB or more beside it (delta_files.h), then the manifest, replaced in one step. Whoever serves OUT_DIR meanwhile sees the old manifest with the old files (kept) or
// the new manifest with every new file in place. With --key the signature up.txt.sig is written
// beside it (manifest_signing.h tells in which order). With --channel NAME the manifest is
// OUT_DIR/download/2099/pro/NAME/up.txt instead; the files' tree is every channel's, and nothing is
// ever removed from it, so each channel's manifest keeps finding its files. --rollout stages the
// release (`rollout`, and `rolloutSerial` = its serial).
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "command_support.h"
#include "delta_files.h"
#include "manifest_reader.h"
#include "manifest_signing.h"
#include "platform/file.h"
#include "progress_line.h"
#include "release_digests.h"
#include "release_commands.h"
#include "release_files.h"
#include "release_text.h"
#include "release_channel.h"
#include "release_urls.h"
#include "stored_copies.h"
#include "rollout_arguments.h"
#include "rollout_description.h"
#include "signing_arguments.h"
#include "text/encoding.h"
#include "update/health_check.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"
#include "update/mirrors.h"

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

// Whether the file `index` of `release` gets a chunk index and pack: large enough, and SHA-256 at
// hand (chunks are named by it and the manifest lists the digests).
bool HasDeltaFiles(const HashedRelease& release, std::size_t index) {
  return release.folder.files[index].size >= kDeltaMinimumSize && index < release.sha256.size();
}

// The files whose stored name is that of another file's chunk index or pack in the same folder
// ("x.dll" and "x.dll.vmdi" of one content share files/<md5>/): one would overwrite the other.
std::vector<std::string> DeltaNameCollisions(const HashedRelease& release, const std::vector<std::u16string>& stored) {
  std::map<std::u16string, std::size_t> byName;
  for (std::size_t i = 0; i < stored.size(); ++i) byName.emplace(SamePathKey(stored[i]), i);
  std::vector<std::string> collisions;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (!HasDeltaFiles(release, i) || byName.at(SamePathKey(stored[i])) != i) continue;
    for (const auto& [suffix, what] : {std::pair{kIndexSuffix, "chunk index"}, std::pair{kPackSuffix, "pack"}}) {
      const auto other = byName.find(SamePathKey(stored[i] + WideOfUtf8(suffix)));
      if (other == byName.end()) continue;
      std::u16string name = stored[other->second];
      for (char16_t& c : name) {
        if (c == u'\\') c = u'/';
      }
      collisions.push_back("\\" + Utf8Of(release.folder.files[other->second].relativePath) + ": it would be stored as " +
                           Utf8Of(name) + ", the name of the " + what + " of \\" +
                           Utf8Of(release.folder.files[i].relativePath) + " (the same content); rename one of them");
    }
  }
  return collisions;
}

// "  /files/<md5>/<name>.vmdi and .vmdp (...)\n" for the chunk indexes and packs, or a note that
// there are none.
std::string DescribeDeltas(std::size_t count, std::size_t written) {
  if (count == 0) {
    return Sha256Available() ? "" : "  no chunk indexes: this system's hash provider computes no SHA-256\n";
  }
  return "  /" + std::string(kContentFolder) + "/<md5>/<name>" + kIndexSuffix + " and " + kPackSuffix +
         " (the chunk index and pack of " + CountOf(count, "file", "files") + " of " +
         DescribeBytes(kDeltaMinimumSize) + " or more; " + std::to_string(written) + " written, " +
         std::to_string(count - written) + " already in place)\n";
}

// The manifest's `mirrors` from --mirror: the base URL first, then each mirror, every one ending
// with "/" (update/mirrors.h); none without --mirror. False after a usage error.
bool MirrorArguments(const CommandLine& line, const std::string& baseUrl, ReleaseConsole& console,
                     std::vector<std::string>& mirrors, int& exitStatus) {
  const auto given = line.repeated.find("mirror");
  if (given == line.repeated.end() || given->second.empty()) return true;
  const auto withSlash = [](const std::string& url) { return url.back() == '/' ? url : url + "/"; };
  mirrors.push_back(withSlash(baseUrl));
  for (const std::string& mirror : given->second) {
    std::string problem = BaseUrlProblem(mirror);
    if (problem.empty() && !update::IsMirrorBase(withSlash(mirror))) problem = "it cannot hold a query or fragment";
    if (!problem.empty()) {
      exitStatus = UsageError(console, line.command, "invalid --mirror \"" + mirror + "\": " + problem);
      return false;
    }
    if (std::find(mirrors.begin(), mirrors.end(), withSlash(mirror)) == mirrors.end()) mirrors.push_back(withSlash(mirror));
  }
  if (mirrors.size() > update::kMostMirrors) {
    exitStatus = UsageError(console, line.command, "at most " + std::to_string(update::kMostMirrors - 1) + " mirrors");
    return false;
  }
  return true;
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
  std::string channel;
  if (!ChannelArgument(line, console, channel, status)) return status;
  std::optional<std::int64_t> rollout;
  if (!PercentArgument(line, "rollout", console, rollout, status)) return status;
  std::int64_t healthSeconds = 0;
  if (const auto option = line.values.find("health-seconds"); option != line.values.end()) {
    const std::optional<std::int64_t> value = update::ParseSerial(option->second);  // decimal digits alone
    if (!value || *value > update::kMostHealthSeconds) {
      return UsageError(console, line.command,
                        "invalid --health-seconds \"" + option->second + "\": a whole number from 0 to 600");
    }
    healthSeconds = *value;
  }
  std::vector<std::string> mirrors;
  if (!MirrorArguments(line, baseUrl, console, mirrors, status)) return status;
  if (rollout && !signing.serial) {
    // The installations' places are drawn from rolloutSerial, the release's serial: without one,
    // `velmora-release rollout` could not keep them.
    return UsageError(console, line.command, "--rollout needs the release's serial: give --key or --serial");
  }

  // The channel's manifest (ASCII: the same text in GBK) and its folder.
  const std::string shownManifest = ChannelManifestPath(channel);
  const std::string manifestPath = ChannelManifestFile(channel);
  const std::string manifestFolderPath = manifestPath.substr(0, manifestPath.rfind('\\'));
  // Updaters that took the published manifest refuse one with a lower serial ("UpData版本过旧"):
  // publishing it would stop every update until a higher serial came.
  if (const std::optional<std::int64_t> published = PublishedSerial(outDir + manifestPath);
      published && signing.serial && *signing.serial < *published) {
    return Failure(console, "the manifest published in " + outOperand + " has serial " + std::to_string(*published) +
                                ", higher than " + std::to_string(*signing.serial) +
                                ": updaters that took it would refuse this one as older; give --serial " +
                                std::to_string(*published) + " or higher");
  }

  // Updaters built with a key or a root refuse an unsigned manifest: replacing a signed one by it
  // stops every update of theirs, so that is done only when asked for.
  if (line.flags.count("unsigned") != 0 && signing.privateKey) {
    return UsageError(console, line.command, "--unsigned and --key exclude each other");
  }
  if (!signing.privateKey && line.flags.count("unsigned") == 0 &&
      platform::FileLength(outDir + manifestPath + update::kSignatureSuffix) >= 0) {
    return Failure(console, "the manifest published in " + outOperand + " is signed (" + shownManifest +
                                update::kSignatureSuffix + "): without --key an unsigned one would replace it, which "
                                "every updater built with a key or a root refuses (\"UpData签名错误\"); give --key, "
                                "or --unsigned to publish it unsigned all the same");
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
  manifest.channel = channel;
  manifest.rollout = rollout;
  if (rollout) manifest.rolloutSerial = signing.serial;
  manifest.mirrors = mirrors;
  manifest.healthSeconds = healthSeconds;
  const std::vector<std::u16string> contentPaths = ContentAddressedPaths(release);
  if (const std::vector<std::string> collisions = DeltaNameCollisions(release, contentPaths); !collisions.empty()) {
    return Failures(console, releaseOperand + " cannot be published as it is:", collisions);
  }
  std::optional<std::string> signatureText;
  if (signing.privateKey) {
    // Tried before anything is copied: a key that cannot sign leaves the tree as it was. The
    // manifest itself is signed once the chunk indexes it lists are in place.
    signatureText.emplace();
    if (!SignManifestBytes(signing.privateKeys, WriteManifest(manifest, ManifestEncoding::Utf8), *signatureText,
                           error)) {
      return Failure(console, error);
    }
  }

  // The files, each once: two files of one content and one name share their published file, and
  // its chunk index and pack. stored[i] is where file i lies (GBK; empty for such a repeat).
  std::uint64_t total = 0;
  for (const ReleaseFile& file : release.folder.files) total += file.size;
  std::vector<std::string> stored(release.folder.files.size());
  std::set<std::u16string> copied;
  for (std::size_t i = 0; i < release.folder.files.size(); ++i) {
    std::string target;
    GbkOf(contentPaths[i], target);  // a release file's name has a GBK form (ListReleaseFolder)
    if (copied.insert(contentPaths[i]).second) stored[i] = outDir + "\\" + target;
  }
  const bool quiet = line.flags.count("quiet") != 0;
  // A copy already in place with the same bytes keeps its bytes and its time: a sync uploads only
  // what is new. Every other is written through a temporary name and renamed into place.
  const std::vector<bool> inPlace = StoredCopiesInPlace(release, stored, console, quiet);
  std::map<std::u16string, DeltaFiles> deltas;  // by published file
  std::size_t deltasWritten = 0;
  std::size_t filesWritten = 0;
  {
    ProgressLine progress(console, "copying", release.folder.files.size(), total, !quiet);
    std::uint64_t bytesDone = 0;
    for (std::size_t i = 0; i < release.folder.files.size(); ++i) {
      const ReleaseFile& file = release.folder.files[i];
      // The file under its real name: a web server decodes the percent-encoded url to find it.
      const std::u16string& published = contentPaths[i];
      if (!stored[i].empty()) {
        std::string folderPath;
        GbkOf(WithBackslashes(std::string(kContentFolder) + "/" + release.md5[i]), folderPath);
        if (!CreateFolders(outDir + "\\" + folderPath)) {
          return Failure(console, "cannot create the folder " + outOperand + "/" + kContentFolder + "/" + release.md5[i]);
        }
        if (!inPlace[i]) {
          if (!CopyFileChecked(file.localPath, stored[i], release.md5[i], error)) return Failure(console, error);
          ++filesWritten;
        }
        if (HasDeltaFiles(release, i)) {
          DeltaFiles files;
          DeltaWrite how = DeltaWrite::Written;
          if (!PublishDeltaFiles(file.localPath, stored[i], release.md5[i], file.size, files, how, error)) {
            return Failure(console, error);
          }
          deltasWritten += how == DeltaWrite::Written ? 1 : 0;
          deltas.emplace(published, std::move(files));
        }
      }
      if (const auto delta = deltas.find(published); delta != deltas.end()) {
        manifest.entries[i].delta =
            DeltaMemberOf(delta->second, JoinUrl(baseUrl, PublishedName(published + WideOfUtf8(kIndexSuffix))),
                          JoinUrl(baseUrl, PublishedName(published + WideOfUtf8(kPackSuffix))));
      }
      bytesDone += file.size;
      progress.Show(i + 1, bytesDone);
    }
  }
  const std::string manifestBytes = WriteManifest(manifest, ManifestEncoding::Utf8);
  if (signing.privateKey && !SignManifestBytes(signing.privateKeys, manifestBytes, *signatureText, error)) {
    return Failure(console, error);
  }

  // The manifest last, where the updater asks for it: the tree is complete before it names it.
  if (!CreateFolders(outDir + manifestFolderPath)) {
    return Failure(console, "cannot create the folder " + outOperand + shownManifest.substr(0, shownManifest.rfind('/')));
  }
  SignatureFileChange change = SignatureFileChange::None;
  if (!WriteManifestFiles(outDir + manifestPath, manifestBytes, signatureText, change, error)) {
    return Failure(console, error);
  }
  console.Out("published " + CountOf(release.folder.files.size(), "file", "files") + ", " + DescribeBytes(total) +
              ", to " + outOperand + ":\n  " + shownManifest + " (the manifest" +
              (channel.empty() ? std::string() : " of " + ChannelLabel(channel)) + "; serve it uncached)\n  /" +
              kContentFolder + "/<md5>/<name> (" + CountOf(copied.size(), "file", "files") + "; " +
              std::to_string(filesWritten) + " written, " + std::to_string(copied.size() - filesWritten) +
              " already in place; never changing: cache them for good)\n" + DescribeDeltas(deltas.size(), deltasWritten) +
              "every url begins with " + JoinUrl(baseUrl, kContentFolder) + "/\n" +
              DescribeSigning(shownManifest, manifest, change) +
              (rollout ? "rollout: " + DescribeRollout(*rollout) + ", places drawn from rolloutSerial " +
                             std::to_string(*manifest.rolloutSerial) + "\n"
                       : std::string()));
  return kExitSuccess;
}

}  // namespace velmora::release
