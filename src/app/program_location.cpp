#include "app/program_location.h"

#include <vector>

#include "app/outside_writers.h"
#include "platform/file_security.h"

namespace velmora::app {

std::string WhyNotSystemWorthy(const std::string& executablePath) {
  const std::vector<std::string> paths = FolderChainOf(executablePath);
  if (paths.empty()) return "\"" + executablePath + "\" is not a full path";
  std::vector<PathDescriptor> chain;
  for (const std::string& path : paths) {
    PathDescriptor element{path, {}};
    std::string error;
    if (!platform::ReadPathSecurity(path, element.sddl, error)) {
      return "the access list of \"" + path + "\" cannot be read: " + error;
    }
    chain.push_back(std::move(element));
  }
  const std::optional<OutsideWriter> writer = FindOutsideWriter(chain, TrustedWriters());
  if (!writer) return {};
  const std::string who = writer->principal.empty() ? "\"" + writer->path + "\": " + writer->what
                                                    : writer->principal + " can " + writer->what + ": \"" +
                                                          writer->path + "\"";
  return who + "; a program that runs as SYSTEM must live where only SYSTEM, Administrators and "
               "TrustedInstaller can change it and its folders, such as Program Files";
}

}  // namespace velmora::app
