// A system for the per-machine route and the service's pipe: a folder that may not be writable,
// a service that may be installed and running, and a pipe whose server is any process.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine_services.h"

namespace velmora::app::testing {

// One connection: the server's id, what it says (all at once), what the client wrote.
struct FakePipe : platform::PipeConnection {
  FakePipe(std::uint32_t serverId, std::string answer) : server(serverId), incoming(std::move(answer)) {}
  std::uint32_t server;
  std::string incoming;
  std::shared_ptr<std::string> written = std::make_shared<std::string>();
  std::int64_t Read(void* buffer, std::size_t size, std::uint32_t) override {
    const std::size_t n = incoming.copy(static_cast<char*>(buffer), size);
    incoming.erase(0, n);
    return n == 0 ? -1 : static_cast<std::int64_t>(n);
  }
  bool Write(const void* data, std::size_t size) override {
    return written->append(static_cast<const char*>(data), size), true;
  }
  std::uint32_t PeerProcessId() override { return server; }
};

class FakeMachine : public platform::MachineServices {
 public:
  bool writable = true, userAccepts = true;
  std::string serviceFor;
  std::vector<std::string> probes, elevated;
  std::vector<std::unique_ptr<FakePipe>> pipes;  // one per connection, first first
  platform::UpdateServiceStatus status;
  std::map<std::uint32_t, platform::ProcessIdentity> processes;
  int starts = 0;

  bool CanCreateFile(const std::string& path) override { return probes.push_back(path), writable; }
  bool ServiceInstalledFor(const std::string& executablePath) override { return executablePath == serviceFor; }
  bool StartElevated(const std::string& file, const std::string& parameters) override {
    return elevated.push_back(file + "|" + parameters), userAccepts;
  }
  std::unique_ptr<platform::PipeConnection> ConnectToServicePipe(std::uint32_t) override {
    if (pipes.empty()) return nullptr;
    std::unique_ptr<platform::PipeConnection> pipe = std::move(pipes.front());
    pipes.erase(pipes.begin());
    return pipe;
  }
  bool StartUpdateService(std::string&) override { return ++starts, true; }
  platform::UpdateServiceStatus QueryUpdateServiceStatus() override { return status; }
  platform::ProcessIdentity DescribeProcess(std::uint32_t processId) override { return processes[processId]; }
  std::string ServiceAccountUser() override { return "S-1-5-18"; }
};

}  // namespace velmora::app::testing
