#include "manifest_checks.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace velmora::release {
namespace {

const std::string kA = "0123456789abcdef0123456789abcdef";
const std::string kB = "fedcba9876543210fedcba9876543210";

struct Entry {
  std::string md5;
  std::string url;
  std::string path;  // as the manifest's text means it: "\App.exe"
};

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

// A UTF-8 manifest; an empty `run` leaves the member out.
std::string Manifest(const std::string& run, const std::vector<Entry>& entries) {
  std::string json = "{" + (run.empty() ? "" : "\"run\":" + Quoted(run) + ",") + "\"data\":[";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    json += (i > 0 ? "," : "") + std::string("{\"name\":\"n\",\"md5\":") + Quoted(entries[i].md5) +
            ",\"url\":" + Quoted(entries[i].url) + ",\"path\":" + Quoted(entries[i].path) + "}";
  }
  return json + "]}";
}

std::vector<Entry> Good() {
  return {{kA, "http://h/App.exe", "\\App.exe"}, {kB, "https://h/Bin/x.dll", "\\Bin\\x.dll"}};
}

std::vector<ManifestProblem> ProblemsOf(const std::string& text) {
  const ManifestRecords records = ReadManifestText(text, ManifestEncoding::Utf8);
  EXPECT_TRUE(records.parsed) << records.error;
  return CheckManifest(records);
}

TEST(ManifestChecksTest, AGoodManifestHasNoProblem) {
  EXPECT_TRUE(ProblemsOf(Manifest("App.exe", Good())).empty());
  EXPECT_TRUE(ProblemsOf(Manifest("Bin\\x.dll", Good())).empty());
  EXPECT_TRUE(ProblemsOf(Manifest("bin/X.DLL", Good())).empty());  // Windows finds it all the same
  // Digests in upper case name the same bytes: the updater compares them as digests.
  EXPECT_TRUE(ProblemsOf(Manifest("App.exe", {Good()[0], {"FEDCBA9876543210FEDCBA9876543210", "http://h/x", "\\x.dll"}}))
                  .empty());
}

