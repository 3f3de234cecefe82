// What the subcommands share: how errors are reported, and the steps from a release folder named
// on the command line to its hashed files.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"
#include "hashed_release.h"
#include "release_console.h"

namespace velmora::release {

// "velmora-release: <message>" and a hint at --help on standard error; returns kExitUsage.
int UsageError(ReleaseConsole& console, const std::string& command, const std::string& message);

// "velmora-release: <message>" on standard error; returns kExitFailed.
int Failure(ReleaseConsole& console, const std::string& message);

// Each of `messages` as "  <message>" under "velmora-release: <heading>"; returns kExitFailed.
int Failures(ReleaseConsole& console, const std::string& heading, const std::vector<std::string>& messages);

// The release folder named by `operand` (UTF-8), listed. A folder that cannot be named in GBK or
// does not exist is a usage error, a listing with problems a failure: `exitStatus` is then set
// and false returned.
bool ListReleaseArgument(const std::string& command, const std::string& operand, ReleaseConsole& console,
                         ReleaseFolder& folder, int& exitStatus);

// The base URL option of `line`, checked; a usage error as above.
bool BaseUrlArgument(const CommandLine& line, ReleaseConsole& console, std::string& baseUrl, int& exitStatus);

// Hashes the listed release (SHA-256 too with `withSha256`); files that cannot be read completely
// are a failure as above.
bool HashReleaseFolder(ReleaseFolder folder, const CommandLine& line, ReleaseConsole& console, bool withSha256,
                       HashedRelease& release, int& exitStatus);

}  // namespace velmora::release
