#include "update/channel.h"

#include "platform/file.h"
#include "update/channel_name.h"
#include "update/durable_file.h"
#include "update/manifest.h"
#include "update/state_paths.h"

namespace velmora::update {
namespace {

// Empty for the default channel; nothing when `name` is no channel name at all.
std::optional<std::string> ChannelOf(const std::string& name) {
  if (name == kDefaultChannelName) return std::string();
  if (IsChannelName(name)) return name;
  return std::nullopt;
}

std::string RememberedChannel(const std::string& runDirectory) {
  const std::optional<std::string> kept = ReadSmallFile(runDirectory + kChannelPath, 1024);
  if (!kept) return {};
  std::string name = *kept;
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' ')) name.pop_back();
  return ChannelOf(name).value_or(std::string());
}

void RememberChannel(const std::string& runDirectory, const std::string& channel) {
  const std::string path = runDirectory + kChannelPath;
  if (channel.empty()) {
    platform::RemoveFile(path);
    return;
  }
  platform::CreateDirectoryAt(runDirectory + "\\Bin");
  platform::CreateDirectoryAt(runDirectory + "\\Bin\\Config");
  WriteFileDurably(path, channel + "\n");
}

}  // namespace

std::string ManifestPathFor(const std::string& channel) {
  if (channel.empty()) return kManifestPath;
  return "/download/2099/pro/" + channel + "/up.txt";
}

ChannelChoice ChooseChannel(const std::optional<std::string>& policy, const std::optional<std::string>& option,
                            const std::string& runDirectory) {
  ChannelChoice choice;
  if (policy) {
    choice.source = "policy";
    const std::optional<std::string> channel = ChannelOf(*policy);
    if (!channel) choice.error = "the policy's Channel is not a channel name";
    choice.channel = channel.value_or(std::string());
    return choice;
  }
  if (option) {
    choice.source = "option";
    const std::optional<std::string> channel = ChannelOf(*option);
    if (!channel) {
      choice.error = "--channel needs a channel name: lower-case letters and digits, 1 to 16, a letter first";
      return choice;
    }
    choice.channel = *channel;
    RememberChannel(runDirectory, choice.channel);
    return choice;
  }
  choice.channel = RememberedChannel(runDirectory);
  choice.source = choice.channel.empty() ? "default" : "remembered";
  return choice;
}

}  // namespace velmora::update
