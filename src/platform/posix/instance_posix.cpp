// The single-instance guard's system on POSIX systems: named events live inside the process (a
// second process is not detected), and there are no other processes' windows to find.
#include "platform/instance.h"

#include <mutex>
#include <set>

#include "platform/processes.h"

namespace velmora::platform {
namespace {

class ProcessLocalInstanceServices final : public InstanceServices {
 public:
  bool NamedEventExists(const std::string& name) override {
    std::lock_guard lock(mutex_);
    return events_.count(name) != 0;
  }
  bool CreateNamedEvent(const std::string& name) override {
    std::lock_guard lock(mutex_);
    events_.insert(name);
    return true;
  }
  void ShowMessageBox(const std::string&, const std::string&, std::uint32_t) override {}
  std::string ExecutablePath() override { return platform::ExecutablePath(); }
  std::uint32_t CurrentProcessId() override { return platform::CurrentProcessId(); }
  std::uint32_t FindProcessByName(const std::string& exeFileName, std::uint32_t excludedProcessId) override {
    return platform::FindProcessByName(exeFileName, excludedProcessId);
  }
  WindowHandle FindTopWindowOfProcess(std::uint32_t, std::int32_t, bool) override { return 0; }
  bool IsWindowVisible(WindowHandle) override { return false; }
  void ShowWindowInPlace(WindowHandle) override {}
  bool IsMinimised(WindowHandle) override { return false; }
  void RestoreWindow(WindowHandle) override {}
  bool ActivateWindow(WindowHandle) override { return false; }
  void EndProcess(std::uint32_t exitCode) override { TerminateProcessWithCode(0, exitCode); }

 private:
  std::mutex mutex_;
  std::set<std::string> events_;
};

}  // namespace

InstanceServices& PlatformInstanceServices() {
  static ProcessLocalInstanceServices services;
  return services;
}

}  // namespace velmora::platform
