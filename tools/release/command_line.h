// The command line of velmora-release: a subcommand, its operands and its options.
//
//   velmora-release manifest RELEASE_DIR --base-url URL --run FILE [--out FILE] [--handoff]
//                            [--content-addressed] [--key KEY_FILE]... [--serial N] [--expires TIME]
//                            [--quiet]
//   velmora-release publish RELEASE_DIR OUT_DIR --base-url URL --run FILE [--key KEY_FILE]...
//                           [--serial N] [--expires TIME] [--channel NAME] [--rollout PERCENT]
//                           [--mirror URL]... [--unsigned] [--quiet]
//   velmora-release rollout SITE --percent PERCENT --key KEY_FILE... [--channel NAME]
//                           [--expires TIME] [--quiet]
//   velmora-release upload SITE DESTINATION [--rclone PROGRAM] [--public-key TEXT_OR_FILE] [--quiet]
//   velmora-release verify MANIFEST DIR [--handoff] [--public-key TEXT_OR_FILE] [--quiet]
//   velmora-release diff OLD NEW [--handoff] [--quiet]
//   velmora-release keygen --out KEY_FILE [--force] [--quiet]
//   velmora-release sign MANIFEST --key KEY_FILE... [--quiet]
//   velmora-release sign FILE --signature DER_FILE --public-key TEXT_OR_FILE [--quiet]
//   velmora-release root init|rotate --out FILE [--previous FILE] --root-key KEY... --root-threshold N
//                        --release-key KEY... --release-threshold N [--expires TIME] [--key KEY_FILE]...
//   velmora-release help [COMMAND]     velmora-release [COMMAND] --help
//
// Options take their value as the next argument or after "=" ("--run App.exe", "--run=App.exe");
// "--" ends the options.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace velmora::release {

struct CommandLine {
  std::string command;                        // "manifest", "publish", "rollout", "verify", "diff", "keygen",
                                              // "sign", "help"
  std::vector<std::string> operands;          // UTF-8, in order
  std::map<std::string, std::string> values;  // "base-url" -> "https://...", "run", "out", "key", ...
  std::map<std::string, std::vector<std::string>> repeated;  // every value of each option, in order
                                              // (--key may be given more than once)
  std::set<std::string> flags;                // "handoff", "content-addressed", "force", "quiet"
  bool help = false;                          // help asked for (`command` says about what; may be empty)
  std::string error;                          // a usage error, UTF-8; empty when the line is usable
};

// Reads the arguments after the program's name (UTF-8).
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The help text of `command`, or of the program when it is empty or unknown. Ends with "\n".
std::string HelpText(const std::string& command);

// Exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailed = 1;  // a check that failed, a release that cannot be published
inline constexpr int kExitUsage = 2;   // a command line that cannot be run

}  // namespace velmora::release
