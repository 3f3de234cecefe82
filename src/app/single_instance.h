// The single-instance guard: two copies of the updater must never run at once, since both would
// download and overwrite the same files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/instance.h"

namespace velmora::app {

struct GuardOptions {
  bool showNotice = false;
  std::string noticeText;  // empty: "对不起,该进程已打开!"
  std::uint32_t noticeStyle = 0;
  bool activateExisting = false;
  std::function<void()> beforeExit;  // may be empty
  std::uint32_t exitCode = 0;        // the exit code of a copy that finds another one running
};

// How long the guard looks for the running copy's window.
inline constexpr std::int32_t kActivationSearchMs = 100;

// Returns when no other copy runs (this copy is then marked as running). Otherwise, the event of
// `eventName` already exists: calls beforeExit, shows the notice, brings the running copy's window
// to the front (restoring it when minimised) as the options ask, and ends the process with exit
// code `exitCode` (with a fake system whose EndProcess returns, the guard returns after it).
// An empty `eventName` is replaced by the default name, written back into the variable.
// Runs on the main thread before any window exists.
void SingleInstanceGuard(std::string& eventName, const GuardOptions& options = {},
                         platform::InstanceServices& system = platform::PlatformInstanceServices());

// The default event name: the MD5 of the GBK sentence "你懒得输入，我就写死，略略".
std::string DefaultEventName();

// The system's name for the event of `eventName`. Windows accepts no backslash in an object name
// (apart from a namespace prefix), while the instance name is a path: a name with a backslash
// becomes "VelmoraUpdate-" + the MD5 of the name with its ASCII letters lower-cased, so that the
// same executable reached with different letter case still meets itself; other names stay.
std::string EventObjectName(const std::string& eventName);

// The file name of a path: the part after the last "\" or "/" (GBK aware).
std::string FileNameOf(const std::string& path);

// The directory of a path without its trailing separator (GBK aware); empty when it has none.
std::string DirectoryOf(const std::string& path);

}  // namespace velmora::app
