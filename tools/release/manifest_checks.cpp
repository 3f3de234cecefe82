#include "manifest_checks.h"

#include <map>
#include <utility>

#include "release_text.h"
#include "update/fingerprint.h"
#include "update/manifest_freshness.h"
#include "update/mirrors.h"
#include "update/channel_name.h"
#include "update/path_safety.h"

namespace velmora::release {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Hex digits in either letter case: the updater compares digests as digests.
bool IsHex(const std::u16string& text, std::size_t digits) {
  if (text.size() != digits) return false;
  for (char16_t c : text) {
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) return false;
  }
  return true;
}

bool StartsWithScheme(const std::u16string& url) {
  std::u16string head;
  for (std::size_t i = 0; i < url.size() && i < 8; ++i) {
    const char16_t c = url[i];
    head.push_back(c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c);
  }
  return (head.rfind(u"http://", 0) == 0 && url.size() > 7) || (head.rfind(u"https://", 0) == 0 && url.size() > 8);
}

std::string Quoted(const std::u16string& text) { return "\"" + Utf8Of(text) + "\""; }

// A member as written: a text in quotes, anything else as its literal ("12", "true", "null").
std::string Written(const OptionalMember& member) {
  if (member.kind == json::JsonKind::String) return Quoted(member.text);
  if (member.kind == json::JsonKind::Array || member.kind == json::JsonKind::Object) return "(an array or object)";
  return Utf8Of(member.text);
}

bool IsCount(const OptionalMember& member) {
  return member.kind == json::JsonKind::Integer && update::ParseSerial(Utf8Of(member.text)).has_value();
}

constexpr char kRefused[] = "; the updater refuses the whole manifest (\"UpData数据错误\")";

// Why a path (of an entry, or `run` when `isRun`) would not be installed or started where it
// says, or empty text. The wording follows the rules of update/path_safety.h.
std::string PathProblem(const std::u16string& path, bool isRun) {
  std::string gbk;
  if (!GbkOf(path, gbk)) {
    return "holds characters without a GBK (code page 936) form; the updater would read them as \"?\"";
  }
  const bool safe = isRun ? update::IsSafeLaunchTarget(gbk) : update::IsSafeInstallPath(gbk);
  if (!safe) {
    if (!isRun && (path.empty() || !IsSeparator(path[0]))) {
      return "does not begin with \"\\\"; the updater would look for it beside the run directory, glued to "
             "its name (\"C:\\App\" + \"Bin\\x.dll\" is \"C:\\AppBin\\x.dll\"), and refuses the manifest";
    }
    return "leaves the run directory (\"..\", a drive, a stream or a network path); the updater refuses "
           "the whole manifest";
  }
  if (!isRun && update::IsUpdaterStatePath(gbk)) {
    return "is where the updater keeps its own state (the kept release, the commit's journal, its log); "
           "the updater refuses the whole manifest";
  }
  std::size_t start = isRun ? 0 : 1;
  for (;;) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string problem = WindowsNameProblem(std::u16string_view(path).substr(start, end - start));
    if (!problem.empty()) return "has a name with " + problem;
    if (end >= path.size()) return {};
    start = end + 1;
  }
}

}  // namespace

std::string EntryLabel(const ManifestRecord& record) {
  return "entry " + std::to_string(record.index + 1) + " (" + (record.path.empty() ? "no path" : Utf8Of(record.path)) +
         ")";
}

