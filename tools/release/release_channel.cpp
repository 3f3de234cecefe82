#include "release_channel.h"

#include "command_support.h"
#include "update/channel_name.h"
#include "update/manifest.h"

namespace velmora::release {

bool ChannelArgument(const CommandLine& line, ReleaseConsole& console, std::string& channel, int& exitStatus) {
  channel.clear();
  const auto option = line.values.find("channel");
  if (option == line.values.end()) return true;
  if (!update::IsChannelName(option->second)) {
    exitStatus = UsageError(console, line.command,
                            "invalid --channel \"" + option->second +
                                "\": a channel name is 1 to 16 lower-case letters (a-z) and digits, beginning with a "
                                "letter (\"beta\", \"rc2\"); \"default\" names the default channel");
    return false;
  }
  channel = option->second;
  return true;
}

bool IsDefaultChannel(const std::string& channel) { return channel.empty() || channel == kDefaultChannelName; }

std::string ChannelLabel(const std::string& channel) {
  return IsDefaultChannel(channel) ? std::string("the default channel") : "the channel " + channel;
}

std::string ChannelManifestPath(const std::string& channel) {
  const std::string path = update::kManifestPath;
  if (IsDefaultChannel(channel)) return path;
  const std::size_t name = path.rfind('/') + 1;
  return path.substr(0, name) + channel + "/" + path.substr(name);
}

std::string ChannelManifestFile(const std::string& channel) {
  std::string file = ChannelManifestPath(channel);
  for (char& c : file) {
    if (c == '/') c = '\\';
  }
  return file;
}

}  // namespace velmora::release
