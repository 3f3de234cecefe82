#include "app/update_route.h"

#include "app/command_line.h"
#include "notify/task_notice.h"
#include "platform/file.h"
#include "platform/random_bytes.h"
#include "text/encoding.h"
#include "update/run_log.h"

namespace velmora::app {
namespace {

// A name that no other run uses at the same moment: two copies probing at once never remove each
// other's file.
std::string ProbeFileName(const std::string& runDirectory) {
  std::uint8_t bytes[4] = {};
  platform::FillRandomBytes(bytes, sizeof bytes);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = runDirectory + "\\Bin\\Config\\write-probe-";
  for (const std::uint8_t b : bytes) {
    name += kHex[b >> 4];
    name += kHex[b & 15];
  }
  return name + ".velmora-probe";
}

const char* RouteName(UpdateRoute route) {
  switch (route) {
    case UpdateRoute::Here: return "here";
    case UpdateRoute::ThroughService: return "through the update service";
    case UpdateRoute::StartedElevated: return "started again elevated";
    case UpdateRoute::NeedsElevation: return "needs elevation";
  }
  return "unknown";
}

}  // namespace

UpdateRoute RouteFor(const RouteFacts& facts) {
  if (facts.withWindow && facts.serviceInstalled) return UpdateRoute::ThroughService;
  if (facts.canWrite) return UpdateRoute::Here;
  if (facts.serviceInstalled) return UpdateRoute::ThroughService;
  // Nobody could answer a prompt in a quiet run; a copy that is elevated already and still
  // cannot write would only start itself again and again.
  if (!facts.withWindow || facts.alreadyElevated) return UpdateRoute::NeedsElevation;
  return UpdateRoute::StartedElevated;
}

std::string ElevatedParameters(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (argument == kElevatedOption) continue;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      backslashes = 0;
      quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    line += quoted + "\" ";
  }
  return line + kElevatedOption;
}

UpdateRoute ChooseUpdateRoute(bool withWindow, bool alreadyElevated, const std::string& runDirectory,
                              const std::string& executablePath, const std::vector<std::string>& arguments,
                              platform::MachineServices& services) {
  RouteFacts facts;
  facts.withWindow = withWindow;
  facts.alreadyElevated = alreadyElevated;
  platform::CreateDirectoryAt(runDirectory + "\\Bin");
  platform::CreateDirectoryAt(runDirectory + "\\Bin\\Config");
  facts.canWrite = services.CanCreateFile(ProbeFileName(runDirectory));
  facts.serviceInstalled = services.ServiceInstalledFor(executablePath);
  UpdateRoute route = RouteFor(facts);
  if (route == UpdateRoute::StartedElevated && !services.StartElevated(executablePath, ElevatedParameters(arguments))) {
    update::AppendToRunLog(runDirectory, "the elevated start was declined or failed");
    route = UpdateRoute::NeedsElevation;
  }
  if (route != UpdateRoute::Here) {
    update::AppendToRunLog(runDirectory, std::string("route: ") + RouteName(route) + " (the folder is " +
                                           (facts.canWrite ? "" : "not ") + "writable, the update service is " +
                                           (facts.serviceInstalled ? "" : "not ") + "installed for this updater)");
  }
  if (route == UpdateRoute::NeedsElevation) {
    notify::ShowNotice(notify::kFailureNoticeKind, text::Utf8ToNarrow("更新失败"), text::Utf8ToNarrow("需要管理员权限才能更新"));
  }
  return route;
}

}  // namespace velmora::app