std::vector<ManifestProblem> CheckManifest(const ManifestRecords& records) {
  std::vector<ManifestProblem> problems;
  auto whole = [&problems](std::string message) { problems.push_back({-1, std::move(message)}); };

  // `run` names a listed file: the one the updater starts (run directory + "\" + run).
  std::map<std::u16string, const ManifestRecord*> byKey;
  for (const ManifestRecord& record : records.entries) byKey.emplace(SamePathKey(record.path), &record);
  if (!records.hasRun || records.run.empty()) {
    whole("`run` is missing or empty: the updater would have no program to start after the update");
  } else if (const std::string problem = PathProblem(records.run, true); !problem.empty()) {
    whole("`run` " + Quoted(records.run) + " " + problem);
  } else if (byKey.count(SamePathKey(records.run)) == 0) {
    whole("`run` " + Quoted(records.run) + " names no file that the manifest lists");
  }
  if (records.serial.present && !IsCount(records.serial)) {
    whole("`serial` " + Written(records.serial) + " is not a whole number from 0 to 2^63-1 written without quotes" +
          kRefused);
  }
  if (records.expires.present && !ExpiryOf(records)) {
    whole("`expires` " + Written(records.expires) +
          " is not a date and time with its offset in quotes (\"2027-02-05T12:00:00Z\")" + kRefused);
  }
  if (records.rollout.present && !RolloutOf(records)) {
    whole("`rollout` " + Written(records.rollout) + " is not a whole number from 0 to 100 written without quotes" +
          kRefused);
  }
  if (records.rolloutSerial.present && !IsCount(records.rolloutSerial)) {
    whole("`rolloutSerial` " + Written(records.rolloutSerial) +
          " is not a whole number from 0 to 2^63-1 written without quotes" + kRefused);
  }
  if (records.channel.present && records.channel.kind != json::JsonKind::String) {
    whole("`channel` " + Written(records.channel) + " is not a text" + kRefused);
  } else if (records.channel.present && !update::IsChannelName(Utf8Of(records.channel.text))) {
    whole("`channel` " + Written(records.channel) +
          " is not a channel name (1 to 16 lower-case letters and digits, a letter first): no installation follows "
          "it, so every updater refuses the manifest");
  }
  if (records.mirrorsMember.present && records.mirrors.empty()) {
    whole("`mirrors` is not a list of 1 to " + std::to_string(update::kMostMirrors) +
          " http:// or https:// addresses, each ending with \"/\"" + kRefused);
  }
  if (records.entries.empty()) whole("`data` lists no files: the updater would report that nothing needs updating");

  std::map<std::u16string, const ManifestRecord*> seen;
  for (const ManifestRecord& record : records.entries) {
    const std::string label = EntryLabel(record);
    auto problem = [&problems, &record, &label](const std::string& message) {
      problems.push_back({record.index, label + ": " + message});
    };
    if (const std::string pathProblem = PathProblem(record.path, false); !pathProblem.empty()) {
      problem("`path` " + pathProblem);
    } else if (const auto [earlier, added] = seen.emplace(SamePathKey(record.path), &record); !added) {
      problem("`path` is the same file on Windows as " + EntryLabel(*earlier->second) +
              "; both downloads would go to one file");
    }
    if (!IsHex(record.md5, 32)) {
      problem("`md5` " + Quoted(record.md5) + " is not 32 hex digits; the updater cannot check the file by MD5 "
              "and downloads it on every run");
    }
    if (record.sizeMember.present && !IsCount(record.sizeMember)) {
      problem("`size` " + Written(record.sizeMember) + " is not a whole number of bytes written without quotes" +
              kRefused);
    }
    if (record.sha256.present) {
      const bool text = record.sha256.kind == json::JsonKind::String;
      if (!text || !IsHex(record.sha256.text, 64)) {
        problem("`sha256` " + Written(record.sha256) + " is not 64 hex digits in quotes" + kRefused);
      }
    }
    std::string deltaProblem;
    const std::optional<DeltaMember> delta = DeltaOf(record, deltaProblem);
    if (!deltaProblem.empty()) {
      problem("`delta` " + deltaProblem + "; the updater ignores it and fetches the whole file");
    } else if (delta) {
      for (const auto& [member, url] : {std::pair{"index", &delta->indexUrl}, std::pair{"pack", &delta->packUrl}}) {
        const std::u16string wide = WideOfUtf8(*url);
        std::string gbk;
        if (!StartsWithScheme(wide)) {
          problem("`delta`.`" + std::string(member) + "` " + Quoted(wide) + " is not an http:// or https:// address");
        } else if (!GbkOf(wide, gbk)) {
          problem("`delta`.`" + std::string(member) + "` holds characters without a GBK form; percent-encode them");
        }
      }
    }
    std::string gbk;
    if (record.url.empty()) {
      problem("`url` is missing or empty");
    } else if (!StartsWithScheme(record.url)) {
      problem("`url` " + Quoted(record.url) + " is not an http:// or https:// address");
    } else if (!GbkOf(record.url, gbk)) {
      problem("`url` holds characters without a GBK form; percent-encode them");
    }
  }
  return problems;
}

