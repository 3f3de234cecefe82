// velmora-release root init --out FILE --root-key KEY... --root-threshold N --release-key KEY...
//                           --release-threshold N [--expires TIME] [--key KEY_FILE...]
// velmora-release root rotate --previous FILE --out FILE (the same options)
//
// Writes a root record (update/root_record.h): version 1, or the previous record's version + 1,
// and signs it with every --key into FILE.sig, one line per key with its key id. Keys that stay
// offline add theirs later with `sign FILE --signature`. Says which thresholds are still unmet.
#include <algorithm>

#include "command_support.h"
#include "manifest_signing.h"
#include "platform/signature.h"
#include "private_key_file.h"
#include "public_key_argument.h"
#include "release_commands.h"
#include "release_files.h"
#include "root_thresholds.h"
#include "signing_arguments.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"
#include "update/root_record.h"
#include "update/signature_set.h"

namespace velmora::release {
namespace {

constexpr char kDefaultRootLifetime[] = "365d";

bool ReadRole(const CommandLine& line, const std::string& name, update::RootRecord& record, update::RootRole& role,
              std::string& error) {
  const auto keys = line.repeated.find(name + "-key");
  const auto threshold = line.values.find(name + "-threshold");
  if (keys == line.repeated.end() || threshold == line.values.end()) {
    error = "give --" + name + "-key (once per key) and --" + name + "-threshold";
    return false;
  }
  for (const std::string& argument : keys->second) {
    const std::optional<std::string> key = PublicKeyArgument("--" + name + "-key", argument, true, error);
    if (!key) return false;
    const std::string id = update::KeyIdOf(*key);
    record.keys[id] = *key;
    if (std::find(role.keyIds.begin(), role.keyIds.end(), id) == role.keyIds.end()) role.keyIds.push_back(id);
  }
  const std::optional<std::int64_t> count = update::ParseSerial(threshold->second);
  if (!count || *count < 1 || static_cast<std::size_t>(*count) > role.keyIds.size()) {
    error = "--" + name + "-threshold must be from 1 to the number of " + name + " keys";
    return false;
  }
  role.threshold = static_cast<std::size_t>(*count);
  return true;
}

}  // namespace

int RunRootCommand(const CommandLine& line, ReleaseConsole& console) {
  const std::string& action = line.operands[0];
  if (action != "init" && action != "rotate") return UsageError(console, line.command, "root init or root rotate");
  std::string error, outPath, previousPath, previousBytes;
  std::optional<update::RootRecord> previous;
  if (action == "rotate") {
    const auto previousOption = line.values.find("previous");
    if (previousOption == line.values.end()) return UsageError(console, line.command, "root rotate needs --previous");
    if (!PathArgument(previousOption->second, previousPath, error) || !ReadWholeFile(previousPath, previousBytes) ||
        !(previous = update::ParseRootRecord(previousBytes))) {
      return Failure(console, previousOption->second + " is not a root record");
    }
  }
  update::RootRecord record;
  record.version = previous ? previous->version + 1 : 1;
  const auto expires = line.values.find("expires");
  record.expires = ParseExpiresArgument(expires == line.values.end() ? kDefaultRootLifetime : expires->second,
                                        update::UtcSecondsNow());
  if (!record.expires) return UsageError(console, line.command, "invalid --expires");
  if (!PathArgument(line.values.at("out"), outPath, error) || !ReadRole(line, "root", record, record.root, error) ||
      !ReadRole(line, "release", record, record.release, error)) {
    return UsageError(console, line.command, error);
  }
  const std::string bytes = update::RootRecordText(record);
  std::vector<update::SignatureLine> lines;
  if (const auto keys = line.repeated.find("key"); keys != line.repeated.end()) {
    for (const std::string& argument : keys->second) {
      std::string path;
      std::optional<std::string> key;
      if (!PathArgument(argument, path, error) || !(key = ReadPrivateKeyFile(path, argument, error))) {
        return UsageError(console, line.command, error);
      }
      lines.push_back({update::KeyIdOf(PublicKeyOf(*key)), platform::SignEcdsaP256Sha256(*key, bytes)});
    }
  }
  const std::string signatures = update::SignatureFileText(lines);
  if (!CreateParentFolder(outPath, error) || !WriteFileReplacing(outPath, bytes, error) ||
      !WriteFileReplacing(outPath + update::kSignatureSuffix, signatures, error)) {
    return Failure(console, error);
  }
  std::string report = "wrote root " + std::to_string(record.version) + " to " + line.values.at("out") + " and " +
                       std::to_string(lines.size()) + " signatures beside it\n";
  const std::string unmet = UnmetRootThresholds(previous, record, bytes, signatures);
  report += unmet.empty() ? "root " + std::to_string(record.version) + " meets every threshold of its root keys\n" : unmet;
  console.Out(report);
  return kExitSuccess;
}

}  // namespace velmora::release
