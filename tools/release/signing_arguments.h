// The options of `manifest` and `publish` that make a signed, expiring manifest:
//
//   --key KEY_FILE   sign with the private key file of `velmora-release keygen` (or a P-256 key in
//                    PEM made by openssl); more than once: signed by every key
//   --serial N       the release's serial, 0 to 2^63-1 (default with --key: seconds since 1970 now,
//                    so that it grows by itself from one release to the next)
//   --expires TIME   when updaters stop accepting the manifest: ISO 8601 with its offset
//                    ("2027-02-05T12:00:00Z", "2027-02-05T20:00:00+08:00") or a number of days from
//                    now ("45d"); default with --key: 30 days from now
//
// Without --key a manifest carries `serial` and `expires` only when they are given: updaters
// without a key also refuse an expired manifest, so an unsigned release must not expire unless
// its publisher asks for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "release_console.h"

namespace velmora::release {

inline constexpr std::int64_t kDefaultLifetimeDays = 30;

struct SigningArguments {
  std::optional<std::string> privateKey;  // 96 bytes, from the first --key
  std::vector<std::string> privateKeys;   // every --key, in order
  std::optional<std::int64_t> serial;
  std::optional<std::int64_t> expires;  // seconds since 1970
};

// An --expires text as seconds since 1970, `now` being the present; nothing when it is neither an
// ISO 8601 date and time with its offset nor "<days>d" (1 to 36500 days).
std::optional<std::int64_t> ParseExpiresArgument(const std::string& text, std::int64_t now);

// Reads --key, --serial and --expires of `line`, with the defaults above. A serial or time that
// does not parse, or a key file that is missing or holds no private key, is a usage error:
// `exitStatus` is set and false returned. An expiry that has passed is written with a note on
// standard error (every updater refuses such a manifest; tests of that refusal make one).
bool ReadSigningArguments(const CommandLine& line, ReleaseConsole& console, SigningArguments& arguments,
                          int& exitStatus);

}  // namespace velmora::release
