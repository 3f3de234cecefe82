// velmora-release rollout SITE --percent PERCENT --key KEY_FILE [--channel NAME] [--expires TIME]
//
// Changes the staged rollout of the release published in SITE (docs/rollouts.md): the channel's
// manifest, once its signature is found to be the key's, gets `rollout` = PERCENT, a higher
// `serial` and its `rolloutSerial` kept (the old serial when it had none: the updater drew the
// places from the serial until now), and is signed and written again like publish writes it.
// Every other byte stays as it was signed, so the entries cannot change on the way. Only the
// key's holder can widen, narrow or halt a rollout: a changed manifest no longer matches its
// signature.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "command_support.h"
#include "manifest_checks.h"
#include "manifest_member_edit.h"
#include "manifest_reader.h"
#include "manifest_signing.h"
#include "platform/directory_walk.h"
#include "release_channel.h"
#include "release_commands.h"
#include "release_files.h"
#include "rollout_arguments.h"
#include "rollout_description.h"
#include "signing_arguments.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"

namespace velmora::release {
namespace {

// The manifest's expiry after the change, and why: --expires when given; otherwise the manifest's
// own while it lies ahead; otherwise the default of publish --key.
struct ExpiryChoice {
  std::int64_t expires = 0;
  bool changed = false;
  std::string why;
};

ExpiryChoice ChooseExpiry(const CommandLine& line, const ManifestRecords& records, const SigningArguments& signing) {
  const std::optional<std::int64_t> old = ExpiryOf(records);
  if (line.values.count("expires") != 0) return {*signing.expires, old != signing.expires, "as given"};
  if (old && *old > update::UtcSecondsNow()) return {*old, false, "kept"};
  return {*signing.expires, true,
          std::string(old ? "the manifest's own has passed" : "the manifest had none") + "; " +
              std::to_string(kDefaultLifetimeDays) + " days from now"};
}

}  // namespace

int RunRolloutCommand(const CommandLine& line, ReleaseConsole& console) {
  int status = kExitSuccess;
  const std::string& siteOperand = line.operands[0];
  std::string site;
  std::string error;
  if (!PathArgument(siteOperand, site, error)) return UsageError(console, line.command, error);
  if (!platform::FolderExists(site)) return UsageError(console, line.command, "no such folder: " + siteOperand);
  std::string channel;
  if (!ChannelArgument(line, console, channel, status)) return status;
  std::optional<std::int64_t> percent;
  if (!PercentArgument(line, "percent", console, percent, status)) return status;
  // With --key: the serial publish would take now, and --expires or its default.
  SigningArguments signing;
  if (!ReadSigningArguments(line, console, signing, status)) return status;

  const std::string shown = siteOperand + ChannelManifestPath(channel);
  const std::string manifestPath = site + ChannelManifestFile(channel);
  std::string bytes;
  if (platform::FolderExists(manifestPath) || !ReadWholeFile(manifestPath, bytes)) {
    return Failure(console, "no manifest of " + ChannelLabel(channel) + " in " + siteOperand + ": " + shown +
                                " cannot be read (publish the release there first)");
  }
  std::string signatureText;
  if (!ReadWholeFile(manifestPath + update::kSignatureSuffix, signatureText)) {
    return Failure(console, shown + update::kSignatureSuffix + " is missing: only a manifest signed with the key can "
                                                               "have its rollout changed (publish it with --key)");
  }
  if (!HasSignatureBy(PublicKeyOf(*signing.privateKey), bytes, signatureText)) {
    return Failure(console, "the signature " + shown + update::kSignatureSuffix +
                                " is not this key's signature of the manifest: another key signed it, or the manifest "
                                "changed after it was signed; nothing was changed");
  }
  const ManifestRecords records = ReadManifestText(bytes, ManifestEncoding::Utf8);
  if (!records.parsed) return Failure(console, shown + ": " + records.error);
  // The manifest must be the channel's own, as the updater judges it: one copied into another
  // channel's place would have its rollout changed for the wrong installations. Without the
  // member it is the default channel's (publish without --channel).
  const std::string expected = IsDefaultChannel(channel) ? kDefaultChannelName : channel;
  const std::optional<std::string> named = ChannelOf(records);
  if (records.channel.present ? named != expected : !IsDefaultChannel(channel)) {
    const std::string what = !records.channel.present ? "no channel"
                             : named                  ? "the channel \"" + *named + "\""
                                                      : "a channel that is not a text";
    return Failure(console, shown + " names " + what + ", not " + ChannelLabel(channel) +
                                " (publish the release there with --channel " + expected + "); nothing was changed");
  }
  const std::optional<std::int64_t> serial = SerialOf(records);
  if (!serial) {
    return Failure(console, shown + " has no valid `serial`, which every updater built with a key requires; publish "
                                    "the release again with --key");
  }
  if (*serial == std::numeric_limits<std::int64_t>::max()) {
    return Failure(console, shown + " has the highest serial there is; it cannot be raised");
  }
  if (records.rolloutSerial.present && !RolloutSerialOf(records)) {
    return Failure(console, shown + ": its `rolloutSerial` is not a whole number from 0 to 2^63-1, so there is no "
                                    "place to keep; publish the release again");
  }

  // A serial that updaters take as newer, and that publish's next serial (the time) follows.
  const std::int64_t newSerial = std::max(*serial + 1, *signing.serial);
  const std::optional<std::int64_t> keptRolloutSerial = RolloutSerialOf(records);
  const std::int64_t rolloutSerial = keptRolloutSerial.value_or(*serial);
  const ExpiryChoice expiry = ChooseExpiry(line, records, signing);
  std::vector<MemberValue> members{{"serial", std::to_string(newSerial)}, {"rollout", std::to_string(*percent)}};
  if (!keptRolloutSerial) members.push_back({"rolloutSerial", std::to_string(rolloutSerial)});
  if (expiry.changed) members.push_back({"expires", "\"" + update::FormatUtcTime(expiry.expires) + "\""});
  const std::optional<std::string> edited = SetTopLevelMembers(bytes, members, error);
  if (!edited) return Failure(console, shown + ": " + error + "; nothing was changed");

  std::string newSignature;
  if (!SignManifestBytes(signing.privateKeys, *edited, newSignature, error)) return Failure(console, error);
  SignatureFileChange change = SignatureFileChange::None;
  if (!WriteManifestFiles(manifestPath, *edited, newSignature, change, error)) return Failure(console, error);

  const std::optional<std::int64_t> oldRollout = RolloutOf(records);
  console.Out("rollout of " + ChannelLabel(channel) + " (" + shown + "): now " + DescribeRollout(*percent) + " (was " +
              (oldRollout ? std::to_string(*oldRollout) + "%" : std::string("no rollout: every installation")) +
              ")\n  rolloutSerial " + std::to_string(rolloutSerial) +
              (keptRolloutSerial ? " (kept" : " (the old serial, from which places are drawn without one") +
              ": every installation keeps its place)\n  serial " + std::to_string(newSerial) + " (was " +
              std::to_string(*serial) + ")\n  expires " + update::FormatUtcTime(expiry.expires) + " (" + expiry.why +
              ")\nsigned: " + shown + update::kSignatureSuffix + "\n");
  return kExitSuccess;
}

}  // namespace velmora::release
