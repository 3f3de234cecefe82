#include "release_commands.h"

#include "command_support.h"

namespace velmora::release {

int RunRelease(const std::vector<std::string>& arguments, ReleaseConsole& console) {
  const CommandLine line = ParseCommandLine(arguments);
  if (line.help) {
    console.Out(HelpText(line.command));
    return kExitSuccess;
  }
  if (!line.error.empty()) return UsageError(console, line.command, line.error);
  if (line.command == "manifest") return RunManifestCommand(line, console);
  if (line.command == "publish") return RunPublishCommand(line, console);
  if (line.command == "rollout") return RunRolloutCommand(line, console);
  if (line.command == "verify") return RunVerifyCommand(line, console);
  if (line.command == "keygen") return RunKeygenCommand(line, console);
  if (line.command == "root") return RunRootCommand(line, console);
  if (line.command == "sign") return RunSignCommand(line, console);
  if (line.command == "upload") return RunUploadCommand(line, console);
  if (line.command == "pubkey") return RunPubkeyCommand(line, console);
  return RunDiffCommand(line, console);
}

}  // namespace velmora::release
