#include "release_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "json/json_document.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "update/fingerprint.h"
#include "update/manifest.h"

namespace velmora::release {
namespace {

namespace fs = std::filesystem;

// A release folder with what releases hold: nested folders, Chinese names, a space, an empty file.
class ReleaseCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Write("Velmora.exe", "velmora 2.1");
    Write("Bin/core.dll", std::string(300000, 'c'));
    Write("Bin/界面 资源.dat", "资源");
    Write("Bin/Config/empty.ini", "");
  }

  void Write(const std::string& relative, const std::string& bytes, const fs::path& root = {}) {
    const fs::path path = (root.empty() ? release.Path() : root) / fs::u8path(relative);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  int Run(std::vector<std::string> arguments) {
    console = CapturedConsole();
    return RunRelease(arguments, console);
  }

  std::string Utf8(const velmora::testing::TempDir& dir) const { return text::NarrowToUtf8(dir.Narrow()); }

  velmora::testing::TempDir release;
  velmora::testing::TempDir scratch;
  CapturedConsole console;
};

TEST_F(ReleaseCommandsTest, ManifestListsEveryFileInOrderWithDigestsUrlsAndPaths) {
  ASSERT_EQ(Run({"manifest", Utf8(release), "--base-url", "https://cdn.example.com/2.1/", "--run=./velmora.EXE", "--quiet"}),
            kExitSuccess)
      << console.err;
  json::JsonDocument manifest;
  ASSERT_TRUE(manifest.Parse(text::Utf8ToNarrow(console.out)));  // as the updater reads the server's text
  EXPECT_EQ(manifest.GetText("run"), "Velmora.exe");              // the release's own spelling
  ASSERT_EQ(manifest.GetCount("data"), 4);
  const auto field = [&](int i, const char* name) { return text::NarrowToUtf8(manifest.GetText("data[" + std::to_string(i) + "]." + name)); };
  EXPECT_EQ(field(0, "path"), "\\Bin\\Config\\empty.ini");
  EXPECT_EQ(field(0, "md5"), update::kEmptyDataMd5);
  EXPECT_EQ(field(0, "size"), "0");
  EXPECT_EQ(field(1, "path"), "\\Bin\\core.dll");
  EXPECT_EQ(field(1, "url"), "https://cdn.example.com/2.1/Bin/core.dll");
  EXPECT_EQ(field(1, "md5"), update::Md5Hex(std::string(300000, 'c')));
  EXPECT_EQ(field(2, "name"), "界面 资源.dat");
  EXPECT_EQ(field(2, "path"), "\\Bin\\界面 资源.dat");
  EXPECT_EQ(field(2, "url"), "https://cdn.example.com/2.1/Bin/%E7%95%8C%E9%9D%A2%20%E8%B5%84%E6%BA%90.dat");
  EXPECT_EQ(field(3, "path"), "\\Velmora.exe");
  // UTF-8 as it is, never "?" or \u escapes.
  EXPECT_NE(console.out.find("\"\\\\Bin\\\\界面 资源.dat\""), std::string::npos) << console.out;
}

TEST_F(ReleaseCommandsTest, HandOffManifestsAreGbkAndWrittenInOneStep) {
  const fs::path out = scratch.Path() / "UP.data";
  ASSERT_EQ(Run({"manifest", Utf8(release), "--base-url", "http://127.0.0.1:8000", "--run", "Velmora.exe", "--handoff",
                 "--content-addressed", "--out", text::NarrowToUtf8(scratch.Narrow()) + "/UP.data"}),
            kExitSuccess)
      << console.err;
  EXPECT_NE(console.out.find("4 files"), std::string::npos) << console.out;
  EXPECT_FALSE(fs::exists(scratch.Path() / "UP.data.velmora-new"));
  const std::string bytes = Read(out);
  EXPECT_NE(bytes.find(text::Utf8ToNarrow("界面 资源.dat")), std::string::npos);
  json::JsonDocument manifest;
  ASSERT_TRUE(manifest.Parse(bytes));  // as the updater reads the hand-off file: GBK, no conversion
  EXPECT_EQ(manifest.GetText("data[2].url"), "http://127.0.0.1:8000/files/" + update::Md5Hex("资源") +
                                                 "/%E7%95%8C%E9%9D%A2%20%E8%B5%84%E6%BA%90.dat");
}

TEST_F(ReleaseCommandsTest, UsageErrorsExitWithTwoAndSayWhy) {
  const std::string folder = Utf8(release);
  const struct {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {{}, "no command given"},
      {{"pack", folder}, "unknown command \"pack\""},
      {{"manifest", folder, "--run", "Velmora.exe"}, "manifest needs --base-url"},
      {{"manifest", folder, "--base-url", "http://h"}, "manifest needs --run"},
      {{"manifest", folder, "--base-url", "http://h", "--run"}, "option --run needs a value"},
      {{"manifest", folder, "--base-url", "ftp://h", "--run", "Velmora.exe"}, "invalid --base-url \"ftp://h\""},
      {{"manifest", folder, "--base-url", "http://h", "--run", "Velmora.exe", "--fast"}, "unknown option \"--fast\""},
      {{"manifest", folder + "/nothing", "--base-url", "http://h", "--run", "Velmora.exe"}, "no such folder: "},
      {{"manifest", folder, "--base-url", "http://h", "--run", "Gone.exe"}, "--run \"Gone.exe\" names no file"},
      {{"verify"}, "verify takes 1 or 2 arguments, not 0"},
      {{"verify", folder, folder, "--base-url", "http://h/a?b"}, "invalid --base-url \"http://h/a?b\""},
      {{"verify", folder + "/up.txt", folder}, "cannot read the manifest"},
      {{"diff", folder, folder + "/nothing"}, "no such folder or manifest"},
      {{"publish", folder, folder + "/out", "--base-url", "http://h", "--run", "Velmora.exe"}, "must not lie inside"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(Run(test.arguments), kExitUsage) << test.message;
    EXPECT_NE(console.err.find(test.message), std::string::npos) << console.err;
    EXPECT_NE(console.err.find("--help"), std::string::npos) << console.err;
  }
}

TEST_F(ReleaseCommandsTest, EveryCommandHasHelp) {
  for (const char* command : {"manifest", "publish", "rollout", "verify", "diff"}) {
    EXPECT_EQ(Run({command, "--help"}), kExitSuccess);
    EXPECT_EQ(console.out.rfind("velmora-release " + std::string(command), 0), 0u) << console.out;
    EXPECT_EQ(Run({"help", command}), kExitSuccess);
  }
  EXPECT_EQ(Run({"--help"}), kExitSuccess);
  EXPECT_NE(console.out.find("Exit status"), std::string::npos);
}

TEST_F(ReleaseCommandsTest, AFolderThatCannotBePublishedFailsWithEveryFileNamed) {
  Write("smile\xF0\x9F\x98\x80.txt", "x");
  EXPECT_EQ(Run({"manifest", Utf8(release), "--base-url", "http://h", "--run", "Velmora.exe"}), kExitFailed);
  EXPECT_NE(console.err.find("\\smile\xF0\x9F\x98\x80.txt: the name holds characters without a GBK"), std::string::npos)
      << console.err;
  EXPECT_EQ(console.out, "");
}

TEST_F(ReleaseCommandsTest, PublishLaysOutAContentAddressedTreeThatVerifiesAgainstTheRelease) {
  Write("Bin/copy/core.dll", std::string(300000, 'c'));  // the same file twice: published once
  Write("Lib/CORE.DLL", std::string(300000, 'c'));  // one file on Windows too: under the first name
  const std::string out = Utf8(scratch) + "/site";
  ASSERT_EQ(Run({"publish", Utf8(release), out, "--base-url", "http://127.0.0.1:9/", "--run", "Velmora.exe"}),
            kExitSuccess)
      << console.err;
  const fs::path site = scratch.Path() / "site";
  const fs::path manifest = site / "download" / "2099" / "pro" / "up.txt";
  ASSERT_TRUE(fs::exists(manifest));
  const std::string coreMd5 = update::Md5Hex(std::string(300000, 'c'));
  EXPECT_EQ(Read(site / "files" / coreMd5 / "core.dll"), std::string(300000, 'c'));
  // Under its real name, where a web server looks after decoding the url; the url is encoded.
  const std::string resourceMd5 = update::Md5Hex("资源");
  EXPECT_EQ(Read(site / "files" / resourceMd5 / fs::u8path("界面 资源.dat")), "资源");
  std::size_t published = 0;
  for (const auto& item : fs::recursive_directory_iterator(site / "files")) published += item.is_regular_file();
  EXPECT_EQ(published, 6u);  // core.dll has its chunk index and pack beside it
  EXPECT_TRUE(fs::exists(site / "files" / coreMd5 / "core.dll.vmdi"));
  EXPECT_NE(Read(manifest).find("http:\\/\\/127.0.0.1:9\\/files\\/" + coreMd5 + "\\/core.dll"), std::string::npos);
  json::JsonDocument document;
  ASSERT_TRUE(document.Parse(text::Utf8ToNarrow(Read(manifest))));
  std::set<std::string> coreUrls;
  for (int i = 0; i < document.GetCount("data"); ++i) {
    const std::string entry = "data[" + std::to_string(i) + "].";
    if (document.GetText(entry + "md5") == coreMd5) coreUrls.insert(document.GetText(entry + "url"));
  }
  EXPECT_EQ(coreUrls, std::set<std::string>{"http://127.0.0.1:9/files/" + coreMd5 + "/core.dll"});
  EXPECT_NE(Read(manifest).find("\\/files\\/" + resourceMd5 + "\\/%E7%95%8C%E9%9D%A2%20%E8%B5%84%E6%BA%90.dat"),
            std::string::npos);

  const std::string manifestArgument = text::NarrowToUtf8(text::WideToNarrow(manifest.u16string(), text::NarrowCodePage));
  EXPECT_EQ(Run({"verify", manifestArgument, Utf8(release)}), kExitSuccess) << console.out << console.err;
  EXPECT_NE(console.out.find("0 problems in the manifest; 6 files checked"), std::string::npos) << console.out;
  // The tree itself, each file found through its url as a web server finds it.
  EXPECT_EQ(Run({"verify", manifestArgument, out, "--base-url", "http://127.0.0.1:9"}), kExitSuccess)
      << console.out << console.err;
  EXPECT_NE(console.out.find("0 problems in the manifest; 6 files checked in " + out +
                             " as served at http://127.0.0.1:9: 6 match"),
            std::string::npos)
      << console.out;
}

TEST_F(ReleaseCommandsTest, VerifyOfAServedTreeNamesEveryUrlThatLeadsToNoFile) {
  const std::string out = Utf8(scratch) + "/site";
  ASSERT_EQ(Run({"publish", Utf8(release), out, "--base-url", "http://127.0.0.1:9/r", "--run", "Velmora.exe"}),
            kExitSuccess)
      << console.err;
  const fs::path site = scratch.Path() / "site";
  const fs::path manifest = site / "download" / "2099" / "pro" / "up.txt";
  std::string bytes = Read(manifest);
  const auto replace = [&bytes](const std::string& from, const std::string& to) {
    const std::size_t at = bytes.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    bytes.replace(at, from.size(), to);
  };
  replace("\\/core.dll\"", "%2Fcore.dll\"");
  replace("\\/Velmora.exe\"", "\\/..\\/..\\/..\\/Velmora.exe\"");
  Write("download/2099/pro/up.txt", bytes, site);
  fs::remove(site / "files" / update::Md5Hex("资源") / fs::u8path("界面 资源.dat"));

  const std::string manifestArgument = out + "/download/2099/pro/up.txt";
  EXPECT_EQ(Run({"verify", manifestArgument, out, "--base-url", "http://127.0.0.1:9/r/"}), kExitFailed);
  EXPECT_NE(console.out.find("bad url   \\Bin\\core.dll: its url \"http://127.0.0.1:9/r/files/" +
                             update::Md5Hex(std::string(300000, 'c')) + "%2Fcore.dll\" holds an encoded \"/\""),
            std::string::npos)
      << console.out;
  EXPECT_NE(console.out.find("bad url   \\Velmora.exe: its url"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("leaves the served folder with \"..\""), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("missing   \\Bin\\界面 资源.dat (files/" + update::Md5Hex("资源") + "/界面 资源.dat)"),
            std::string::npos)
      << console.out;
  EXPECT_NE(console.out.find("4 files checked in " + out + " as served at http://127.0.0.1:9/r/: 1 match, 3 missing"),
            std::string::npos)
      << console.out;

  // Served at another address, no url leads into the tree.
  EXPECT_EQ(Run({"verify", manifestArgument, out, "--base-url", "http://127.0.0.1:9/other"}), kExitFailed);
  EXPECT_NE(console.out.find("\\Bin\\Config\\empty.ini: its url \"http://127.0.0.1:9/r/files/" +
                             std::string(update::kEmptyDataMd5) +
                             "/empty.ini\" does not begin with the base URL http://127.0.0.1:9/other"),
            std::string::npos)
      << console.out;
}

TEST_F(ReleaseCommandsTest, VerifyListsMissingAndDifferingFiles) {
  const std::string manifest = Utf8(scratch) + "/up.txt";
  ASSERT_EQ(Run({"manifest", Utf8(release), "--base-url", "http://h", "--run", "Velmora.exe", "--out", manifest}),
            kExitSuccess);
  Write("Bin/core.dll", "patched");
  fs::remove(release.Path() / "Bin" / "Config" / "empty.ini");
  EXPECT_EQ(Run({"verify", manifest, Utf8(release)}), kExitFailed);
  EXPECT_NE(console.out.find("differs   \\Bin\\core.dll: its md5 is " + update::Md5Hex("patched")), std::string::npos)
      << console.out;
  EXPECT_NE(console.out.find("missing   \\Bin\\Config\\empty.ini"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("4 files checked in " + Utf8(release) + ": 2 match, 2 missing or differing"),
            std::string::npos)
      << console.out;
}

TEST_F(ReleaseCommandsTest, VerifyReportsAManifestThatDoesNotParseWithItsPlace) {
  Write("up.txt", "{\"run\":\"a\",\n\"data\":[", scratch.Path());
  EXPECT_EQ(Run({"verify", Utf8(scratch) + "/up.txt", Utf8(release)}), kExitFailed);
  EXPECT_NE(console.err.find("up.txt: not valid JSON"), std::string::npos) << console.err;
  EXPECT_NE(console.err.find("line 2"), std::string::npos) << console.err;
}

TEST_F(ReleaseCommandsTest, DiffListsWhatAnUpdateDownloadsWithSizes) {
  velmora::testing::TempDir old;
  Write("Velmora.exe", "velmora 2.0", old.Path());
  Write("BIN/CORE.DLL", std::string(300000, 'c'), old.Path());  // the same file on Windows, unchanged
  Write("Gone/old only.dll", "gone", old.Path());  // not below BIN: Windows would list it as \BIN\...
  ASSERT_EQ(Run({"diff", Utf8(old), Utf8(release)}), kExitFailed) << console.err;  // they differ, as diff says
  EXPECT_EQ(console.out,
            "new      \\Bin\\Config\\empty.ini  0 bytes\n"
            "new      \\Bin\\界面 资源.dat  6 bytes\n"
            "changed  \\Velmora.exe  11 bytes\n"
            "only in OLD  \\Gone\\old only.dll\n"
            "3 files to download, 17 bytes; 1 unchanged; 1 only in OLD (the updater leaves them in place)\n");

  // Manifests give the same answer; one without sizes says so.
  const std::string newManifest = Utf8(scratch) + "/new.txt";
  ASSERT_EQ(Run({"manifest", Utf8(release), "--base-url", "http://h", "--run", "Velmora.exe", "--out", newManifest}),
            kExitSuccess);
  ASSERT_EQ(Run({"diff", Utf8(old), newManifest}), kExitFailed) << console.err;
  EXPECT_NE(console.out.find("3 files to download, 17 bytes; 1 unchanged"), std::string::npos) << console.out;
  Write("bare.txt", "{\"run\":\"Velmora.exe\",\"data\":[{\"md5\":\"" + update::Md5Hex("x") + "\",\"path\":\"\\\\a.dll\"}]}",
        scratch.Path());
  ASSERT_EQ(Run({"diff", newManifest, Utf8(scratch) + "/bare.txt"}), kExitFailed) << console.err;
  EXPECT_EQ(console.out,
            "new      \\a.dll  size unknown\n"
            "only in OLD  \\Bin\\Config\\empty.ini\nonly in OLD  \\Bin\\core.dll\n"
            "only in OLD  \\Bin\\界面 资源.dat\nonly in OLD  \\Velmora.exe\n"
            "1 file to download, at least 0 bytes (1 without a size in the manifest); 0 unchanged; 4 only in OLD "
            "(the updater leaves them in place)\n");
  EXPECT_EQ(Run({"diff", Utf8(release), newManifest}), kExitSuccess) << console.out;  // the same files
}

}  // namespace
}  // namespace velmora::release
