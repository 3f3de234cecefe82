// velmora-release verify MANIFEST DIR [--handoff] [--public-key TEXT_OR_FILE] [--base-url URL]
// (verify SITE [--root FILE], the root chain of a published tree, is chain_check.h.)
//
// First the manifest itself with the updater's rules (manifest_checks.h), its signature
// (MANIFEST.sig) when given the public key, its expiry, and its channel and staged rollout
// (shown); then every listed file below DIR,
// hashed as the update check hashes it and compared with its `md5` (in either letter case), and its
// `size` and `sha256` where the manifest gives them. DIR is a release folder or an installed copy,
// whose files are found by their `path`; with --base-url it is the tree served at that address,
// whose files are found by their `url` as a static web server finds them (served_path.h), and
// the chunk index and pack of every entry with a `delta` member are found by their addresses the
// same way and checked: their lengths and SHA-256 digests, the head and every record decoding,
// and the index describing a file of the entry's size.
#include <optional>
#include <string_view>

#include "chain_check.h"
#include "command_support.h"
#include "delta_files.h"
#include "manifest_checks.h"
#include "manifest_signing.h"
#include "platform/directory_walk.h"
#include "platform/file.h"
#include "progress_line.h"
#include "public_key_argument.h"
#include "release_commands.h"
#include "release_digests.h"
#include "release_files.h"
#include "release_text.h"
#include "rollout_description.h"
#include "state/listed_digest.h"
#include "update/fingerprint.h"
#include "served_path.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"
#include "update/signature_set.h"
#include "update/path_safety.h"

