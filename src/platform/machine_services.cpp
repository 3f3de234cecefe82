#include "platform/machine_services.h"

#include "platform/file.h"
#include "platform/replaceable.h"
#include "platform/service_control.h"
#include "platform/shell.h"

namespace velmora::platform {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

class SystemMachineServices : public MachineServices {
 public:
  bool CanCreateFile(const std::string& path) override {
    OutputFile file;
    if (!file.Open(path, OutputFile::Mode::CreateOrTruncate, true)) return false;
    file.Close();
    // A file that could be made but not removed again still means the folder is not ours to
    // change as an update must (renames and removals); it is reported as not writable.
    return RemoveFile(path);
  }

  bool ServiceInstalledFor(const std::string& executablePath) override {
    const std::optional<std::string> program = UpdateServiceExecutable();
    return program && !executablePath.empty() && EqualIgnoringAsciiCase(*program, executablePath);
  }

  bool StartElevated(const std::string& file, const std::string& parameters) override {
    return RunElevatedProgram(file, parameters);
  }

  std::unique_ptr<PipeConnection> ConnectToServicePipe(std::uint32_t waitMs) override {
    return platform::ConnectToServicePipe(waitMs);
  }
  bool StartUpdateService(std::string& error) override { return platform::StartUpdateService(error); }
  UpdateServiceStatus QueryUpdateServiceStatus() override { return platform::QueryUpdateServiceStatus(); }
  ProcessIdentity DescribeProcess(std::uint32_t processId) override { return platform::DescribeProcess(processId); }
  std::string ServiceAccountUser() override { return platform::ServiceAccountUser(); }
};

MachineServices& PlatformMachineServices() {
  static SystemMachineServices services;
  return services;
}

Replaceable<MachineServices> current{PlatformMachineServices};

}  // namespace

MachineServices& CurrentMachineServices() { return current.Current(); }

void ReplaceMachineServices(MachineServices* services) { current.Replace(services); }

}  // namespace velmora::platform
