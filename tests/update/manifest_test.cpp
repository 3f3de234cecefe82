#include "update/manifest.h"

#include <filesystem>
#include <fstream>

#include "check_doubles.h"
#include "platform/code_signature.h"
#include "update/code_signing.h"
#include "update/fingerprint.h"
#include "update/rolled_back_release.h"
#include "update/staging_files.h"

namespace velmora::update {
namespace {

using testing::ManifestFile;
using testing::ManifestJson;
using testing::ProgramEnded;

const std::string kNoManifest = "获取Update文件列表失败 / 错误代码：UpData数据为空";
const std::string kBadManifest = "获取Update文件列表失败 / 错误代码：UpData数据错误";

std::vector<std::string> PathsOf(const state::UpdateList& list) {
  std::vector<std::string> paths;
  for (const state::UpdateEntry& entry : list) paths.push_back(text::NarrowToUtf8(entry.path));
  return paths;
}

class LoadManifestTest : public testing::UpdateCheckTest {
 protected:
  // The state a refused manifest must leave alone.
  void GiveEarlierState() {
    state::State().launchTarget = "Old.exe";
    state::UpdateEntry entry;
    entry.name = "old";
    entry.md5 = "0";
    entry.url = "u";
    entry.path = "\\old";
    state::State().updateList.push_back(entry);
  }
  void ExpectEarlierState() {
    EXPECT_EQ(state::State().launchTarget, "Old.exe");
    ASSERT_EQ(state::State().updateList.size(), 1u);
    EXPECT_EQ(state::State().updateList[0].path, "\\old");
  }
};

TEST_F(LoadManifestTest, ListsTheStaleFilesInManifestOrder) {
  WriteProductFile("\\App.exe", "app v1");
  WriteProductFile("\\Bin\\core.dll", "core v2");
  WriteProductFile("\\Bin\\ui.dll", "ui v2");
  WriteProductFile("\\readme.txt", "read me");
  ServerAnswers(ManifestJson("App.exe", {
      {"App", Md5Hex("app v2"), "\\App.exe"},              // changed
      {"core", Md5Hex("core v2"), "\\Bin\\core.dll"},      // up to date
      {"new", Md5Hex("new"), "\\Bin\\new.dll"},            // missing here
      {"ui", Md5Hex("ui v2"), "\\Bin\\ui.dll"},            // up to date
      {"readme", Md5Hex("read me", true), "\\readme.txt"}, // same bytes, upper-case digest
      {"odd", "not a digest", "\\Bin\\ui.dll"},          // no MD5 to compare: always listed
  }));

  EXPECT_EQ(LoadManifest(), 3);

  EXPECT_EQ(PathsOf(state::State().updateList),
            (std::vector<std::string>{"\\App.exe", "\\Bin\\new.dll", "\\Bin\\ui.dll"}));
  const state::UpdateEntry& first = state::State().updateList[0];
  EXPECT_EQ(first.name, "App");
  EXPECT_EQ(first.md5.Text(), Md5Hex("app v2"));
  EXPECT_EQ(first.url, "http://127.0.0.1/App");
  EXPECT_EQ(state::State().launchTarget, "App.exe");
  EXPECT_EQ(log, (testing::EventLog{"get " + ManifestUrl() + " 90000"}));  // one request, no notice
}

TEST_F(LoadManifestTest, AReleaseThatWasRolledBackIsNotOfferedAgainButAnyOtherIs) {
  WriteProductFile("\\App.exe", "app v1");
  WriteProductFile("\\Bin\\core.dll", "core v1");
  const std::vector<testing::ManifestFile> release = {{"App", Md5Hex("app v2"), "\\App.exe"},
                                                      {"core", Md5Hex("core v2"), "\\Bin\\core.dll"}};
  ServerAnswers(ManifestJson("App.exe", release));
  ASSERT_EQ(LoadManifest(), 2);
  const std::string rolledBack = state::State().releaseIdentity;
  WriteProductFile("\\Bin\\Config\\keep", "");
  RememberRolledBackRelease(runDirectory.Narrow(), rolledBack);

  // The same entries, in another order, from other addresses, with the digests in upper case.
  ServerAnswers(ManifestJson("App.exe", {{"core2", Md5Hex("core v2", true), "\\BIN\\core.dll"},
                                         {"App2", Md5Hex("app v2"), "\\App.exe"}}));
  EXPECT_EQ(LoadManifest(), 0);
  EXPECT_EQ(state::State().releaseIdentity, rolledBack);

  // One entry differs: a release of its own, offered as usual.
  ServerAnswers(ManifestJson("App.exe", {release[0], {"core", Md5Hex("core v3"), "\\Bin\\core.dll"}}));
  EXPECT_EQ(LoadManifest(), 2);
  ForgetRolledBackRelease(runDirectory.Narrow());
  ServerAnswers(ManifestJson("App.exe", release));
  EXPECT_EQ(LoadManifest(), 2);
}

TEST_F(LoadManifestTest, KeepsOnlyTheStagingFilesOfEntriesStillToBeDownloaded) {
  WriteProductFile("\\Bin\\core.dll", "core v2");
  const std::string run = runDirectory.Narrow();
  auto staging = [&](const std::string& path, const std::string& md5, const std::string& /*name*/) {
    state::UpdateEntry entry;
    entry.md5 = md5;
    const std::string file = StagingPathOf(run + text::Utf8ToNarrow(path), entry);
    WriteProductFile(text::NarrowToUtf8(file.substr(run.size())), "part");
    return text::NarrowToUtf8(file.substr(run.size() + 1));
  };
  const std::string resumable = staging("\\Bin\\新.dll", Md5Hex("new"), "new");
  const std::string upperCase = staging("\\Bin\\APP.EXE", Md5Hex("app v2"), "App");
  staging("\\Bin\\新.dll", Md5Hex("new, older release"), "new");  // the entry changed since
  staging("\\Bin\\core.dll", Md5Hex("core v2"), "core");         // up to date already
  staging("\\Plugins\\Deep\\gone.dll", Md5Hex("gone"), "gone");  // no longer listed
  WriteProductFile("\\Bin\\notes.velmora-part.txt", "not a staging file");
  WriteProductFile("\\Bin\\新.dll.0123456789abcdef.velmora-part", "part");  // beside its target, as earlier versions put it
  ServerAnswers(ManifestJson("App.exe", {
      {"App", Md5Hex("app v2"), "\\bin\\app.exe"},
      {"core", Md5Hex("core v2"), "\\Bin\\core.dll"},
      {"new", Md5Hex("new"), "\\Bin\\新.dll"},
  }));

  EXPECT_EQ(LoadManifest(), 2);
  std::vector<std::string> left;
  for (const auto& item : std::filesystem::recursive_directory_iterator(runDirectory.Path())) {
    const std::u8string name = item.path().lexically_relative(runDirectory.Path()).generic_u8string();
    if (item.is_regular_file()) left.emplace_back(name.begin(), name.end());
  }
  std::sort(left.begin(), left.end());
  std::vector<std::string> expected{"Bin/Config/update.log", "Bin/core.dll", "Bin/notes.velmora-part.txt", upperCase,
                                    resumable};
  for (std::string& name : expected) std::replace(name.begin(), name.end(), '\\', '/');
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  EXPECT_FALSE(std::filesystem::exists(runDirectory.Path() / "Plugins" / "Deep" / ".velmora-staging"));
}

TEST_F(LoadManifestTest, TheManifestAddressIsAnHttpsOriginWithTheFixedPath) {
  const std::string url = ManifestUrl();
  EXPECT_EQ(url.rfind("https://", 0), 0u) << url;
  EXPECT_EQ(url.substr(url.size() - std::string(kManifestPath).size()), "/download/2099/pro/up.txt");
}

TEST_F(LoadManifestTest, AMissingLocalFileIsListedWhateverItsDigestAndAnEmptyOneIsCurrent) {
  WriteProductFile("\\Here\\empty.dat", "");
  ServerAnswers(ManifestJson("", {{"a", kEmptyDataMd5, "\\Gone\\a.dat"},
                                  {"b", Md5Hex("b"), "\\Gone\\b.dat"},
                                  {"e", kEmptyDataMd5, "\\Here\\empty.dat"}}));
  EXPECT_EQ(LoadManifest(), 2);
  EXPECT_EQ(PathsOf(state::State().updateList), (std::vector<std::string>{"\\Gone\\a.dat", "\\Gone\\b.dat"}));
}

TEST_F(LoadManifestTest, ChineseNamesFromTheServerArriveAsGbk) {
  WriteProductFile("\\数据\\配置.ini", "cfg");
  ServerAnswers(ManifestJson("启动.exe", {
      {"配置", Md5Hex("cfg"), "\\数据\\配置.ini"},
      {"更新", Md5Hex("x"), "\\数据\\更新.dat"},
  }));
  EXPECT_EQ(LoadManifest(), 1);
  ASSERT_EQ(state::State().updateList.size(), 1u);
  EXPECT_EQ(state::State().updateList[0].path, text::Utf8ToNarrow("\\数据\\更新.dat"));
  EXPECT_EQ(state::State().updateList[0].name, text::Utf8ToNarrow("更新"));
  EXPECT_EQ(state::State().launchTarget, text::Utf8ToNarrow("启动.exe"));
}

TEST_F(LoadManifestTest, NoUsableAnswerIsAnEmptyManifest) {
  const std::string json = ManifestJson("App.exe", {});
  const struct {
    const char* what;
    std::int32_t status;
    std::string body;
  } cases[] = {
      {"no response", 0, ""},
      {"empty body", 200, ""},
      {"body starting with a zero byte", 200, std::string("\0{}", 3)},
      {"404 with a JSON body", 404, json},
      {"500 with a JSON body", 500, json},
      {"redirect left unfollowed", 302, json},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    log.clear();
    GiveEarlierState();
    ServerAnswers(c.body, c.status);
    EXPECT_THROW(LoadManifest(), ProgramEnded);
    EXPECT_EQ(Notices(), (std::vector<std::string>{kNoManifest}));
    ExpectEarlierState();
    state::ResetState();
  }
}

TEST_F(LoadManifestTest, FailureNoticesAreKindTwoUnderTheProgramsTitle) {
  ServerAnswers("");
  EXPECT_THROW(LoadManifest(), ProgramEnded);
  ASSERT_EQ(presenter.shown.size(), 1u);
  EXPECT_EQ(presenter.shown[0].windowTitle, u"Velmora - Update");
  EXPECT_EQ(presenter.shown[0].mainIcon, 0xFFF9);
  EXPECT_EQ(presenter.shown[0].commonButtons, platform::kTdcbfOkButton);
}

TEST_F(LoadManifestTest, TextThatIsNotJsonIsABadManifest) {
  for (const char* body : {"<html><body>Service unavailable</body></html>", "{\"run\":\"App.exe\",\"data\":[", "Service unavailable"}) {
    SCOPED_TRACE(body);
    log.clear();
    GiveEarlierState();
    ServerAnswers(body);
    EXPECT_THROW(LoadManifest(), ProgramEnded);
    EXPECT_EQ(Notices(), (std::vector<std::string>{kBadManifest}));
    ExpectEarlierState();
    state::ResetState();
  }
}

TEST_F(LoadManifestTest, APathOrRunThatLeavesTheRunDirectoryRefusesTheWholeManifest) {
  const struct {
    const char* run;
    const char* badPath;
  } cases[] = {
      {"App.exe", "\\..\\Evil.dll"},
      {"App.exe", "\\Bin\\..\\..\\Evil.dll"},
      {"App.exe", "Bin\\x.dll"},  // glued onto the directory's name: C:\AppBin\x.dll
      {"App.exe", ""},
      {"App.exe", "\\C:\\Windows\\Evil.dll"},
      {"App.exe", "\\\\server\\share\\Evil.dll"},
      {"App.exe", "/../Evil.dll"},
      {"..\\Evil.exe", "\\ok.dll"},
      {"C:\\Windows\\Evil.exe", "\\ok.dll"},
      {"\\\\server\\Evil.exe", "\\ok.dll"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.run) + " | " + c.badPath);
    log.clear();
    GiveEarlierState();
    ServerAnswers(ManifestJson(c.run, {{"ok", Md5Hex("ok"), "\\ok.dll"}, {"bad", Md5Hex("bad"), c.badPath}}));
    EXPECT_THROW(LoadManifest(), ProgramEnded);
    EXPECT_EQ(Notices(), (std::vector<std::string>{kBadManifest}));
    ExpectEarlierState();
    state::ResetState();
  }
}

// A stand-in for Authenticode: a program image whose next bytes are "signed" is validly signed.
platform::CodeSignature SignedWhenSaysSo(const std::string& path) {
  std::ifstream in(velmora::testing::PathFromNarrow(path), std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  if (bytes.rfind("MZsigned", 0) == 0) return {platform::CodeSignatureStatus::Valid, "Velmora", "ok"};
  return {platform::CodeSignatureStatus::Unsigned, {}, "no"};
}

TEST_F(LoadManifestTest, APinnedBuildStartsOnlyAListedOrSignedProgramImage) {
  const std::string subject = "Velmora";
  ReplaceCodeSigningSubject(&subject);
  platform::ReplaceCodeSignatureReader(SignedWhenSaysSo);
  WriteProductFile("\\Here.exe", "MZsigned");
  WriteProductFile("\\Plain.exe", "MZ");
  WriteProductFile("\\Text.exe", "echo");
  const struct {
    const char* run;
    bool accepted;
  } cases[] = {
      {"App.exe", true},     // listed: checked when staged and before it starts
      {"Here.exe", true},    // not listed, signed in the folder
      {"", true},            // nothing to start
      {"start.bat", false},  {"start.CMD", false}, {"Velmora.lnk", false}, {"setup.msi", false},
      {"Gone.exe", false},   // neither listed nor in the folder
      {"Plain.exe", false},  // an unsigned image
      {"Text.exe", false},   // no image at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.run);
    log.clear();
    GiveEarlierState();
    ServerAnswers(ManifestJson(c.run, {{"App", Md5Hex("app"), "\\App.exe"}, {"start", Md5Hex("s"), "\\start.bat"}}));
    if (c.accepted) {
      EXPECT_EQ(LoadManifest(), 2);
    } else {
      EXPECT_THROW(LoadManifest(), ProgramEnded);
      EXPECT_EQ(Notices(), (std::vector<std::string>{kBadManifest}));
      ExpectEarlierState();
    }
    state::ResetState();
  }
  platform::ReplaceCodeSignatureReader(nullptr);
  ReplaceCodeSigningSubject(nullptr);
}

TEST_F(LoadManifestTest, EntriesAreReadWhateverShapeDataHas) {
  const struct {
    const char* json;
    std::int32_t listed;
  } cases[] = {
      {R"({"run":"App.exe","data":[]})", 0},
      {R"({"run":"App.exe"})", 0},
      {R"({"run":"App.exe","data":"none"})", 0},
      {R"({"data":{"a":{"md5":"x","path":"\\a"},"b":{"md5":"y","path":"\\b"}}})", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    log.clear();
    state::ResetState();
    ServerAnswers(c.json);
    EXPECT_EQ(LoadManifest(), c.listed);
    EXPECT_TRUE(Notices().empty());
  }
}

// The `delta` member says where an entry's chunk index and pack lie. A malformed one is ignored
// (the file is fetched whole), never a reason to refuse the manifest.
TEST_F(LoadManifestTest, ReadsAnEntrysDeltaMemberAndIgnoresAMalformedOne) {
  const std::string sha(64, 'a');
  const std::string upper(64, 'C');
  const auto manifest = [&](const std::string& replace, const std::string& with) {
    std::string fields = R"("index":"https://h/files/x/%E6%A0%B8.dll.vmdi","indexSize":300,"indexSha256":")" + sha +
                         R"(","headSize":40,"headSha256":")" + upper + R"(","pack":"https://h/files/x/%E6%A0%B8.dll.vmdp",)" +
                         R"("packSize":9000,"packSha256":")" + sha + "\"";
    if (!replace.empty()) fields.replace(fields.find(replace), replace.size(), with);
    return R"({"run":"App.exe","data":[{"name":"x","md5":")" + Md5Hex("new") +
           R"(","url":"https://h/files/x/%E6%A0%B8.dll","path":"\Bin\x.dll","size":70000,"delta":{)" + fields + "}}]}";
  };
  ServerAnswers(manifest("", ""));
  ASSERT_EQ(LoadManifest(), 1);
  const state::UpdateEntry::DeltaSource& delta = state::State().updateList[0].delta;
  EXPECT_TRUE(delta.Present());
  EXPECT_EQ(delta.indexUrl, "https://h/files/x/%E6%A0%B8.dll.vmdi");
  EXPECT_EQ(delta.indexSize, 300);
  EXPECT_EQ(delta.indexSha256, sha);
  EXPECT_EQ(delta.headSize, 40);
  EXPECT_EQ(delta.headSha256, std::string(64, 'c'));  // lower-cased
  EXPECT_EQ(delta.packUrl, "https://h/files/x/%E6%A0%B8.dll.vmdp");
  EXPECT_EQ(delta.packSize, 9000);
  EXPECT_EQ(delta.packSha256, sha);
  EXPECT_EQ(state::State().updateList[0].size, 70000);

  const struct {
    const char* what;
    std::string replace;
    std::string with;
  } malformed[] = {
      {"an index address missing", R"("index":"https://h/files/x/%E6%A0%B8.dll.vmdi",)", ""},
      {"an empty pack address", R"("https://h/files/x/%E6%A0%B8.dll.vmdp")", R"("")"},
      {"a pack address that is no text", R"("https://h/files/x/%E6%A0%B8.dll.vmdp")", "[]"},
      {"a size in quotes", R"("indexSize":300)", R"("indexSize":"300")"},
      {"a size of 0", R"("packSize":9000)", R"("packSize":0)"},
      {"a negative size", R"("headSize":40)", R"("headSize":-40)"},
      {"a size past 2^63-1", R"("packSize":9000)", R"("packSize":9223372036854775808)"},
      {"a fractional size", R"("packSize":9000)", R"("packSize":9000.5)"},
      {"a head longer than the index", R"("headSize":40)", R"("headSize":301)"},
      {"a short digest", R"("packSha256":")" + sha, R"("packSha256":")" + sha.substr(1)},
      {"a digest that is not hex", R"("headSha256":")" + upper, R"("headSha256":")" + std::string(64, 'g')},
      {"a digest that is no text", R"("indexSha256":")" + sha + "\"", R"("indexSha256":null)"},
  };
  for (const auto& c : malformed) {
    SCOPED_TRACE(c.what);
    state::ResetState();
    ServerAnswers(manifest(c.replace, c.with));
    ASSERT_EQ(LoadManifest(), 1);
    EXPECT_TRUE(Notices().empty());
    EXPECT_FALSE(state::State().updateList[0].delta.Present());
    EXPECT_EQ(state::State().updateList[0].delta.indexUrl, "");
    EXPECT_EQ(state::State().updateList[0].delta.packSize, -1);
  }
  for (const char* member : {R"("delta":"none")", R"("delta":[1])", R"("delta":null)"}) {
    SCOPED_TRACE(member);
    state::ResetState();
    ServerAnswers(R"({"run":"App.exe","data":[{"md5":"0","url":"u","path":"\x.dll",)" + std::string(member) + "}]}");
    ASSERT_EQ(LoadManifest(), 1);
    EXPECT_TRUE(Notices().empty());
    EXPECT_FALSE(state::State().updateList[0].delta.Present());
  }
}

class HandOffTest : public LoadManifestTest {
 protected:
  void SetUp() override {
    LoadManifestTest::SetUp();
    state::State().fetchFromServer = false;
  }
  std::filesystem::path HandOffPath() const { return velmora::testing::PathFromNarrow(HandOffFile()); }
  void WriteHandOff(const std::string& gbk) { runDirectory.WriteFile("Bin\\Config\\UP.data", gbk); }
};

TEST_F(HandOffTest, TheGbkFileIsReadWithoutConversionAndThenDeleted) {
  WriteProductFile("\\数据\\配置.ini", "old");
  WriteHandOff(text::Utf8ToNarrow(ManifestJson("启动.exe", {{"配置", Md5Hex("new"), "\\数据\\配置.ini"}})));

  EXPECT_EQ(LoadManifest(), 1);

  EXPECT_EQ(state::State().updateList[0].path, text::Utf8ToNarrow("\\数据\\配置.ini"));
  EXPECT_EQ(state::State().launchTarget, text::Utf8ToNarrow("启动.exe"));
  EXPECT_FALSE(std::filesystem::exists(HandOffPath()));
  EXPECT_TRUE(log.empty()) << "no request to the server, no notice";
}

TEST_F(HandOffTest, AMissingOrEmptyFileIsAnEmptyManifest) {
  EXPECT_THROW(LoadManifest(), ProgramEnded);
  WriteHandOff("");
  EXPECT_THROW(LoadManifest(), ProgramEnded);
  EXPECT_EQ(Notices(), (std::vector<std::string>{kNoManifest, kNoManifest}));
}

TEST_F(HandOffTest, UnicodeEscapesAreDecodedAndANameWithoutAGbkFormRefusesTheManifest) {
  const auto manifest = [](const std::string& jsonPath) {
    return R"({"run":"App.exe","data":[{"name":"b","md5":"0","url":"u","path":"\\Bin\\ok.dll"},)"
           R"({"name":"a","md5":"0","url":"u","path":")" + jsonPath + "\"}]}";
  };
  // As Python's json.dumps writes names; a backslash that starts no escape stays a separator.
  WriteHandOff(manifest(R"(\\res\\caf\u00e9 \u65E5\u672c\Bin\x.dat)"));
  EXPECT_EQ(LoadManifest(), 2);
  EXPECT_EQ(state::State().updateList[1].path, text::Utf8ToNarrow("\\res\\café 日本\\Bin\\x.dat"));

  // Hangul, an emoji (a surrogate pair), a lone surrogate, an empty name; raw UTF-8 from the server.
  for (const char* path : {R"(\\res\\\ud55c.dat)", R"(\\res\\\ud83d\ude00.dat)", R"(\\res\\\ud83d.dat)",
                           R"(\\res\\\\x.dat)"}) {
    SCOPED_TRACE(path);
    state::ResetState();
    state::State().fetchFromServer = false;
    WriteHandOff(manifest(path));
    EXPECT_THROW(LoadManifest(), ProgramEnded);
  }
  state::ResetState();
  state::State().fetchFromServer = true;
  ServerAnswers(manifest(R"(\\res\\한.dat)"));
  EXPECT_THROW(LoadManifest(), ProgramEnded);
  EXPECT_EQ(Notices(), std::vector<std::string>(5, kBadManifest));
}

TEST_F(HandOffTest, ARefusedManifestLeavesTheFileInPlace) {
  WriteHandOff("not json");
  EXPECT_THROW(LoadManifest(), ProgramEnded);
  WriteHandOff(ManifestJson("App.exe", {{"x", "0", "\\..\\x"}}));
  EXPECT_THROW(LoadManifest(), ProgramEnded);
  EXPECT_EQ(Notices(), (std::vector<std::string>{kBadManifest, kBadManifest}));
  EXPECT_TRUE(std::filesystem::exists(HandOffPath()));
}

TEST_F(LoadManifestTest, AManifestFromTheServerAlsoConsumesALeftoverHandOffFile) {
  runDirectory.WriteFile("Bin\\Config\\UP.data", "{}");
  ServerAnswers(ManifestJson("App.exe", {}));
  EXPECT_EQ(LoadManifest(), 0);
  EXPECT_FALSE(std::filesystem::exists(velmora::testing::PathFromNarrow(HandOffFile())));
}

}  // namespace
}  // namespace velmora::update
