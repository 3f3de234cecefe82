#include "command_support.h"

#include "release_digests.h"
#include "release_files.h"
#include "release_urls.h"

namespace velmora::release {

int UsageError(ReleaseConsole& console, const std::string& command, const std::string& message) {
  console.Err("velmora-release: " + message + "\n");
  console.Err("Try \"velmora-release " + (command.empty() || command == "help" ? std::string() : command + " ") +
              "--help\".\n");
  return kExitUsage;
}

int Failure(ReleaseConsole& console, const std::string& message) {
  console.Err("velmora-release: " + message + "\n");
  return kExitFailed;
}

int Failures(ReleaseConsole& console, const std::string& heading, const std::vector<std::string>& messages) {
  std::string text = "velmora-release: " + heading + "\n";
  for (const std::string& message : messages) text += "  " + message + "\n";
  console.Err(text);
  return kExitFailed;
}

bool ListReleaseArgument(const std::string& command, const std::string& operand, ReleaseConsole& console,
                         ReleaseFolder& folder, int& exitStatus) {
  std::string gbk;
  std::string error;
  if (!PathArgument(operand, gbk, error)) {
    exitStatus = UsageError(console, command, error);
    return false;
  }
  folder = ListReleaseFolder(gbk);
  if (!folder.found) {
    exitStatus = UsageError(console, command, "no such folder: " + operand);
    return false;
  }
  if (!folder.problems.empty()) {
    exitStatus = Failures(console, operand + " cannot be published as it is:", folder.problems);
    return false;
  }
  if (folder.files.empty()) {
    exitStatus = Failure(console, operand + " holds no files");
    return false;
  }
  for (const std::string& warning : folder.warnings) console.Err("velmora-release: warning: " + warning + "\n");
  return true;
}

bool BaseUrlArgument(const CommandLine& line, ReleaseConsole& console, std::string& baseUrl, int& exitStatus) {
  baseUrl = line.values.at("base-url");
  const std::string problem = BaseUrlProblem(baseUrl);
  if (!problem.empty()) {
    exitStatus = UsageError(console, line.command, "invalid --base-url \"" + baseUrl + "\": " + problem);
    return false;
  }
  return true;
}

bool HashReleaseFolder(ReleaseFolder folder, const CommandLine& line, ReleaseConsole& console, bool withSha256,
                       HashedRelease& release, int& exitStatus) {
  if (withSha256 && !Sha256Available()) {
    // Written as before the member existed, rather than not at all: updaters check md5 and size.
    console.Err("velmora-release: note: this system's hash provider computes no SHA-256; the manifest lists no "
                "sha256\n");
    withSha256 = false;
  }
  release = HashRelease(std::move(folder), console, line.flags.count("quiet") != 0, withSha256);
  if (!release.errors.empty()) {
    exitStatus = Failures(console, "some files could not be read:", release.errors);
    return false;
  }
  return true;
}

}  // namespace velmora::release