namespace velmora::release {
namespace {

struct FolderResult {
  std::size_t checked = 0;
  std::size_t matching = 0;
  std::vector<std::string> lines;  // "missing  \Bin\x.dll", ...
};

constexpr std::int64_t kSecondsPerDay = 86400;

// How the file's bytes differ from what the entry says, or empty text when they match: its md5
// (in either letter case, as the updater compares), and its size and sha256 when the entry gives
// them.
std::string Mismatch(const ManifestRecord& record, const FileDigests& digests) {
  std::string mismatch;
  const auto add = [&mismatch](const std::string& text) { mismatch += (mismatch.empty() ? ": " : "; ") + text; };
  const state::ListedMd5 expected(Utf8Of(record.md5));
  if (!expected.Names(digests.md5)) {
    add("its md5 is " + digests.md5 + ", the manifest says " + (expected.Listed() ? expected.Text() : "nothing"));
  }
  if (record.size && digests.bytesRead != *record.size) {
    add("it has " + DescribeBytes(digests.bytesRead) + ", the manifest says " + std::to_string(*record.size));
  }
  if (record.sha256.present && !digests.sha256.empty() &&
      !state::ListedSha256(Utf8Of(record.sha256.text)).Names(digests.sha256)) {
    add("its sha256 is " + digests.sha256 + ", the manifest says " + Utf8Of(record.sha256.text));
  }
  return mismatch;
}

// Where the file of each entry is looked for: below DIR at the entry's `path` (a release folder, an
// installed copy), or with a base URL at the file a static server serving DIR there answers the
// entry's `url` with (a published tree).
struct FileLookup {
  const ManifestRecord* record = nullptr;
  std::string localPath;  // GBK; empty when there is no file to look at
  std::string shown;      // UTF-8: the entry's path, and in a served tree the file its url names
  std::string problem;    // UTF-8: why the url names no file (a served tree only)
};

std::vector<FileLookup> LookUpByPath(const ManifestRecords& records, const std::string& folder) {
  std::vector<FileLookup> lookups;
  for (const ManifestRecord& record : records.entries) {
    std::string gbk;
    if (GbkOf(record.path, gbk) && update::IsSafeInstallPath(gbk)) {
      lookups.push_back({&record, folder + gbk, Utf8Of(record.path), {}});
    }
  }
  return lookups;
}

std::vector<FileLookup> LookUpByUrl(const ManifestRecords& records, const std::string& folder,
                                    const std::string& baseUrl) {
  std::vector<FileLookup> lookups;
  for (const ManifestRecord& record : records.entries) {
    FileLookup lookup{&record, {}, Utf8Of(record.path), {}};
    const ServedPath served = ServedPathOf(Utf8Of(record.url), baseUrl);
    std::string gbk;
    if (!served.problem.empty()) {
      lookup.problem = "its url \"" + Utf8Of(record.url) + "\" " + served.problem;
    } else if (!GbkOf(served.relativePath, gbk)) {
      lookup.problem = "its url names " + Utf8Of(served.relativePath) + ", a name without a GBK form that no "
                       "published release holds";
    } else {
      lookup.localPath = folder + "\\" + gbk;
      std::u16string slashed = served.relativePath;
      for (char16_t& c : slashed) {
        if (c == u'\\') c = u'/';
      }
      lookup.shown += " (" + Utf8Of(slashed) + ")";
    }
    lookups.push_back(std::move(lookup));
  }
  return lookups;
}

// Hashes the file of every lookup that has one and compares it with its entry.
FolderResult CompareFolder(const std::vector<FileLookup>& lookups, bool quiet, ReleaseConsole& console) {
  std::vector<std::string> paths;
  bool withSha256 = false;
  for (const FileLookup& lookup : lookups) {
    if (!lookup.localPath.empty()) {
      paths.push_back(lookup.localPath);
      withSha256 = withSha256 || lookup.record->sha256.present;
    }
  }
  if (withSha256 && !Sha256Available()) {
    console.Err("velmora-release: note: this system's hash provider computes no SHA-256; sha256 not compared\n");
    withSha256 = false;
  }
  std::vector<FileDigests> prints;
  {
    // Sizes are not known before hashing: the line shows the bytes read so far.
    ProgressLine line(console, "hashing", paths.size(), 0, !quiet);
    update::FingerprintOptions options;
    options.progress = line.Reporter();
    prints = DigestFiles(paths, withSha256, options);
  }
  FolderResult result;
  result.checked = lookups.size();
  std::size_t next = 0;
  for (const FileLookup& lookup : lookups) {
    if (lookup.localPath.empty()) {
      result.lines.push_back("bad url   " + lookup.shown + ": " + lookup.problem);
      continue;
    }
    const FileDigests& digests = prints[next++];
    switch (digests.state) {
      case update::FileReadState::Missing:
        result.lines.push_back("missing   " + lookup.shown);
        break;
      case update::FileReadState::ReadFailed:
        result.lines.push_back("unreadable " + lookup.shown);
        break;
      case update::FileReadState::Read:
        if (const std::string mismatch = Mismatch(*lookup.record, digests); mismatch.empty()) {
          ++result.matching;
        } else {
          result.lines.push_back("differs   " + lookup.shown + mismatch);
        }
        break;
    }
  }
  return result;
}

// The chunk index and pack of an entry with a `delta` member, in a served tree.
struct DeltaLookup {
  const ManifestRecord* record = nullptr;
  DeltaMember delta;
  std::string indexPath;   // GBK; empty when the address names no file of the tree
  std::string packPath;
  std::string indexShown;  // UTF-8: the entry's path and the file the address names
  std::string packShown;
  std::vector<std::string> badUrls;  // UTF-8 lines
};

std::string Slashed(std::u16string path) {
  for (char16_t& c : path) {
    if (c == u'\\') c = u'/';
  }
  return Utf8Of(path);
}

// Where the address `url` leads in the tree served at `baseUrl`: the file's path (GBK), or empty
// text with a "bad url" line added.
std::string ServedFile(const ManifestRecord& record, const std::string& what, const std::string& url,
                       const std::string& folder, const std::string& baseUrl, std::string& shown,
                       std::vector<std::string>& badUrls) {
  const ServedPath served = ServedPathOf(url, baseUrl);
  std::string gbk;
  if (!served.problem.empty()) {
    badUrls.push_back("bad url   " + Utf8Of(record.path) + ": its " + what + " url \"" + url + "\" " + served.problem);
    return {};
  }
  if (!GbkOf(served.relativePath, gbk)) {
    badUrls.push_back("bad url   " + Utf8Of(record.path) + ": its " + what + " url names " +
                      Utf8Of(served.relativePath) + ", a name without a GBK form that no published release holds");
    return {};
  }
  shown = Utf8Of(record.path) + " (" + Slashed(served.relativePath) + ")";
  return folder + "\\" + gbk;
}

// The line that reports the index at `lookup.indexPath` missing, unreadable or differing from what
// the entry's `delta` says; empty text when it matches.
std::string IndexLine(const DeltaLookup& lookup) {
  const DeltaMember& delta = lookup.delta;
  if (platform::FolderExists(lookup.indexPath)) return "unreadable " + lookup.indexShown + ": a folder";
  const std::int64_t length = platform::FileLength(lookup.indexPath);
  if (length < 0) return "missing   " + lookup.indexShown;
  if (static_cast<std::uint64_t>(length) != delta.indexSize) {
    return "differs   " + lookup.indexShown + ": it has " + DescribeBytes(static_cast<std::uint64_t>(length)) +
           ", the manifest says " + std::to_string(delta.indexSize);
  }
  std::string index;
  if (!ReadWholeFile(lookup.indexPath, index)) return "unreadable " + lookup.indexShown;
  std::string mismatch;
  const auto add = [&mismatch](const std::string& text) { mismatch += (mismatch.empty() ? ": " : "; ") + text; };
  const auto sha256 = [](std::string_view bytes) {
    return update::LowerCaseDigest(update::HashBytes(bytes, update::kCalgSha256, update::kSha256DigestLength));
  };
  if (const std::string digest = sha256(index); !digest.empty() && digest != delta.indexSha256) {
    add("its sha256 is " + digest + ", the manifest says " + delta.indexSha256);
  }
  const std::string_view head = std::string_view(index).substr(0, static_cast<std::size_t>(delta.headSize));
  if (const std::string digest = sha256(head); !digest.empty() && digest != delta.headSha256) {
    add("the sha256 of its first " + std::to_string(delta.headSize) + " bytes is " + digest +
        ", the manifest's headSha256 is " + delta.headSha256);
  }
  std::string problem;
  if (const std::optional<delta::IndexHead> decoded = DecodeWholeIndex(index, delta.headSize, problem); !decoded) {
    add(problem);
  } else {
    if (lookup.record->size && decoded->fileLength != *lookup.record->size) {
      add("it describes a file of " + std::to_string(decoded->fileLength) + " bytes, the entry's size is " +
          std::to_string(*lookup.record->size));
    }
    if (decoded->packLength != delta.packSize) {
      add("it describes a pack of " + std::to_string(decoded->packLength) + " bytes, the manifest's packSize is " +
          std::to_string(delta.packSize));
    }
  }
  return mismatch.empty() ? std::string() : "differs   " + lookup.indexShown + mismatch;
}

struct DeltaResult {
  std::size_t checked = 0;
  std::size_t matching = 0;
  std::vector<std::string> lines;
};

// Checks the chunk index and pack of every entry whose `delta` member the updater would use, in
// the tree `folder` served at `baseUrl`.
DeltaResult CompareDeltas(const ManifestRecords& records, const std::string& folder, const std::string& baseUrl,
                          bool quiet, ReleaseConsole& console) {
  std::vector<DeltaLookup> lookups;
  for (const ManifestRecord& record : records.entries) {
    std::string problem;
    const std::optional<DeltaMember> delta = DeltaOf(record, problem);
    if (!delta) continue;
    DeltaLookup lookup{&record, *delta, {}, {}, {}, {}, {}};
    lookup.indexPath = ServedFile(record, "chunk index", delta->indexUrl, folder, baseUrl, lookup.indexShown,
                                  lookup.badUrls);
    lookup.packPath = ServedFile(record, "pack", delta->packUrl, folder, baseUrl, lookup.packShown, lookup.badUrls);
    lookups.push_back(std::move(lookup));
  }
  std::vector<std::string> packPaths;
  for (const DeltaLookup& lookup : lookups) {
    if (!lookup.packPath.empty()) packPaths.push_back(lookup.packPath);
  }
  std::vector<FileDigests> packs;
  if (!packPaths.empty()) {
    ProgressLine progress(console, "hashing packs", packPaths.size(), 0, !quiet);
    update::FingerprintOptions options;
    options.progress = progress.Reporter();
    packs = DigestFiles(packPaths, Sha256Available(), options);
  }
  DeltaResult result;
  result.checked = lookups.size();
  std::size_t nextPack = 0;
  for (const DeltaLookup& lookup : lookups) {
    std::vector<std::string> lines = lookup.badUrls;
    if (std::string line = lookup.indexPath.empty() ? std::string() : IndexLine(lookup); !line.empty()) {
      lines.push_back(std::move(line));
    }
    if (!lookup.packPath.empty()) {
      const FileDigests& pack = packs[nextPack++];
      std::string mismatch;
      if (pack.state == update::FileReadState::Read && pack.bytesRead != lookup.delta.packSize) {
        mismatch = ": it has " + DescribeBytes(pack.bytesRead) + ", the manifest says " +
                   std::to_string(lookup.delta.packSize);
      } else if (pack.state == update::FileReadState::Read && !pack.sha256.empty() &&
                 pack.sha256 != lookup.delta.packSha256) {
        mismatch = ": its sha256 is " + pack.sha256 + ", the manifest says " + lookup.delta.packSha256;
      }
      if (pack.state == update::FileReadState::Missing) {
        lines.push_back("missing   " + lookup.packShown);
      } else if (pack.state == update::FileReadState::ReadFailed) {
        lines.push_back("unreadable " + lookup.packShown);
      } else if (!mismatch.empty()) {
        lines.push_back("differs   " + lookup.packShown + mismatch);
      }
    }
    if (lines.empty()) ++result.matching;
    for (std::string& line : lines) result.lines.push_back(std::move(line));
  }
  return result;
}

// "in 29 days", "2 days ago", "in less than a day".
std::string FromNow(std::int64_t when, std::int64_t now) {
  const std::int64_t days = (when > now ? when - now : now - when) / kSecondsPerDay;
  if (days == 0) return when > now ? "in less than a day" : "less than a day ago";
  const std::string count = CountOf(static_cast<std::uint64_t>(days), "day", "days");
  return when > now ? "in " + count : count + " ago";
}

// The problems of the manifest's authenticity and age, and a line on what it carries: its
// signature checked against `publicKey` when given, `serial` and `expires` required with a key
// (an updater with a key refuses a manifest without them), and an expiry that has passed.
std::vector<ManifestProblem> CheckAuthenticity(const ManifestRecords& records, const std::string& manifestBytes,
                                               const std::string& signaturePath, const std::string& signatureShown,
                                               const std::optional<std::string>& publicKey, bool handOff,
                                               std::string& summary) {
  std::vector<ManifestProblem> problems;
  const auto whole = [&problems](std::string message) { problems.push_back({-1, std::move(message)}); };
  if (publicKey) {
    std::string signatureText;
    if (platform::FileLength(signaturePath) < 0) {
      whole("the signature " + signatureShown + " is missing; an updater built with a key refuses the manifest "
            "(\"UpData签名错误\")");
    } else if (!ReadWholeFile(signaturePath, signatureText) || !update::ParseSignatureFile(signatureText) ||
               update::ParseSignatureFile(signatureText)->empty()) {
      whole("the signature " + signatureShown + " is not a signature (the Base64 of 64 bytes, or lines of a key id "
            "and that); the updater refuses the manifest (\"UpData签名错误\")");
    } else if (!HasSignatureBy(*publicKey, manifestBytes, signatureText)) {
      whole("the signature " + signatureShown + " does not match: the manifest changed after it was signed, or "
            "another key signed it; the updater refuses the manifest (\"UpData签名错误\")");
    } else {
      summary += "signature " + signatureShown + " matches the public key\n";
    }
    if (!records.serial.present || !records.expires.present) {
      whole("`serial` or `expires` is missing; an updater built with a key refuses the manifest without both");
    }
  }
  const std::optional<std::int64_t> serial = SerialOf(records);
  const std::optional<std::int64_t> expires = ExpiryOf(records);
  const std::int64_t now = update::UtcSecondsNow();
  if (expires && *expires <= now && !handOff) {
    whole("`expires` " + update::FormatUtcTime(*expires) + " has passed (" + FromNow(*expires, now) +
          "): every updater refuses the manifest (\"UpData已过期\")");
  }
  if (serial) summary += "serial " + std::to_string(*serial) + "\n";
  if (expires && (*expires > now || handOff)) {
    summary += "expires " + update::FormatUtcTime(*expires) + " (" + FromNow(*expires, now) + ")" +
               (handOff ? ", not checked for a hand-off file" : "") + "\n";
  }
  return problems;
}

}  // namespace

int RunVerifyCommand(const CommandLine& line, ReleaseConsole& console) {
  if (line.operands.size() == 1) {
    if (line.values.count("public-key") != 0 || line.values.count("base-url") != 0 || line.flags.count("handoff")) {
      return UsageError(console, line.command, "verify SITE takes --root only; a manifest: verify MANIFEST DIR");
    }
    return RunChainCheck(line, console);
  }
  if (line.values.count("root") != 0) {
    return UsageError(console, line.command, "--root is for verify SITE; with a manifest give --public-key");
  }
  const std::string& manifestOperand = line.operands[0];
  const std::string& folderOperand = line.operands[1];
  std::string manifestPath;
  std::string folder;
  std::string error;
  if (!PathArgument(manifestOperand, manifestPath, error) || !PathArgument(folderOperand, folder, error)) {
    return UsageError(console, line.command, error);
  }
  const bool handOff = line.flags.count("handoff") != 0;
  std::optional<std::string> publicKey;
  if (const auto key = line.values.find("public-key"); key != line.values.end()) {
    if (handOff) return UsageError(console, line.command, "a hand-off file is not signed: --public-key and --handoff");
    publicKey = PublicKeyArgument("--public-key", key->second, false, error);
    if (!publicKey) return UsageError(console, line.command, error);
  }
  std::string baseUrl;
  if (line.values.count("base-url") != 0) {
    int status = kExitSuccess;
    if (!BaseUrlArgument(line, console, baseUrl, status)) return status;
  }
  if (!platform::FolderExists(folder)) return UsageError(console, line.command, "no such folder: " + folderOperand);
  if (platform::FolderExists(manifestPath)) {
    return UsageError(console, line.command, manifestOperand + " is a folder, not a manifest");
  }
  std::string bytes;
  if (!ReadWholeFile(manifestPath, bytes)) {
    return UsageError(console, line.command, "cannot read the manifest " + manifestOperand);
  }
  const ManifestEncoding encoding = handOff ? ManifestEncoding::Gbk : ManifestEncoding::Utf8;
  const ManifestRecords records = ReadManifestText(bytes, encoding);
  if (!records.notes.empty()) console.Err("velmora-release: note: " + manifestOperand + ": " + records.notes + "\n");
  if (!records.parsed) return Failure(console, manifestOperand + ": " + records.error);

  const std::string signaturePath = manifestPath + update::kSignatureSuffix;
  const std::string signatureShown = manifestOperand + update::kSignatureSuffix;
  if (!publicKey && !handOff && platform::FileLength(signaturePath) >= 0) {
    console.Err("velmora-release: note: " + signatureShown + " was not checked (give --public-key)\n");
  }
  std::string summary;
  std::vector<ManifestProblem> problems =
      CheckAuthenticity(records, bytes, signaturePath, signatureShown, publicKey, handOff, summary);
  if (const std::string staging = DescribeChannelAndRollout(records); !staging.empty()) {
    // The product writes the hand-off file for its own machine: the updater follows no channel
    // or rollout in it.
    summary += staging + (handOff ? "(the updater ignores the channel and the rollout of a hand-off file)\n" : "");
  }
  for (ManifestProblem& problem : CheckManifest(records)) problems.push_back(std::move(problem));
  std::string report;
  for (const ManifestProblem& problem : problems) report += "problem   " + problem.message + "\n";
  console.Out(report);
  const std::vector<FileLookup> lookups =
      baseUrl.empty() ? LookUpByPath(records, folder) : LookUpByUrl(records, folder, baseUrl);
  const FolderResult result = CompareFolder(lookups, line.flags.count("quiet") != 0, console);
  // Chunk indexes and packs lie in a published tree only; a release folder or an installed copy
  // has none.
  DeltaResult deltas;
  std::size_t deltaEntries = 0;
  if (!baseUrl.empty()) {
    deltas = CompareDeltas(records, folder, baseUrl, line.flags.count("quiet") != 0, console);
  } else {
    for (const ManifestRecord& record : records.entries) {
      std::string problem;
      deltaEntries += DeltaOf(record, problem) ? 1 : 0;
    }
  }
  report = summary;
  for (const std::string& text : result.lines) report += text + "\n";
  for (const std::string& text : deltas.lines) report += text + "\n";
  const std::size_t unchecked = records.entries.size() - result.checked;
  report += CountOf(problems.size(), "problem", "problems") + " in the manifest; " +
            CountOf(result.checked, "file", "files") + " checked in " + folderOperand +
            (baseUrl.empty() ? "" : " as served at " + baseUrl) + ": " +
            std::to_string(result.matching) + " match, " +
            std::to_string(result.checked - result.matching) + " missing or differing" +
            (unchecked > 0 ? "; " + CountOf(unchecked, "entry", "entries") + " not checked (unusable path)" : "");
  if (deltas.checked > 0) {
    report += "; chunk index and pack of " + CountOf(deltas.checked, "file", "files") + ": " +
              std::to_string(deltas.matching) + " match, " + std::to_string(deltas.checked - deltas.matching) +
              " missing or differing";
  } else if (deltaEntries > 0) {
    report += "; " + CountOf(deltaEntries, "chunk index", "chunk indexes") +
              " not checked (they lie in a published tree: give it with --base-url)";
  }
  console.Out(report + "\n");
  return problems.empty() && result.matching == records.entries.size() && deltas.matching == deltas.checked
             ? kExitSuccess
             : kExitFailed;
}

}  // namespace velmora::release
