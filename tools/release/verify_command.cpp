// velmora-release verify MANIFEST DIR [--handoff]
//
// First the manifest itself with the updater's rules (manifest_checks.h), then every listed file
// below DIR, hashed as the update check hashes it and compared byte for byte with its `md5`.
#include "command_support.h"
#include "manifest_checks.h"
#include "platform/directory_walk.h"
#include "progress_line.h"
#include "release_commands.h"
#include "release_files.h"
#include "release_text.h"
#include "update/file_fingerprints.h"
#include "update/path_safety.h"

namespace velmora::release {
namespace {

struct FolderResult {
  std::size_t checked = 0;
  std::size_t matching = 0;
  std::vector<std::string> lines;  // "missing  \Bin\x.dll", ...
};

// Hashes the entries whose path the updater would accept and compares them.
FolderResult CompareFolder(const ManifestRecords& records, const std::string& folder, bool quiet,
                           ReleaseConsole& console) {
  std::vector<const ManifestRecord*> checked;
  std::vector<std::string> paths;
  for (const ManifestRecord& record : records.entries) {
    std::string gbk;
    if (GbkOf(record.path, gbk) && update::IsSafeInstallPath(gbk)) {
      checked.push_back(&record);
      paths.push_back(folder + gbk);
    }
  }
  std::vector<update::FileFingerprint> prints;
  {
    // Sizes are not known before hashing: the line shows the bytes read so far.
    ProgressLine line(console, "hashing", paths.size(), 0, !quiet);
    update::FingerprintOptions options;
    options.progress = line.Reporter();
    prints = update::FingerprintFiles(paths, options);
  }
  FolderResult result;
  result.checked = checked.size();
  for (std::size_t i = 0; i < checked.size(); ++i) {
    const ManifestRecord& record = *checked[i];
    const std::string shown = Utf8Of(record.path);
    const std::string expected = Utf8Of(record.md5);
    switch (prints[i].state) {
      case update::FileReadState::Missing:
        result.lines.push_back("missing   " + shown);
        break;
      case update::FileReadState::ReadFailed:
        result.lines.push_back("unreadable " + shown);
        break;
      case update::FileReadState::Read:
        if (prints[i].md5 == expected) {
          ++result.matching;
        } else {
          result.lines.push_back("differs   " + shown + ": its md5 is " + prints[i].md5 + ", the manifest says " +
                                 (expected.empty() ? "nothing" : expected));
        }
        break;
    }
  }
  return result;
}

}  // namespace

int RunVerifyCommand(const CommandLine& line, ReleaseConsole& console) {
  const std::string& manifestOperand = line.operands[0];
  const std::string& folderOperand = line.operands[1];
  std::string manifestPath;
  std::string folder;
  std::string error;
  if (!PathArgument(manifestOperand, manifestPath, error) || !PathArgument(folderOperand, folder, error)) {
    return UsageError(console, line.command, error);
  }
  if (!platform::FolderExists(folder)) return UsageError(console, line.command, "no such folder: " + folderOperand);
  if (platform::FolderExists(manifestPath)) {
    return UsageError(console, line.command, manifestOperand + " is a folder, not a manifest");
  }
  std::string bytes;
  if (!ReadWholeFile(manifestPath, bytes)) {
    return UsageError(console, line.command, "cannot read the manifest " + manifestOperand);
  }
  const ManifestEncoding encoding = line.flags.count("handoff") != 0 ? ManifestEncoding::Gbk : ManifestEncoding::Utf8;
  const ManifestRecords records = ReadManifestText(bytes, encoding);
  if (!records.notes.empty()) console.Err("velmora-release: note: " + manifestOperand + ": " + records.notes + "\n");
  if (!records.parsed) return Failure(console, manifestOperand + ": " + records.error);

  const std::vector<ManifestProblem> problems = CheckManifest(records);
  std::string report;
  for (const ManifestProblem& problem : problems) report += "problem   " + problem.message + "\n";
  console.Out(report);
  const FolderResult result = CompareFolder(records, folder, line.flags.count("quiet") != 0, console);
  report.clear();
  for (const std::string& text : result.lines) report += text + "\n";
  const std::size_t unchecked = records.entries.size() - result.checked;
  report += CountOf(problems.size(), "problem", "problems") + " in the manifest; " +
            CountOf(result.checked, "file", "files") + " checked in " + folderOperand + ": " +
            std::to_string(result.matching) + " match, " +
            std::to_string(result.checked - result.matching) + " missing or differing" +
            (unchecked > 0 ? "; " + CountOf(unchecked, "entry", "entries") + " not checked (unusable path)" : "") + "\n";
  console.Out(report);
  return problems.empty() && result.matching == records.entries.size() ? kExitSuccess : kExitFailed;
}

}  // namespace velmora::release
