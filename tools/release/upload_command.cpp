// velmora-release upload SITE DESTINATION [--rclone PROGRAM] [--public-key TEXT_OR_FILE] [--quiet]
//
// Copies a published tree with Debian's rclone, driven as a program, in the order that keeps
// every client consistent: an updater that reads a new manifest finds every file it names.
//   1. the stored files, chunk indexes and packs ("rclone copy --files-from-raw", --checksum:
//      an object with the same size and digest is skipped; a destination without digests compares
//      sizes, which names the same bytes for content-addressed files);
//   2. the root records;
//   3. for each channel its signature, then its manifest: each compared byte for byte with the
//      object at the destination ("rclone cat"), since a new manifest may have the old one's size,
//      and sent ("rclone copyto") only when it differs.
// The destination's folders are made first. A step that fails ends the upload before any manifest
// is sent.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <utility>

#include "command_support.h"
#include "platform/file.h"
#include "manifest_reader.h"
#include "program_run.h"
#include "release_commands.h"
#include "release_files.h"
#include "release_folder.h"
#include "release_text.h"
#include "release_urls.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"

namespace velmora::release {
namespace {

constexpr char kImmutable[] = "Cache-Control: public, max-age=31536000, immutable";
constexpr char kNoCache[] = "Cache-Control: no-cache";

// The published files of SITE by the step that sends them ("/"-separated UTF-8 paths).
struct UploadPlan {
  std::vector<std::string> stored;     // files/..., and anything else outside the manifests' folder
  std::vector<std::string> roots;      // download/2099/pro/root/...
  std::vector<std::string> manifests;  // download/2099/pro/[CHANNEL/]up.txt
};

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

UploadPlan PlanOf(const ReleaseFolder& folder) {
  const std::string manifestFolder = std::string(update::kManifestPath).substr(1, std::string(update::kManifestPath).rfind('/'));
  const std::string rootFolder = std::string(update::kRootRecordFolder).substr(1);
  UploadPlan plan;
  for (const ReleaseFile& file : folder.files) {
    std::string path = Utf8Of(file.relativePath);
    for (char& c : path) c = c == '\\' ? '/' : c;
    const bool inManifestFolder = path.rfind(manifestFolder, 0) == 0;
    if (path.rfind(rootFolder, 0) == 0) {
      plan.roots.push_back(path);
    } else if (inManifestFolder && EndsWith(path, "/up.txt")) {
      plan.manifests.push_back(path);
    } else if (!(inManifestFolder && EndsWith(path, std::string("/up.txt") + update::kSignatureSuffix))) {
      plan.stored.push_back(path);  // a signature goes with its manifest
    }
  }
  return plan;
}

// The address the manifest's files were published under: its first url up to "/files/".
std::string BaseUrlOf(const ManifestRecords& records) {
  if (records.entries.empty()) return {};
  const std::string url = Utf8Of(records.entries[0].url);
  const std::size_t at = url.find("/" + std::string(kContentFolder) + "/");
  return at == std::string::npos ? std::string() : url.substr(0, at + 1);
}

// Where the path of "remote:path" or ":backend,option='x:y':path" starts: after the first ":"
// outside quotes (past a leading one). 0 for a local path, "C:\\folder" included.
std::size_t RemoteEnd(const std::string& destination) {
  char quote = 0;
  for (std::size_t i = destination.empty() || destination[0] != ':' ? 0 : 1; i < destination.size(); ++i) {
    const char c = destination[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ':') {
      return i == 1 && destination[0] != ':' ? 0 : i + 1;
    } else if (c == '/' || c == '\\') {
      if (destination[0] != ':') return 0;  // a local path with a ":" further on
    }
  }
  return 0;
}

// The destination and the folders above it, from the top, each as rclone names it: for
// "remote:a/b" "remote:a" and "remote:a/b"; for ":webdav,url='https://h/dav/new/':x" the url's
// folders as paths below its origin (":webdav,url='https://h/':dav", ...), then x. A local folder
// is one: rclone makes it whole.
std::vector<std::string> FolderLevels(const std::string& destination) {
  const std::size_t pathStart = RemoteEnd(destination);
  if (pathStart == 0) return {destination};
  std::string remote = destination.substr(0, pathStart);
  std::string path = destination.substr(pathStart);
  const std::size_t url = remote.find(",url=");
  if (remote[0] == ':' && url != std::string::npos && url + 5 < remote.size() &&
      (remote[url + 5] == '\'' || remote[url + 5] == '"')) {
    const std::size_t end = remote.find(remote[url + 5], url + 6);
    const std::string value = remote.substr(url + 6, end == std::string::npos ? std::string::npos : end - url - 6);
    const std::size_t scheme = value.find("://");
    const std::size_t slash = scheme == std::string::npos ? std::string::npos : value.find('/', scheme + 3);
    if (end != std::string::npos && slash != std::string::npos) {
      remote = remote.substr(0, url + 6) + value.substr(0, slash + 1) + remote.substr(end);
      path = value.substr(slash + 1) + (path.empty() || value.back() == '/' ? "" : "/") + path;
    }
  }
  std::vector<std::string> levels;
  std::string made = remote + (!path.empty() && path[0] == '/' ? "/" : "");
  for (std::size_t start = 0; start < path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start) {
      made += (made.back() == ':' || made.back() == '/' ? "" : "/") + path.substr(start, end - start);
      levels.push_back(made);
    }
    start = end + 1;
  }
  if (levels.empty()) levels.push_back(destination);
  return levels;
}

// What the upload reports and where rclone's log goes.
class Uploader {
 public:
  Uploader(std::string rclone, std::string site, std::string destination)
      : rclone_(std::move(rclone)), site_(std::move(site)), destination_(std::move(destination)) {
    std::random_device random;
    scratch_ = std::filesystem::temp_directory_path() /
               ("velmora-upload-" + std::to_string(random()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(scratch_);
  }
  ~Uploader() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }

  // rclone makes the folders below the destination as it copies, but no folder above the url a
  // connection string gives it: a WebDAV copy to a url whose folder does not exist yet ends with
  // "mkParentDir failed". So the destination is made first, each folder from the top ("rclone
  // mkdir" of one that exists changes nothing). Only the destination's own failure counts: a
  // level above it may not be the publisher's to make, yet exist.
  bool MakeDestination() {
    const std::vector<std::string> levels = FolderLevels(destination_);
    for (std::size_t i = 0; i < levels.size(); ++i) {
      if (!Rclone({"mkdir", levels[i]}) && i + 1 == levels.size()) return false;
    }
    return true;
  }

  // Step 1 and 2: `paths` with rclone copy and `cacheControl`; false (reported) on a failure.
  bool CopyMany(const std::vector<std::string>& paths, const char* cacheControl) {
    if (paths.empty()) return true;
    const std::filesystem::path list = scratch_ / "files.txt";
    {
      std::ofstream out(list, std::ios::binary | std::ios::trunc);
      for (const std::string& path : paths) out << path << '\n';
      if (!out) return Report("cannot write the list of files to send");
    }
    return Rclone({"copy", site_, destination_, "--files-from-raw", Utf8(list), "--checksum", "--header-upload",
                   cacheControl, "--no-traverse"});
  }

  // Step 3: one object, compared with the destination's, sent when it differs.
  bool CopyIfChanged(const std::string& path, const std::string& localPath) {
    std::string local;
    if (!ReadWholeFile(localPath, local)) return Report("cannot read " + path);
    const ProgramRun there = RunProgram(rclone_, {"cat", Joined(destination_, path), "--log-file", Utf8(scratch_ / "cat.log")});
    if (!there.started) return Report("cannot start " + rclone_);
    if (there.exitCode == 0 && there.output == local) return true;
    return Rclone({"copyto", Joined(site_, path), Joined(destination_, path), "--header-upload", kNoCache,
                   "--ignore-times"});
  }

  const std::vector<std::string>& Sent() const { return sent_; }
  const std::string& Problem() const { return problem_; }

 private:
  static std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  }
  static std::string Joined(const std::string& place, const std::string& path) {
    return place.empty() || place.back() == ':' || place.back() == '/' ? place + path : place + "/" + path;
  }