// One problem planted in the second entry (index 1) or in `run` (index -1) at a time.
TEST(ManifestChecksTest, EachPlantedProblemIsReportedWithItsEntry) {
  const struct {
    const char* what;
    std::string run;
    Entry second;
    std::int32_t index;
    std::string message;  // part of the problem's message
  } cases[] = {
      {"no leading backslash", "App.exe", {kB, "http://h/x", "Bin\\x.dll"}, 1, "entry 2 (Bin\\x.dll): `path` does not begin with \"\\\""},
      {"climbs out", "App.exe", {kB, "http://h/x", "\\..\\x.dll"}, 1, "`path` leaves the run directory"},
      {"dots and spaces", "App.exe", {kB, "http://h/x", "\\. .\\x.dll"}, 1, "`path` leaves the run directory"},
      {"a drive", "App.exe", {kB, "http://h/x", "\\C:\\x.dll"}, 1, "`path` leaves the run directory"},
      {"a network path", "App.exe", {kB, "http://h/x", "\\\\server\\share\\x.dll"}, 1, "`path` leaves the run directory"},
      {"empty path", "App.exe", {kB, "http://h/x", ""}, 1, "entry 2 (no path): `path` does not begin"},
      {"the updater's state", "App.exe", {kB, "http://h/x", "\\Bin\\Config\\PreviousRelease\\files\\x.dll"}, 1,
       "`path` is where the updater keeps its own state"},
      {"no GBK form", "App.exe", {kB, "http://h/x", "\\smile\U0001F600.dll"}, 1, "`path` holds characters without a GBK"},
      {"a star", "App.exe", {kB, "http://h/x", "\\Bin\\a*b.dll"}, 1, "the character \"*\", which Windows does not allow"},
      {"trailing dot", "App.exe", {kB, "http://h/x", "\\Bin\\x.dll."}, 1, "a trailing dot or space"},
      {"same file", "App.exe", {kB, "http://h/x", "/APP.exe"}, 1, "`path` is the same file on Windows as entry 1 (\\App.exe)"},
      {"short md5", "App.exe", {kB.substr(1), "http://h/x", "\\x.dll"}, 1, "is not 32 hex digits"},
      {"no md5", "App.exe", {"", "http://h/x", "\\x.dll"}, 1, "`md5` \"\" is not 32 hex digits"},
      {"non-hex md5", "App.exe", {"g" + kB.substr(1), "http://h/x", "\\x.dll"}, 1, "is not 32 hex digits"},
      {"no url", "App.exe", {kB, "", "\\x.dll"}, 1, "`url` is missing or empty"},
      {"ftp url", "App.exe", {kB, "ftp://h/x.dll", "\\x.dll"}, 1, "is not an http:// or https:// address"},
      {"bare host", "App.exe", {kB, "http://", "\\x.dll"}, 1, "is not an http:// or https:// address"},
      {"no run", "", Good()[1], -1, "`run` is missing or empty"},
      {"run not listed", "Other.exe", Good()[1], -1, "`run` \"Other.exe\" names no file that the manifest lists"},
      {"run climbs", "..\\App.exe", Good()[1], -1, "`run` \"..\\App.exe\" leaves the run directory"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const std::vector<ManifestProblem> problems = ProblemsOf(Manifest(test.run, {Good()[0], test.second}));
    ASSERT_EQ(problems.size(), 1u) << (problems.empty() ? "" : problems[0].message + " / " + problems.back().message);
    EXPECT_EQ(problems[0].entryIndex, test.index);
    EXPECT_NE(problems[0].message.find(test.message), std::string::npos) << problems[0].message;
  }
}

TEST(ManifestChecksTest, ProblemsComeInEntryOrderAfterTheManifestsOwn) {
  const std::vector<ManifestProblem> problems =
      ProblemsOf(Manifest("Gone.exe", {{"X", "http://h/a", "a"}, Good()[0], {kA, "", "\\b"}}));
  std::vector<std::int32_t> indexes;
  for (const ManifestProblem& problem : problems) indexes.push_back(problem.entryIndex);
  EXPECT_EQ(indexes, (std::vector<std::int32_t>{-1, 0, 0, 2}));
}

// Each malformed optional member makes the updater refuse the whole manifest: one problem each.
TEST(ManifestChecksTest, MalformedSerialExpiresSizeAndSha256AreProblems) {
  const std::string sha = std::string(64, 'a');
  const auto withEntry = [](const std::string& members) {
    return "{\"run\":\"App.exe\"" + members + ",\"data\":[{\"md5\":\"" + kA +
           "\",\"url\":\"http://h/a\",\"path\":\"\\\\App.exe\"}]}";
  };
  const auto withMember = [&](const std::string& member) {
    return withEntry("").insert(withEntry("").size() - 3, "," + member);
  };
  const struct {
    std::string text;
    std::string problem;  // "" for none
  } cases[] = {
      {withEntry(",\"serial\":0,\"expires\":\"2027-01-06T20:00:00+08:00\""), ""},
      {withEntry(",\"serial\":9223372036854775807"), ""},
      {withEntry(",\"serial\":\"5\""), "`serial` \"5\" is not a whole number"},
      {withEntry(",\"serial\":-1"), "`serial` -1 is not a whole number"},
      {withEntry(",\"serial\":1.5"), "`serial` 1.5 is not"},
      {withEntry(",\"serial\":9223372036854775808"), "`serial` 9223372036854775808 is not"},
      {withEntry(",\"expires\":\"2027-01-06\""), "`expires` \"2027-01-06\" is not a date and time"},
      {withEntry(",\"expires\":\"2027-01-06T12:00:00\""), "`expires` \"2027-01-06T12:00:00\" is not"},
      {withEntry(",\"expires\":1799236800"), "`expires` 1799236800 is not"},
      {withMember("\"size\":0,\"sha256\":\"" + sha + "\""), ""},
      {withMember("\"size\":\"12\""), "entry 1 (\\App.exe): `size` \"12\" is not a whole number of bytes"},
      {withMember("\"size\":-3"), "`size` -3 is not"},
      {withMember("\"sha256\":\"" + std::string(64, 'A') + "\""), ""},  // the same digest as in lower case
      {withMember("\"sha256\":\"" + std::string(64, 'G') + "\""), "is not 64 hex digits"},
      {withMember("\"sha256\":\"" + sha.substr(1) + "\""), "is not 64 hex digits"},
      {withMember("\"sha256\":null"), "`sha256` null is not 64"},
  };
  for (const auto& test : cases) {
    const std::vector<ManifestProblem> problems = ProblemsOf(test.text);
    if (test.problem.empty()) {
      EXPECT_TRUE(problems.empty()) << test.text << "\n" << (problems.empty() ? "" : problems[0].message);
      continue;
    }
    ASSERT_EQ(problems.size(), 1u) << test.text;
    EXPECT_NE(problems[0].message.find(test.problem), std::string::npos) << problems[0].message;
    EXPECT_NE(problems[0].message.find("refuses the whole manifest"), std::string::npos) << problems[0].message;
  }
}

// `rollout`, `rolloutSerial` and `channel` in another form make the updater refuse the manifest;
// a channel text that no installation can follow makes every updater refuse it.
TEST(ManifestChecksTest, MalformedRolloutAndChannelMembersAreProblems) {
  const auto with = [](const std::string& members) {
    return "{\"run\":\"App.exe\"" + members + ",\"data\":[{\"md5\":\"" + kA +
           "\",\"url\":\"http://h/a\",\"path\":\"\\\\App.exe\"}]}";
  };
  const struct {
    std::string text;
    std::string problem;  // "" for none
  } cases[] = {
      {with(",\"rollout\":0,\"rolloutSerial\":0,\"channel\":\"beta\""), ""},
      {with(",\"rollout\":100,\"rolloutSerial\":9223372036854775807,\"channel\":\"default\""), ""},
      {with(",\"rollout\":101"), "`rollout` 101 is not a whole number from 0 to 100"},
      {with(",\"rollout\":-1"), "`rollout` -1 is not"},
      {with(",\"rollout\":5.5"), "`rollout` 5.5 is not"},
      {with(",\"rollout\":\"5\""), "`rollout` \"5\" is not"},
      {with(",\"rollout\":null"), "`rollout` null is not"},
      {with(",\"rolloutSerial\":\"7\""), "`rolloutSerial` \"7\" is not a whole number from 0 to 2^63-1"},
      {with(",\"rolloutSerial\":-7"), "`rolloutSerial` -7 is not"},
      {with(",\"rolloutSerial\":1e3"), "`rolloutSerial` 1e3 is not"},
      {with(",\"channel\":5"), "`channel` 5 is not a text"},
      {with(",\"channel\":\"Beta\""), "`channel` \"Beta\" is not a channel name"},
      {with(",\"channel\":\"\""), "`channel` \"\" is not a channel name"},
  };
  for (const auto& test : cases) {
    const std::vector<ManifestProblem> problems = ProblemsOf(test.text);
    if (test.problem.empty()) {
      EXPECT_TRUE(problems.empty()) << test.text << "\n" << (problems.empty() ? "" : problems[0].message);
      continue;
    }
    ASSERT_EQ(problems.size(), 1u) << test.text;
    EXPECT_NE(problems[0].message.find(test.problem), std::string::npos) << problems[0].message;
    EXPECT_NE(problems[0].message.find("refuses"), std::string::npos) << problems[0].message;
  }
}

// A `delta` member that the updater would not use costs its clients the whole file: a problem,
// but not one that refuses the manifest. DeltaOf reads it as the updater does.
TEST(ManifestChecksTest, ADeltaMemberTheUpdaterWouldIgnoreIsAProblem) {
  const std::string sha(64, 'a');
  const std::string upper(64, 'B');
  const auto member = [&](const std::string& replace, const std::string& with) {
    std::string fields = "\"index\":\"http://h/a.vmdi\",\"indexSize\":300,\"indexSha256\":\"" + sha +
                         "\",\"headSize\":40,\"headSha256\":\"" + upper + "\",\"pack\":\"https://h/a.vmdp\"," +
                         "\"packSize\":9000,\"packSha256\":\"" + sha + "\"";
    if (!replace.empty()) fields.replace(fields.find(replace), replace.size(), with);
    return "{\"run\":\"App.exe\",\"data\":[{\"md5\":\"" + kA +
           "\",\"url\":\"http://h/a\",\"path\":\"\\\\App.exe\",\"delta\":{" + fields + "}}]}";
  };
  const struct {
    std::string text;
    std::string problem;  // "" for none
  } cases[] = {
      {member("", ""), ""},
      {member("\"headSize\":40", "\"headSize\":300"), ""},  // the head may be the whole index
      {"{\"run\":\"App.exe\",\"data\":[{\"md5\":\"" + kA + "\",\"url\":\"http://h/a\",\"path\":\"\\\\App.exe\","
       "\"delta\":\"none\"}]}", "`delta` \"none\" is not an object"},
      {member("\"index\":\"http://h/a.vmdi\",", ""), "`index` is missing, not a text"},
      {member("\"http://h/a.vmdi\"", "\"\""), "`index` \"\" is not a text that is not empty"},
      {member("\"https://h/a.vmdp\"", "7"), "`pack` 7 is not a text"},
      {member("\"indexSize\":300", "\"indexSize\":\"300\""), "`indexSize` \"300\" is not a whole number"},
      {member("\"packSize\":9000", "\"packSize\":0"), "`packSize` 0 is not a whole number from 1"},
      {member("\"packSize\":9000", "\"packSize\":9223372036854775808"), "`packSize` 9223372036854775808 is not"},
      {member("\"headSize\":40", "\"headSize\":-40"), "`headSize` -40 is not"},
      {member("\"headSize\":40", "\"headSize\":301"), "`headSize` 301 is larger than `indexSize` 300"},
      {member("\"headSha256\":\"" + upper + "\"", "\"headSha256\":\"" + sha.substr(1) + "\""),
       "`headSha256` \"" + sha.substr(1) + "\" is not 64 hex digits"},
      {member("\"packSha256\":\"" + sha + "\"", "\"packSha256\":null"), "`packSha256` null is not 64 hex digits"},
      {member("\"https://h/a.vmdp\"", "\"ftp://h/a.vmdp\""), "`delta`.`pack` \"ftp://h/a.vmdp\" is not an http://"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.text);
    const std::vector<ManifestProblem> problems = ProblemsOf(test.text);
    const ManifestRecords records = ReadManifestText(test.text, ManifestEncoding::Utf8);
    std::string problem;
    const std::optional<DeltaMember> delta = DeltaOf(records.entries.at(0), problem);
    if (test.problem.empty()) {
      EXPECT_TRUE(problems.empty()) << problems[0].message;
      ASSERT_TRUE(delta) << problem;
      EXPECT_EQ(delta->headSha256, std::string(64, 'b'));  // in lower case, as the updater keeps it
      EXPECT_EQ(delta->packUrl, "https://h/a.vmdp");
      EXPECT_EQ(delta->indexSize, 300u);
      continue;
    }
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].message.find(test.problem), std::string::npos) << problems[0].message;
    EXPECT_EQ(problems[0].entryIndex, 0);
    if (test.problem.find("http://") == std::string::npos) {
      EXPECT_FALSE(delta);
      EXPECT_NE(problems[0].message.find("ignores it and fetches the whole file"), std::string::npos);
    }
  }
}

