// velmora-release manifest RELEASE_DIR --base-url URL --run FILE [--out FILE] [--handoff]
//                          [--content-addressed]
#include "command_support.h"
#include "release_commands.h"
#include "release_files.h"
#include "release_text.h"

namespace velmora::release {

int RunManifestCommand(const CommandLine& line, ReleaseConsole& console) {
  int status = kExitSuccess;
  std::string baseUrl;
  if (!BaseUrlArgument(line, console, baseUrl, status)) return status;
  std::string outPath;
  const auto out = line.values.find("out");
  if (out != line.values.end()) {
    std::string error;
    if (!PathArgument(out->second, outPath, error)) return UsageError(console, line.command, error);
  }
  ReleaseFolder folder;
  if (!ListReleaseArgument(line.command, line.operands[0], console, folder, status)) return status;
  const std::string& run = line.values.at("run");
  if (FindRunFile(folder, run) == nullptr) {
    return UsageError(console, line.command, "--run \"" + run + "\" names no file of " + line.operands[0]);
  }

  HashedRelease release;
  if (!HashReleaseFolder(std::move(folder), line, console, release, status)) return status;
  const UrlLayout layout = line.flags.count("content-addressed") != 0 ? UrlLayout::ContentAddressed : UrlLayout::ByPath;
  const ManifestEncoding encoding = line.flags.count("handoff") != 0 ? ManifestEncoding::Gbk : ManifestEncoding::Utf8;
  const std::string bytes = WriteManifest(ManifestOf(release, *FindRunFile(release.folder, run), baseUrl, layout), encoding);

  if (outPath.empty()) {
    console.Out(bytes);
    return kExitSuccess;
  }
  std::string error;
  if (!WriteFileReplacing(outPath, bytes, error)) return Failure(console, error);
  std::uint64_t total = 0;
  for (const ReleaseFile& file : release.folder.files) total += file.size;
  console.Out("wrote " + out->second + ": " + CountOf(release.folder.files.size(), "file", "files") + ", " +
              DescribeBytes(total) + (encoding == ManifestEncoding::Gbk ? ", GBK" : ", UTF-8") + "\n");
  return kExitSuccess;
}

}  // namespace velmora::release