  bool Report(const std::string& problem) {
    problem_ = problem;
    return false;
  }

  // Runs rclone with its log (-v: one "INFO : <path>: Copied (...)" line per object sent) in a
  // file of its own, and takes the objects sent from it.
  bool Rclone(std::vector<std::string> arguments) {
    const std::filesystem::path log = scratch_ / "rclone.log";
    std::error_code ignored;
    std::filesystem::remove(log, ignored);
    arguments.insert(arguments.end(), {"-v", "--stats", "0", "--log-file", Utf8(log)});
    const ProgramRun run = RunProgram(rclone_, arguments);
    std::ifstream in(log, std::ios::binary);
    std::string line;
    std::string errors;
    while (std::getline(in, line)) {
      const std::size_t info = line.find("INFO  : ");
      const std::size_t copied = line.find("Copied (");
      if (info != std::string::npos && copied != std::string::npos) {
        const std::size_t start = info + 8;
        const std::size_t end = line.rfind(": ", copied);
        if (end != std::string::npos && end > start) sent_.push_back(line.substr(start, end - start));
      } else if (line.find("ERROR") != std::string::npos) {
        errors += "\n  " + line;
      }
    }
    if (!run.started) return Report("cannot start " + rclone_ + " (give its path with --rclone)");
    if (run.exitCode != 0) {
      return Report("rclone " + arguments[0] + " ended with status " + std::to_string(run.exitCode) + errors);
    }
    return true;
  }

