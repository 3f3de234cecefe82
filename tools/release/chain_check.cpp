#include "chain_check.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "command_support.h"
#include "platform/directory_walk.h"
#include "platform/file.h"
#include "release_commands.h"
#include "release_files.h"
#include "root_thresholds.h"
#include "text/encoding.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"
#include "update/root_chain.h"
#include "update/root_record.h"
#include "update/signature_set.h"

namespace velmora::release {
namespace {

constexpr char kProFolder[] = "\\download\\2099\\pro";
constexpr char kManifestName[] = "up.txt";

struct ChainReport {
  std::string lines;
  std::vector<std::string> problems;
};

std::string Described(const update::RootRecord& root) {
  return "root " + std::to_string(root.version) + ": expires " + update::FormatUtcTime(root.expires.value_or(0)) +
         "; " + std::to_string(root.root.threshold) + " of its " + std::to_string(root.root.keyIds.size()) +
         " root keys sign the next root, " + std::to_string(root.release.threshold) + " of its " +
         std::to_string(root.release.keyIds.size()) + " release keys sign manifests\n";
}

// The file's bytes, or nothing when it is missing. A folder in its place, a file above `limit` or
// one that cannot be read is `unusable`, with the reason: a server answers none of them with the
// file (a folder gets 403), and updaters refuse such an answer.
std::optional<std::string> ReadIfPresent(const std::string& path, std::size_t limit, std::string& unusable) {
  unusable.clear();
  if (platform::FolderExists(path)) {
    unusable = "is a folder, which a server answers with an error (403)";
    return std::nullopt;
  }
  const std::int64_t length = platform::FileLength(path);
  if (length < 0) return std::nullopt;
  std::string bytes;
  if (static_cast<std::uint64_t>(length) > limit) {
    unusable = "is above " + std::to_string(limit / 1024) + " KiB";
  } else if (!ReadWholeFile(path, bytes)) {
    unusable = "cannot be read";
  } else {
    return bytes;
  }
  return std::nullopt;
}

// Root 1 is trusted because the builds carry it; the key ceremony has its holders sign it all the
// same, so that every root in the tree is vouched for by the threshold of its own root keys.
void CheckRootOne(const update::RootRecord& root, const std::string& bytes,
                  const std::optional<std::string>& signatures, ChainReport& report) {
  bool met = false;
  const std::string line = RootSigningLine(root, "root 1", bytes, signatures.value_or(""), met);
  report.lines += "root 1: " + line + "; trusted as the record the builds carry\n";
  if (!met) {
    report.problems.push_back("root 1 is " + line + (signatures ? "" : " (root/1.json.sig is missing)") +
                              ": have its key holders sign it (docs/signing.md, the key ceremony)");
  }
}

// Walks root/1.json (or `first`) to the newest record present; the newest root taken.
std::optional<update::RootRecord> WalkPublishedRoots(const std::string& rootFolder, const std::string& shownFolder,
                                                     const std::optional<std::string>& first, ChainReport& report) {
  std::string unusable;
  const std::string firstPath = rootFolder + "\\1.json";
  const std::optional<std::string> published = ReadIfPresent(firstPath, update::kRootRecordSizeLimit, unusable);
  if (!published) {
    report.problems.push_back(!unusable.empty() ? "root/1.json " + unusable + ": updaters built with a root refuse it"
                                                : "root/1.json is missing (looked for " + shownFolder + "/1.json" +
                                                      "): updaters built with a root start from it; copy the "
                                                      "record the builds carry there with its .sig (docs/signing.md)");
    if (!first) return std::nullopt;
  } else if (first && *published != *first) {
    report.problems.push_back("root/1.json is not the record given with --root, byte for byte");
  }
  std::optional<update::RootRecord> current = update::ParseRootRecord(first ? *first : *published);
  if (!current || current->version != 1) {
    report.problems.push_back("root 1 is not a root record of version 1");
    return std::nullopt;
  }
  report.lines += Described(*current);
  CheckRootOne(*current, first ? *first : *published,
               ReadIfPresent(firstPath + update::kSignatureSuffix, update::kSignatureFileSizeLimit, unusable), report);
  for (std::int64_t step = 0;; ++step) {
    const std::string name = "root/" + std::to_string(current->version + 1) + ".json";
    const std::string path = rootFolder + "\\" + std::to_string(current->version + 1) + ".json";
    const std::optional<std::string> record = ReadIfPresent(path, update::kRootRecordSizeLimit, unusable);
    if (!record) {
      if (!unusable.empty()) report.problems.push_back(name + " " + unusable + ": updaters refuse the chain there");
      break;
    }
    if (step == update::kRootChainStepLimit) {
      report.problems.push_back("more than " + std::to_string(update::kRootChainStepLimit) +
                                " roots after root 1: updaters refuse the chain");
      break;
    }
    const std::optional<std::string> signatures =
        ReadIfPresent(path + update::kSignatureSuffix, update::kSignatureFileSizeLimit, unusable);
    if (!unusable.empty()) {
      report.problems.push_back(name + ".sig " + unusable + ": updaters refuse the chain there");
      break;
    }
    std::string why;
    std::optional<update::RootRecord> next = update::NextRoot(*current, *record, signatures.value_or(""), why);
    if (!next) {
      report.problems.push_back(why + (signatures ? "" : " (" + name + ".sig is missing)") +
                                ": updaters refuse the chain there");
      break;
    }
    current = std::move(next);
    report.lines += Described(*current);
  }
  return current;
}

// Records above `newest` in the root folder that no updater reaches: "7.json" after a gap.
void ReportUnreachable(const std::string& rootFolder, std::int64_t newest, ChainReport& report) {
  const platform::DirectoryWalk walk = platform::WalkDirectoryTree(rootFolder);
  std::vector<std::int64_t> beyond;
  for (const platform::WalkedFile& file : walk.files) {
    const std::string name = text::WideToNarrow(file.relativePath, text::Utf8CodePage);
    const std::size_t dot = name.find(".json");
    if (dot == std::string::npos || dot + 5 != name.size()) continue;
    const std::optional<std::int64_t> version = update::ParseSerial(name.substr(0, dot));
    // The one right after the newest is missing, or was refused above.
    if (version && *version > newest + 1) beyond.push_back(*version);
  }
  std::sort(beyond.begin(), beyond.end());
  for (const std::int64_t version : beyond) {
    report.problems.push_back("root/" + std::to_string(version) + ".json lies beyond root " +
                              std::to_string(newest) + ", where the chain ends: no updater takes it");
  }
}

// Every channel's manifest below the pro folder: the default one and NAME/up.txt.
std::vector<std::string> ChannelManifests(const std::string& proFolder) {
  std::vector<std::string> names;
  for (const platform::WalkedFile& file : platform::WalkDirectoryTree(proFolder).files) {
    std::string name = text::WideToNarrow(file.relativePath, text::Utf8CodePage);
    const std::size_t slash = name.find('\\');
    if (name == kManifestName || (slash != std::string::npos && name.substr(slash + 1) == kManifestName &&
                                  name.substr(0, slash) != "root")) {
      names.push_back(std::move(name));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

void CheckManifests(const std::string& proFolder, const update::RootRecord& newest, ChainReport& report) {
  const std::vector<std::string> manifests = ChannelManifests(proFolder);
  if (manifests.empty()) report.problems.push_back("no manifest (up.txt) below download/2099/pro");
  for (const std::string& name : manifests) {
    std::string shown = name;
    std::replace(shown.begin(), shown.end(), '\\', '/');
    std::string bytes;
    std::string unusable;
    const std::optional<std::string> signatures = ReadIfPresent(proFolder + "\\" + name + update::kSignatureSuffix,
                                                                update::kSignatureFileSizeLimit, unusable);
    if (!ReadWholeFile(proFolder + "\\" + name, bytes)) {
      report.problems.push_back(shown + " cannot be read");
    } else if (!unusable.empty()) {
      report.problems.push_back(shown + ".sig " + unusable + ": updaters refuse the manifest (\"UpData签名错误\")");
    } else if (!signatures) {
      report.problems.push_back(shown + ".sig is missing: updaters refuse the manifest (\"UpData签名错误\")");
    } else if (!update::MeetsThreshold(newest.release, newest.keys, bytes, *signatures)) {
      report.problems.push_back(shown + " is not signed by " + std::to_string(newest.release.threshold) +
                                " of root " + std::to_string(newest.version) +
                                "'s release keys: updaters refuse it (\"UpData签名错误\")");
    } else {
      report.lines += shown + ": signed by the release threshold of root " + std::to_string(newest.version) + "\n";
    }
  }
}

}  // namespace

int RunChainCheck(const CommandLine& line, ReleaseConsole& console) {
  std::string site, error;
  if (!PathArgument(line.operands[0], site, error)) return UsageError(console, line.command, error);
  if (!platform::FolderExists(site)) return UsageError(console, line.command, "no such folder: " + line.operands[0]);
  std::optional<std::string> first;
  if (const auto root = line.values.find("root"); root != line.values.end()) {
    std::string path, bytes;
    if (!PathArgument(root->second, path, error) || !ReadWholeFile(path, bytes)) {
      return UsageError(console, line.command, "cannot read the root record " + root->second);
    }
    first = bytes;
  }
  const std::string proFolder = site + kProFolder;
  ChainReport report;
  const std::optional<update::RootRecord> newest =
      WalkPublishedRoots(proFolder + "\\root", line.operands[0] + "/download/2099/pro/root", first, report);
  if (newest) {
    ReportUnreachable(proFolder + "\\root", newest->version, report);
    const std::int64_t now = update::UtcSecondsNow();
    if (newest->expires && *newest->expires <= now) {
      report.problems.push_back("root " + std::to_string(newest->version) + ", the newest, expired " +
                                update::FormatUtcTime(*newest->expires) + ": updaters refuse every run "
                                "(\"UpData密钥错误\"); publish the next root");
    }
    CheckManifests(proFolder, *newest, report);
  }
  for (const std::string& problem : report.problems) report.lines += "problem   " + problem + "\n";
  report.lines += std::to_string(report.problems.size()) + (report.problems.size() == 1 ? " problem" : " problems") +
                  " in the root chain and the manifests' signatures\n";
  console.Out(report.lines);
  return report.problems.empty() ? kExitSuccess : kExitFailed;
}

}  // namespace velmora::release
