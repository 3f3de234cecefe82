#include "install/locked_file_release.h"

#include "platform/release_services.h"
#include "platform/thread.h"
#include "state/program_state.h"
#include "text/encoding.h"
#include "update/run_directory.h"
#include "update/run_log.h"

namespace velmora::install {
namespace {

// A GBK lead byte: the byte after it belongs to the same character, whatever its value.
bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// The offset at which the last path component starts, as the shell's path functions find it: after
// the last "\", "/" or ":" that is not at the very end; a trailing "\" stays with the component.
std::size_t FileNameOffset(const std::string& path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(byte) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if ((byte == '\\' || byte == '/' || byte == ':') && i + 1 < path.size() && path[i + 1] != '\\') start = i + 1;
  }
  return start;
}

// The offset of the extension's dot in a file name, or its length when there is none: the last
// "." after which no space or separator follows.
std::size_t ExtensionOffset(const std::string& name) {
  std::size_t dot = name.size();
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(byte) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (byte == '.') {
      dot = i;
    } else if (byte == ' ' || byte == '\\') {
      dot = name.size();
    }
  }
  return dot;
}

}  // namespace

bool IsExistingFile(const std::string& path) {
  bool isDirectory = false;
  return platform::CurrentReleaseServices().Find(path, isDirectory) && !isDirectory;
}

bool IsLocked(const std::string& path) {
  platform::ReleaseServices& system = platform::CurrentReleaseServices();
  bool isDirectory = false;
  if (!system.Find(path, isDirectory)) return false;
  return !system.OpensExclusively(path);
}

std::string FileNameOfPath(const std::string& path, bool withExtension) {
  const std::string name = path.substr(FileNameOffset(path));
  if (!name.empty() && name.back() == '\\') return {};
  return withExtension ? name : name.substr(0, ExtensionOffset(name));
}

std::u16string DevicePathToDrivePath(const std::u16string& path) {
  platform::ReleaseServices& system = platform::CurrentReleaseServices();
  for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
    const std::u16string device = system.DosDevice(letter);
    if (device.empty()) continue;
    const std::u16string prefix = device + u'\\';
    if (path.compare(0, prefix.size(), prefix) == 0) {
      return std::u16string{letter, u':', u'\\'} + path.substr(prefix.size());
    }
  }
  return path;
}

std::u16string ProcessImagePath(std::uint32_t processId) {
  const std::u16string image = platform::CurrentReleaseServices().ImageFileName(processId);
  return image.empty() ? image : DevicePathToDrivePath(image);
}

bool ReleaseFile(const std::string& name, const std::string& path) {
  platform::ReleaseServices& system = platform::CurrentReleaseServices();
  const std::u16string wideName = text::NarrowToWide(name, text::NarrowCodePage);
  const std::u16string widePath = text::NarrowToWide(path, text::NarrowCodePage);
  const auto processes = system.Processes();
  if (!processes) return false;
  const std::uint32_t ownProcess = system.OwnProcessId();
  for (const platform::ProcessEntry& process : *processes) {
    if (process.exeFile != wideName) continue;
    // The updater must never end itself half way, even when it is listed as a file to replace.
    if (process.processId == ownProcess) continue;
    system.SleepMs(1);
    if (!widePath.empty() && ProcessImagePath(process.processId) != widePath) continue;
    system.Terminate(process.processId);
    update::AppendToRunLog(update::RunDirectory(), "ended process " + std::to_string(process.processId) + " (" +
                                                       text::NarrowToUtf8(name) + ") to free its file");
  }
  return true;
}

TargetState FreeTarget(const std::string& target, const std::function<void(int attempt)>& stillHeld) {
  if (!IsExistingFile(target)) return TargetState::Missing;
  if (!IsLocked(target)) return TargetState::Free;
  // A run that may not end the product (quiet, without --close-product) only looks.
  if (!state::State().mode.closeProduct) return TargetState::Held;
  const std::string name = FileNameOfPath(target, true);
  for (int attempt = 1; attempt <= kReleaseAttempts; ++attempt) {
    ReleaseFile(name, target);
    if (stillHeld && IsExistingFile(target) && IsLocked(target)) stillHeld(attempt);
    platform::WaitProcessingMessages(kReleaseWaitMs);
  }
  if (!IsExistingFile(target)) return TargetState::Missing;
  return IsLocked(target) ? TargetState::Held : TargetState::Free;
}

}  // namespace velmora::install