std::optional<DeltaMember> DeltaOf(const ManifestRecord& record, std::string& problem) {
  problem.clear();
  if (!record.deltaMember.present) return std::nullopt;
  if (record.deltaMember.kind != json::JsonKind::Object) {
    problem = Written(record.deltaMember) + " is not an object";
    return std::nullopt;
  }
  const DeltaRecord& fields = record.delta;
  DeltaMember delta;
  const auto text = [&problem](const char* name, const OptionalMember& member, std::string& out) {
    if (member.kind != json::JsonKind::String || member.text.empty()) {
      problem = std::string("`") + name + "` " + (member.present ? Written(member) + " is not" : "is missing, not") +
                " a text that is not empty";
      return false;
    }
    out = Utf8Of(member.text);
    return true;
  };
  const auto count = [&problem](const char* name, const OptionalMember& member, std::uint64_t& out) {
    const std::optional<std::int64_t> value =
        IsCount(member) ? update::ParseSerial(Utf8Of(member.text)) : std::optional<std::int64_t>();
    if (!value || *value <= 0) {
      problem = std::string("`") + name + "` " + (member.present ? Written(member) + " is not" : "is missing, not") +
                " a whole number from 1 to 2^63-1 written without quotes";
      return false;
    }
    out = static_cast<std::uint64_t>(*value);
    return true;
  };
  const auto digest = [&problem](const char* name, const OptionalMember& member, std::string& out) {
    if (member.kind != json::JsonKind::String || !IsHex(member.text, 64)) {
      problem = std::string("`") + name + "` " + (member.present ? Written(member) + " is not" : "is missing, not") +
                " 64 hex digits in quotes";
      return false;
    }
    out = update::LowerCaseDigest(Utf8Of(member.text));
    return true;
  };
  if (!text("index", fields.index, delta.indexUrl) || !count("indexSize", fields.indexSize, delta.indexSize) ||
      !digest("indexSha256", fields.indexSha256, delta.indexSha256) ||
      !count("headSize", fields.headSize, delta.headSize) ||
      !digest("headSha256", fields.headSha256, delta.headSha256) || !text("pack", fields.pack, delta.packUrl) ||
      !count("packSize", fields.packSize, delta.packSize) ||
      !digest("packSha256", fields.packSha256, delta.packSha256)) {
    return std::nullopt;
  }
  if (delta.headSize > delta.indexSize) {
    problem = "`headSize` " + std::to_string(delta.headSize) + " is larger than `indexSize` " +
              std::to_string(delta.indexSize);
    return std::nullopt;
  }
  return delta;
}

std::optional<std::int64_t> ExpiryOf(const ManifestRecords& records) {
  if (!records.expires.present || records.expires.kind != json::JsonKind::String) return std::nullopt;
  return update::ParseUtcTime(Utf8Of(records.expires.text));
}

std::optional<std::int64_t> SerialOf(const ManifestRecords& records) {
  if (!IsCount(records.serial)) return std::nullopt;
  return update::ParseSerial(Utf8Of(records.serial.text));
}

std::optional<std::int64_t> RolloutOf(const ManifestRecords& records) {
  if (!IsCount(records.rollout)) return std::nullopt;
  const std::optional<std::int64_t> percent = update::ParseSerial(Utf8Of(records.rollout.text));
  if (!percent || *percent > 100) return std::nullopt;
  return percent;
}

std::optional<std::int64_t> RolloutSerialOf(const ManifestRecords& records) {
  if (!IsCount(records.rolloutSerial)) return std::nullopt;
  return update::ParseSerial(Utf8Of(records.rolloutSerial.text));
}

std::optional<std::string> ChannelOf(const ManifestRecords& records) {
  if (records.channel.kind != json::JsonKind::String) return std::nullopt;
  return Utf8Of(records.channel.text);
}

}  // namespace velmora::release
