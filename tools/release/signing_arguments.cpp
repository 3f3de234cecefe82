#include "signing_arguments.h"

#include "command_support.h"
#include "private_key_file.h"
#include "release_files.h"
#include "update/manifest_freshness.h"

namespace velmora::release {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMostDays = 36500;

}  // namespace

std::optional<std::int64_t> ParseExpiresArgument(const std::string& text, std::int64_t now) {
  if (text.size() >= 2 && text.size() <= 6 && text.back() == 'd') {
    std::int64_t days = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      days = days * 10 + (text[i] - '0');
    }
    if (days < 1 || days > kMostDays) return std::nullopt;
    return now + days * kSecondsPerDay;
  }
  return update::ParseUtcTime(text);
}

bool ReadSigningArguments(const CommandLine& line, ReleaseConsole& console, SigningArguments& arguments,
                          int& exitStatus) {
  const std::int64_t now = update::UtcSecondsNow();
  if (const auto serial = line.values.find("serial"); serial != line.values.end()) {
    arguments.serial = update::ParseSerial(serial->second);
    if (!arguments.serial) {
      exitStatus = UsageError(console, line.command,
                              "invalid --serial \"" + serial->second + "\": a whole number from 0 to 9223372036854775807");
      return false;
    }
  }
  if (const auto expires = line.values.find("expires"); expires != line.values.end()) {
    arguments.expires = ParseExpiresArgument(expires->second, now);
    if (!arguments.expires) {
      exitStatus = UsageError(console, line.command,
                              "invalid --expires \"" + expires->second +
                                  "\": a date and time with its offset (2027-02-05T12:00:00Z) or days from now (45d)");
      return false;
    }
    if (*arguments.expires <= now) {
      // Written all the same: tests of the updater's refusal need such a manifest.
      console.Err("velmora-release: note: --expires " + update::FormatUtcTime(*arguments.expires) +
                  " has passed: every updater refuses this manifest (\"UpData已过期\")\n");
    }
  }
  const auto keys = line.repeated.find("key");
  if (keys == line.repeated.end()) return true;
  for (const std::string& operand : keys->second) {
    std::string path;
    std::string error;
    std::optional<std::string> key;
    if (!PathArgument(operand, path, error) || !(key = ReadPrivateKeyFile(path, operand, error))) {
      exitStatus = UsageError(console, line.command, error);
      return false;
    }
    arguments.privateKeys.push_back(*key);
  }
  arguments.privateKey = arguments.privateKeys.front();
  if (!arguments.serial) arguments.serial = now;
  if (!arguments.expires) arguments.expires = now + kDefaultLifetimeDays * kSecondsPerDay;
  return true;
}

}  // namespace velmora::release
