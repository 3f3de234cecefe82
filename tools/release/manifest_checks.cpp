#include "manifest_checks.h"

#include <map>

#include "release_text.h"
#include "update/path_safety.h"

namespace velmora::release {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsLowerHexDigest(const std::u16string& md5) {
  if (md5.size() != 32) return false;
  for (char16_t c : md5) {
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
  }
  return true;
}

bool IsUpperHexDigest(const std::u16string& md5) {
  if (md5.size() != 32) return false;
  for (char16_t c : md5) {
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
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
    if (IsUpperHexDigest(record.md5) && !IsLowerHexDigest(record.md5)) {
      problem("`md5` " + Quoted(record.md5) + " is in upper case; the updater compares digests byte for byte, "
              "so the file would never match and be downloaded on every run");
    } else if (!IsLowerHexDigest(record.md5)) {
      problem("`md5` " + Quoted(record.md5) + " is not 32 lower-case hex digits");
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

}  // namespace velmora::release
