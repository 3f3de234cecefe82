// Release services (platform/release_services.h) under which the files that `held` names are held
// by a program that cannot be ended: they exist and never open exclusively, and no process is
// found to end. Every other file is looked at on the real system.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/release_services.h"

namespace velmora::testing {

class HeldFiles final : public platform::ReleaseServices {
 public:
  explicit HeldFiles(std::function<bool(const std::string&)> held) : held_(std::move(held)) {}

  bool Find(const std::string& path, bool& isDirectory) override {
    if (!held_(path)) return real().Find(path, isDirectory);
    isDirectory = false;
    return true;
  }
  bool OpensExclusively(const std::string& path) override { return !held_(path) && real().OpensExclusively(path); }
  std::optional<std::vector<platform::ProcessEntry>> Processes() override { return std::vector<platform::ProcessEntry>{}; }
  std::u16string ImageFileName(std::uint32_t) override { return {}; }
  std::u16string DosDevice(char16_t) override { return {}; }
  void Terminate(std::uint32_t) override {}
  std::uint32_t OwnProcessId() override { return 1; }
  void SleepMs(std::uint32_t) override {}

 private:
  static platform::ReleaseServices& real() { return platform::PlatformReleaseServices(); }
  std::function<bool(const std::string&)> held_;
};

}  // namespace velmora::testing