TEST(ManifestChecksTest, AManifestWithoutFilesIsAProblem) {
  const std::vector<ManifestProblem> problems = ProblemsOf("{\"run\":\"App.exe\",\"data\":[]}");
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[1].message.find("lists no files"), std::string::npos);
}

TEST(ManifestReaderTest, EntriesAreReadAsTheUpdaterReadsThem) {
  // `data` as an object is read member by member; numbers are read as their text; escapes
  // are resolved, \uXXXX ones too; `size` only as an integer.
  const ManifestRecords records = ReadManifestText(
      "{\"run\":\"App.exe\",\"data\":{\"a\":{\"md5\":12,\"path\":\"\\\\中\\/x.dll\",\"size\":7},"
      "\"b\":{\"path\":\"\\\\u\\u4e2d\",\"size\":\"7\"}}}",
      ManifestEncoding::Utf8);
  ASSERT_TRUE(records.parsed) << records.error;
  ASSERT_EQ(records.entries.size(), 2u);
  EXPECT_EQ(records.entries[0].md5, u"12");
  EXPECT_EQ(records.entries[0].path, u"\\中/x.dll");
  EXPECT_EQ(records.entries[0].size, 7u);
  EXPECT_EQ(records.entries[1].path, u"\\u中");
  EXPECT_FALSE(records.entries[1].size.has_value());
}

