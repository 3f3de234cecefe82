// Channels on the publisher's side (docs/rollouts.md): the default channel's manifest is
// download/2099/pro/up.txt, a named channel NAME's is download/2099/pro/NAME/up.txt. Every channel
// shares the files' tree (files/<md5>/<name>), so publishing to one never takes away a file that
// another channel's manifest lists: publish only ever adds files. A manifest published with
// --channel names its channel ("channel":"beta", "channel":"default"), and the updater takes it
// on that channel only.
#pragma once

#include <string>

#include "command_line.h"
#include "release_console.h"

namespace velmora::release {

// The name that stands for the default channel on the command line.
inline constexpr char kDefaultChannelName[] = "default";

// The channel that --channel names, as given ("beta", "default"); empty text without the option
// (the default channel, and a manifest that names none, as before channels). A name that breaks
// the rule of update/channel_name.h is a usage error: `exitStatus` is set and false returned.
bool ChannelArgument(const CommandLine& line, ReleaseConsole& console, std::string& channel, int& exitStatus);

// True for the default channel: no name, or "default".
bool IsDefaultChannel(const std::string& channel);

// Where the updater asks for the manifest of `channel`, as an address path:
// "/download/2099/pro/up.txt" (the default channel), "/download/2099/pro/beta/up.txt".
std::string ChannelManifestPath(const std::string& channel);

// The same path below a published tree, as the program's path text: "\download\2099\pro\beta\up.txt"
// (ASCII, so the same in GBK and UTF-8), to be appended to OUT_DIR.
std::string ChannelManifestFile(const std::string& channel);

// "the default channel", "the channel beta".
std::string ChannelLabel(const std::string& channel);

}  // namespace velmora::release
