// velmora-release's subcommands, run from a command line (UTF-8 arguments after the program's
// name). Results go to the console's standard output, errors and progress to its standard error.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"
#include "release_console.h"

namespace velmora::release {

// Runs the command line; returns the exit status (kExitSuccess, kExitFailed, kExitUsage).
int RunRelease(const std::vector<std::string>& arguments, ReleaseConsole& console);

// The subcommands, for a command line that parsed.
int RunManifestCommand(const CommandLine& line, ReleaseConsole& console);
int RunPublishCommand(const CommandLine& line, ReleaseConsole& console);
int RunRolloutCommand(const CommandLine& line, ReleaseConsole& console);
int RunVerifyCommand(const CommandLine& line, ReleaseConsole& console);
int RunDiffCommand(const CommandLine& line, ReleaseConsole& console);
int RunKeygenCommand(const CommandLine& line, ReleaseConsole& console);
int RunSignCommand(const CommandLine& line, ReleaseConsole& console);
int RunRootCommand(const CommandLine& line, ReleaseConsole& console);
int RunUploadCommand(const CommandLine& line, ReleaseConsole& console);
int RunPubkeyCommand(const CommandLine& line, ReleaseConsole& console);

}  // namespace velmora::release