TEST(ManifestReaderTest, TextThatCannotBeReadSaysWhereAndWhy) {
  const struct {
    std::string text;
    ManifestEncoding encoding;
    std::string message;
  } cases[] = {
      {"", ManifestEncoding::Utf8, "the manifest is empty"},
      {std::string("\0{}", 3), ManifestEncoding::Utf8, "the manifest is empty"},
      {text::Utf8ToNarrow("{\"run\":\"启动.exe\"}"), ManifestEncoding::Utf8, "not valid UTF-8"},
      {"{\"run\":\"a\",\n\"data\":[1,2}", ManifestEncoding::Utf8, "not valid JSON: a value that is not valid at line 2, column 11 (character 23)"},
      {"{\"run\":\"a\",\r\n\"data\":[", ManifestEncoding::Utf8, "not valid JSON: an array, object or text that is not closed at line 2, column 9"},
  };
  for (const auto& test : cases) {
    const ManifestRecords records = ReadManifestText(test.text, test.encoding);
    EXPECT_FALSE(records.parsed);
    EXPECT_NE(records.error.find(test.message), std::string::npos) << test.text << " -> " << records.error;
  }
  // The same GBK text is a good hand-off file.
  const ManifestRecords handOff = ReadManifestText(text::Utf8ToNarrow("{\"run\":\"启动.exe\"}"), ManifestEncoding::Gbk);
  EXPECT_TRUE(handOff.parsed);
  EXPECT_EQ(handOff.run, u"启动.exe");
}

TEST(ManifestReaderTest, AZeroByteEndsTheTextAsForTheUpdater) {
  const ManifestRecords records = ReadManifestText(std::string("{\"run\":\"a\"}\0garbage", 20), ManifestEncoding::Utf8);
  EXPECT_TRUE(records.parsed);
  EXPECT_NE(records.notes.find("zero byte at offset 11"), std::string::npos) << records.notes;
}

}  // namespace
}  // namespace velmora::release