  std::string rclone_;
  std::string site_;
  std::string destination_;
  std::filesystem::path scratch_;
  std::vector<std::string> sent_;
  std::string problem_;
};

// Verifies the tree as verify does: with root records, `verify SITE` (the chain, and every
// channel's manifest signed by the newest root's release threshold); then each manifest as
// `verify MANIFEST SITE --base-url URL` (with --public-key, its signature too). The problems of
// what fails, as verify reports them.
std::vector<std::string> VerifyTree(const CommandLine& line, const UploadPlan& plan, ReleaseConsole& console) {
  std::vector<std::string> refusals;
  const bool withKey = line.values.count("public-key") != 0;
  if (!plan.roots.empty()) {
    CommandLine chain;
    chain.command = "verify";
    chain.operands = {line.operands[0]};
    chain.flags.insert("quiet");
    CapturedConsole captured;
    if (RunVerifyCommand(chain, captured) != kExitSuccess) {
      refusals.push_back("verify " + line.operands[0] + " refuses it:\n" + captured.out + captured.err);
    }
  }
  bool signaturesUnchecked = false;
  for (const std::string& manifest : plan.manifests) {
    std::string path;
    std::string error;
    std::string bytes;
    if (!PathArgument(line.operands[0] + "/" + manifest, path, error) || !ReadWholeFile(path, bytes)) {
      refusals.push_back(manifest + ": cannot be read");
      continue;
    }
    signaturesUnchecked = signaturesUnchecked || (!withKey && plan.roots.empty() &&
                                                  platform::FileLength(path + update::kSignatureSuffix) >= 0);
    const std::string baseUrl = BaseUrlOf(ReadManifestText(bytes, ManifestEncoding::Utf8));
    CommandLine verify;
    verify.command = "verify";
    verify.operands = {line.operands[0] + "/" + manifest, line.operands[0]};
    if (!baseUrl.empty()) verify.values["base-url"] = baseUrl;
    if (const auto key = line.values.find("public-key"); key != line.values.end()) verify.values["public-key"] = key->second;
    verify.flags.insert("quiet");
    CapturedConsole captured;
    if (RunVerifyCommand(verify, captured) != kExitSuccess) {
      refusals.push_back(manifest + " does not verify:\n" + captured.out + captured.err);
    }
  }
  if (signaturesUnchecked) {
    console.Err("velmora-release: note: the manifests' signatures were not checked: " + line.operands[0] +
                " has no root records (" + std::string(update::kRootRecordFolder).substr(1) +
                "1.json) to name the release keys; give --public-key\n");
  }
  return refusals;
}

}  // namespace

int RunUploadCommand(const CommandLine& line, ReleaseConsole& console) {
  const std::string& siteOperand = line.operands[0];
  const std::string& destination = line.operands[1];
  const auto program = line.values.find("rclone");
  const std::string rclone = program != line.values.end() ? program->second : "rclone";
  std::string site;
  std::string error;
  if (!PathArgument(siteOperand, site, error)) return UsageError(console, line.command, error);
  if (destination.empty()) return UsageError(console, line.command, "DESTINATION is empty");
  const ReleaseFolder folder = ListReleaseFolder(site);
  if (!folder.found) return UsageError(console, line.command, "no such folder: " + siteOperand);
  const UploadPlan plan = PlanOf(folder);
  if (plan.manifests.empty()) {
    return Failure(console, siteOperand + " holds no published manifest (" + std::string(update::kManifestPath).substr(1) +
                                "): publish into it first");
  }
  if (const std::vector<std::string> refusals = VerifyTree(line, plan, console); !refusals.empty()) {
    return Failures(console, siteOperand + " is not sent: a tree that verify refuses would break updates", refusals);
  }

  Uploader uploader(rclone, siteOperand, destination);
  bool sent = uploader.MakeDestination() && uploader.CopyMany(plan.stored, kImmutable) &&
              uploader.CopyMany(plan.roots, kNoCache);
  for (std::size_t i = 0; sent && i < plan.manifests.size(); ++i) {
    const std::string& manifest = plan.manifests[i];
    std::string localManifest;
    if (!PathArgument(siteOperand + "/" + manifest, localManifest, error)) return Failure(console, error);
    const std::string signature = manifest + update::kSignatureSuffix;
    if (platform::FileLength(localManifest + update::kSignatureSuffix) >= 0) {
      sent = uploader.CopyIfChanged(signature, localManifest + update::kSignatureSuffix);
    }
    sent = sent && uploader.CopyIfChanged(manifest, localManifest);
  }
  std::string report;
  for (const std::string& path : uploader.Sent()) report += "sent      " + path + "\n";
  if (!sent) {
    console.Out(report);
    return Failure(console, "upload to " + destination + " stopped: " + uploader.Problem() +
                                "\n  the manifests were not sent; run the upload again");
  }
  report += "uploaded " + siteOperand + " to " + destination + ": " + CountOf(uploader.Sent().size(), "object", "objects") +
            " sent of " + std::to_string(folder.files.size()) + ", the others already there (" +
            CountOf(plan.manifests.size(), "manifest", "manifests") + " last)\n";
  console.Out(report);
  return kExitSuccess;
}

}  // namespace velmora::release
