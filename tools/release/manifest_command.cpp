// velmora-release manifest RELEASE_DIR --base-url URL --run FILE [--out FILE] [--handoff]
//                          [--content-addressed] [--key KEY_FILE] [--serial N] [--expires TIME]
#include "command_support.h"
#include "manifest_signing.h"
#include "release_commands.h"
#include "release_files.h"
#include "release_text.h"
#include "signing_arguments.h"

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
  const ManifestEncoding encoding = line.flags.count("handoff") != 0 ? ManifestEncoding::Gbk : ManifestEncoding::Utf8;
  if (line.values.count("key") != 0) {
    // The product writes the hand-off file on the user's machine; updaters never ask for its signature.
    if (encoding == ManifestEncoding::Gbk) {
      return UsageError(console, line.command, "--key signs the server's manifest; the hand-off file is not signed");
    }
    if (outPath.empty()) return UsageError(console, line.command, "--key needs --out (the signature goes beside it)");
  }
  SigningArguments signing;
  if (!ReadSigningArguments(line, console, signing, status)) return status;
  ReleaseFolder folder;
  if (!ListReleaseArgument(line.command, line.operands[0], console, folder, status)) return status;
  const std::string& run = line.values.at("run");
  if (FindRunFile(folder, run) == nullptr) {
    return UsageError(console, line.command, "--run \"" + run + "\" names no file of " + line.operands[0]);
  }

  HashedRelease release;
  if (!HashReleaseFolder(std::move(folder), line, console, true, release, status)) return status;
  const UrlLayout layout = line.flags.count("content-addressed") != 0 ? UrlLayout::ContentAddressed : UrlLayout::ByPath;
  ManifestContent content = ManifestOf(release, *FindRunFile(release.folder, run), baseUrl, layout);
  content.serial = signing.serial;
  content.expires = signing.expires;
  const std::string bytes = WriteManifest(content, encoding);

  if (outPath.empty()) {
    console.Out(bytes);
    return kExitSuccess;
  }
  std::optional<std::string> signatureText;
  std::string error;
  if (signing.privateKey) {
    signatureText.emplace();
    if (!SignManifestBytes(signing.privateKeys, bytes, *signatureText, error)) return Failure(console, error);
  }
  SignatureFileChange change = SignatureFileChange::None;
  if (!CreateParentFolder(outPath, error) || !WriteManifestFiles(outPath, bytes, signatureText, change, error)) return Failure(console, error);
  std::uint64_t total = 0;
  for (const ReleaseFile& file : release.folder.files) total += file.size;
  std::string report = "wrote " + out->second + ": " + CountOf(release.folder.files.size(), "file", "files") + ", " +
                       DescribeBytes(total) + (encoding == ManifestEncoding::Gbk ? ", GBK" : ", UTF-8") + "\n";
  report += DescribeSigning(out->second, content, change);
  console.Out(report);
  return kExitSuccess;
}

}  // namespace velmora::release
