// The chunk index and pack that publish lays beside large files, the manifest's `delta` member
// that names them, and verify's checks of both.
#include "delta_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "delta/chunk_compression.h"
#include "delta/index_writer.h"
#include "json/json_document.h"
#include "manifest_checks.h"
#include "release_commands.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "update/fingerprint.h"

namespace velmora::release {
namespace {

namespace fs = std::filesystem;

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

std::string Sha256(std::string_view bytes) {
  return update::LowerCaseDigest(update::HashBytes(bytes, update::kCalgSha256, update::kSha256DigestLength));
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The file that an index and its pack describe, put together chunk by chunk.
std::string Reassemble(const std::string& index, std::uint64_t headSize, const std::string& pack) {
  std::string problem;
  const std::optional<delta::IndexHead> head = DecodeWholeIndex(index, headSize, problem);
  EXPECT_TRUE(head) << problem;
  if (!head) return {};
  std::string file;
  std::map<std::uint64_t, std::string> stored;  // a repeat is the bytes stored at its place
  for (const delta::IndexedGroup& group : head->groups) {
    const auto chunks = delta::DecodeRecord(std::string_view(index).substr(group.recordOffset, group.recordLength),
                                            *head, group);
    for (const delta::IndexedChunk& chunk : *chunks) {
      const auto bytes =
          chunk.repeat ? std::optional<std::string>(stored[chunk.packOffset])
                       : delta::InflateChunk(std::string_view(pack).substr(chunk.packOffset, chunk.packedLength),
                                             chunk.length, head->UsesDictionary() ? file : std::string());
      EXPECT_TRUE(bytes);
      if (!bytes) continue;
      stored.emplace(chunk.packOffset, *bytes);
      file += *bytes;
    }
  }
  return file;
}

class DeltaFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Repeated blocks, so that the pack stores some chunks once for several places.
    const std::string block = RandomBytes(40000, 1);
    large = RandomBytes(100000, 2) + block + RandomBytes(30000, 3) + block;
    Write(release.Path() / "Velmora.exe", "velmora");
    Write(release.Path() / "Bin" / fs::u8path("核心 库.dll"), large);
    Write(release.Path() / "Bin" / "edge.dat", std::string(kDeltaMinimumSize, 'e'));
    Write(release.Path() / "Bin" / "below.dat", std::string(kDeltaMinimumSize - 1, 'b'));
    largeMd5 = update::Md5Hex(large);
  }

  int Run(std::vector<std::string> arguments) {
    console = CapturedConsole();
    return RunRelease(arguments, console);
  }

  int Publish(std::vector<std::string> more = {}) {
    std::vector<std::string> arguments{"publish", Utf8(release.Path()), Utf8(site()), "--base-url", kBase, "--run",
                                       "Velmora.exe", "--quiet"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return Run(arguments);
  }

  int VerifyTree(std::vector<std::string> more = {}) {
    std::vector<std::string> arguments{"verify", Utf8(manifestPath()), Utf8(site()), "--base-url", kBase, "--quiet"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return Run(arguments);
  }

  static std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  }
  fs::path site() const { return scratch.Path() / "site"; }
  fs::path manifestPath() const { return site() / "download" / "2099" / "pro" / "up.txt"; }
  fs::path stored(const std::string& md5, const std::string& name) const {
    return site() / "files" / md5 / fs::u8path(name);
  }
  fs::path largeStored(const char* suffix = "") const { return stored(largeMd5, std::string("核心 库.dll") + suffix); }

  // The manifest as the updater reads the server's text.
  json::JsonDocument Manifest() const {
    json::JsonDocument document;
    EXPECT_TRUE(document.Parse(text::Utf8ToNarrow(Read(manifestPath()))));
    return document;
  }
  // The element of `data` whose path is `path` (UTF-8), as "data[N]."; empty when none is.
  static std::string Element(const json::JsonDocument& document, const std::string& path) {
    for (int i = 0; i < document.GetCount("data"); ++i) {
      const std::string element = "data[" + std::to_string(i) + "].";
      if (text::NarrowToUtf8(document.GetText(element + "path")) == path) return element;
    }
    return {};
  }

  static constexpr char kBase[] = "https://cdn.example.com/r/";
  velmora::testing::TempDir release;
  velmora::testing::TempDir scratch;
  CapturedConsole console;
  std::string large;
  std::string largeMd5;
};

TEST_F(DeltaFilesTest, PublishWritesAnIndexAndPackForFilesOf64KiBOrMoreAndListsThem) {
  ASSERT_EQ(Publish(), kExitSuccess) << console.err;
  EXPECT_NE(console.out.find("chunk index and pack of 2 files of 64.0 KiB (65536 bytes) or more; 2 written, 0 already"),
            std::string::npos)
      << console.out;
  const json::JsonDocument manifest = Manifest();
  const std::string element = Element(manifest, "\\Bin\\核心 库.dll");
  ASSERT_FALSE(element.empty());
  const std::string delta = element + "delta.";
  const std::string url = manifest.GetText(element + "url");
  EXPECT_EQ(url, "https://cdn.example.com/r/files/" + largeMd5 + "/%E6%A0%B8%E5%BF%83%20%E5%BA%93.dll");
  EXPECT_EQ(manifest.GetText(delta + "index"), url + ".vmdi");
  EXPECT_EQ(manifest.GetText(delta + "pack"), url + ".vmdp");

  const std::string index = Read(largeStored(".vmdi"));
  const std::string pack = Read(largeStored(".vmdp"));
  const auto headSize = static_cast<std::uint64_t>(manifest.GetInt64(delta + "headSize"));
  EXPECT_EQ(manifest.GetType(delta + "indexSize"), json::JsonKind::Integer);
  EXPECT_EQ(manifest.GetInt64(delta + "indexSize"), static_cast<std::int64_t>(index.size()));
  EXPECT_EQ(manifest.GetText(delta + "indexSha256"), Sha256(index));
  EXPECT_EQ(delta::HeadLengthOf(index), headSize);
  EXPECT_EQ(manifest.GetText(delta + "headSha256"), Sha256(std::string_view(index).substr(0, headSize)));
  EXPECT_EQ(manifest.GetInt64(delta + "packSize"), static_cast<std::int64_t>(pack.size()));
  EXPECT_EQ(manifest.GetText(delta + "packSha256"), Sha256(pack));
  // The pair describes the file exactly, and stores the repeated block once.
  EXPECT_EQ(Reassemble(index, headSize, pack), large);
  EXPECT_LT(pack.size(), large.size() - 15000);

  // Exactly at the threshold it has them; one byte below, and the small files, not.
  EXPECT_EQ(manifest.GetType(Element(manifest, "\\Bin\\edge.dat") + "delta"), json::JsonKind::Object);
  for (const char* path : {"\\Bin\\below.dat", "\\Velmora.exe"}) {
    EXPECT_EQ(manifest.GetType(Element(manifest, path) + "delta"), json::JsonKind::Raw) << path;
  }
  const std::string belowMd5 = update::Md5Hex(std::string(kDeltaMinimumSize - 1, 'b'));
  EXPECT_TRUE(fs::exists(stored(belowMd5, "below.dat")));
  EXPECT_FALSE(fs::exists(stored(belowMd5, "below.dat.vmdi")));
  EXPECT_FALSE(fs::exists(stored(belowMd5, "below.dat.vmdp")));
  for (const auto& item : fs::recursive_directory_iterator(site())) {
    EXPECT_EQ(item.path().string().find(".velmora-new"), std::string::npos) << item.path();
  }

  ASSERT_EQ(VerifyTree(), kExitSuccess) << console.out << console.err;
  EXPECT_NE(console.out.find("4 match, 0 missing or differing; chunk index and pack of 2 files: 2 match, 0 missing"),
            std::string::npos)
      << console.out;
  // A release folder holds no chunk indexes: they are left unchecked, not missing.
  ASSERT_EQ(Run({"verify", Utf8(manifestPath()), Utf8(release.Path()), "--quiet"}), kExitSuccess) << console.out;
  EXPECT_NE(console.out.find("2 chunk indexes not checked"), std::string::npos) << console.out;
}

TEST_F(DeltaFilesTest, PublishingAgainKeepsACorrectPairAndRewritesADamagedOne) {
  ASSERT_EQ(Publish(), kExitSuccess) << console.err;
  const std::string firstManifest = Read(manifestPath());
  const std::string index = Read(largeStored(".vmdi"));
  const std::string pack = Read(largeStored(".vmdp"));
  // Marks that survive only if the files are not written again.
  const auto indexTime = fs::last_write_time(largeStored(".vmdi")) - std::chrono::hours(1);
  fs::last_write_time(largeStored(".vmdi"), indexTime);
  fs::last_write_time(largeStored(), indexTime);

  ASSERT_EQ(Publish(), kExitSuccess) << console.err;
  EXPECT_NE(console.out.find("0 written, 2 already in place"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("(4 files; 0 written, 4 already in place;"), std::string::npos) << console.out;
  EXPECT_EQ(fs::last_write_time(largeStored(".vmdi")), indexTime);
  EXPECT_EQ(fs::last_write_time(largeStored()), indexTime);
  EXPECT_EQ(Read(manifestPath()), firstManifest);

  const struct {
    const char* what;
    const char* suffix;
    std::function<std::string(std::string)> damage;
  } cases[] = {
      {"a pack byte changed", ".vmdp", [](std::string b) { b[b.size() / 2] ^= 0x20; return b; }},
      {"a pack cut short", ".vmdp", [](std::string b) { b.pop_back(); return b; }},
      {"a record byte changed", ".vmdi", [](std::string b) { b[b.size() - 3] ^= 0x01; return b; }},
      {"an index with a byte more", ".vmdi", [](std::string b) { return b + "x"; }},
      {"the pack of another file", ".vmdp", [](std::string) { return delta::DeflateChunk(std::string(70000, 'z')); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Write(largeStored(c.suffix), c.damage(Read(largeStored(c.suffix))));
    ASSERT_EQ(Publish(), kExitSuccess) << console.err;
    EXPECT_NE(console.out.find("1 written, 1 already in place"), std::string::npos) << console.out;
    EXPECT_EQ(Read(largeStored(".vmdi")), index);
    EXPECT_EQ(Read(largeStored(".vmdp")), pack);
  }
  // A missing pair is written again too.
  fs::remove(largeStored(".vmdp"));
  ASSERT_EQ(Publish(), kExitSuccess) << console.err;
  EXPECT_EQ(Read(largeStored(".vmdp")), pack);

  // A pair an earlier publisher wrote (chunks deflated alone) still describes the file: clients
  // and caches may hold it under its name, so it is kept as it is.
  std::string packAlone;
  const auto alone = delta::WriteIndex(large, packAlone, delta::DefaultChunkingRule(), delta::DefaultGroupingRule(),
                                       delta::kIndexVersionAlone);
  Write(largeStored(".vmdi"), alone->bytes);
  Write(largeStored(".vmdp"), packAlone);
  ASSERT_EQ(Publish(), kExitSuccess) << console.err;
  EXPECT_NE(console.out.find("0 written, 2 already in place"), std::string::npos) << console.out;
  EXPECT_EQ(Read(largeStored(".vmdp")), packAlone);
  EXPECT_EQ(Reassemble(alone->bytes, alone->headLength, packAlone), large);
}

TEST_F(DeltaFilesTest, AFileStoredUnderTheNameOfAnotherFilesIndexOrPackIsRefusedBeforeAnythingIsWritten) {
  Write(release.Path() / "Data" / fs::u8path("核心 库.DLL.VMDI"), large);  // the same content: the same folder
  Write(release.Path() / "More" / fs::u8path("核心 库.dll.vmdp"), large);
  ASSERT_EQ(Publish(), kExitFailed);
  EXPECT_NE(console.err.find("cannot be published as it is"), std::string::npos) << console.err;
  EXPECT_NE(console.err.find("\\Data\\核心 库.DLL.VMDI: it would be stored as files/" + largeMd5 +
                             "/核心 库.DLL.VMDI, the name of the chunk index of \\Bin\\核心 库.dll"),
            std::string::npos)
      << console.err;
  EXPECT_NE(console.err.find("the name of the pack of \\Bin\\核心 库.dll"), std::string::npos) << console.err;
  EXPECT_FALSE(fs::exists(site()));

  // Another content lies in another folder: no collision.
  fs::remove(release.Path() / "More" / fs::u8path("核心 库.dll.vmdp"));
  Write(release.Path() / "Data" / fs::u8path("核心 库.DLL.VMDI"), large + "!");
  EXPECT_EQ(Publish(), kExitSuccess) << console.err;
}

TEST_F(DeltaFilesTest, VerifyFindsMissingDamagedAndUndecodableIndexesAndPacks) {
  ASSERT_EQ(Publish(), kExitSuccess) << console.err;
  const std::string index = Read(largeStored(".vmdi"));
  const std::string pack = Read(largeStored(".vmdp"));
  const std::string shownIndex = "\\Bin\\核心 库.dll (files/" + largeMd5 + "/核心 库.dll.vmdi)";
  const std::string shownPack = "\\Bin\\核心 库.dll (files/" + largeMd5 + "/核心 库.dll.vmdp)";

  std::string damaged = pack;
  damaged[100] ^= 0x01;
  Write(largeStored(".vmdp"), damaged);
  EXPECT_EQ(VerifyTree(), kExitFailed);
  EXPECT_NE(console.out.find("differs   " + shownPack + ": its sha256 is " + Sha256(damaged)), std::string::npos)
      << console.out;
  EXPECT_NE(console.out.find("chunk index and pack of 2 files: 1 match, 1 missing or differing"), std::string::npos)
      << console.out;

  fs::remove(largeStored(".vmdp"));
  Write(largeStored(".vmdi"), index.substr(0, index.size() - 1));
  EXPECT_EQ(VerifyTree(), kExitFailed);
  EXPECT_NE(console.out.find("missing   " + shownPack), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("differs   " + shownIndex + ": it has " + std::to_string(index.size() - 1) +
                             " bytes, the manifest says " + std::to_string(index.size())),
            std::string::npos)
      << console.out;

  // An index whose listed digests match but whose records do not decode: the manifest is
  // rewritten to list the damaged bytes, as a faulty publisher would.
  Write(largeStored(".vmdp"), pack);
  std::string broken = index;
  broken[broken.size() - 3] ^= 0x01;
  Write(largeStored(".vmdi"), broken);
  std::string manifest = Read(manifestPath());
  const std::size_t at = manifest.find(Sha256(index));
  ASSERT_NE(at, std::string::npos);
  manifest.replace(at, 64, Sha256(broken));
  Write(manifestPath(), manifest);
  EXPECT_EQ(VerifyTree(), kExitFailed);
  EXPECT_NE(console.out.find("differs   " + shownIndex + ": the record of group "), std::string::npos) << console.out;
  EXPECT_NE(console.out.find(") does not decode"), std::string::npos) << console.out;
}

TEST_F(DeltaFilesTest, VerifyMapsTheMembersAddressesIntoTheTreeLikeTheEntrysUrl) {
  ASSERT_EQ(Publish(), kExitSuccess) << console.err;
  std::string manifest = Read(manifestPath());
  const std::string encoded = "%E6%A0%B8%E5%BF%83%20%E5%BA%93.dll.vmdp";
  const std::size_t at = manifest.find(encoded);
  ASSERT_NE(at, std::string::npos) << manifest;
  manifest.replace(at, encoded.size(), "..\\/..\\/..\\/..\\/x.vmdp");
  Write(manifestPath(), manifest);
  EXPECT_EQ(VerifyTree(), kExitFailed);
  EXPECT_NE(console.out.find("bad url   \\Bin\\核心 库.dll: its pack url \"https://cdn.example.com/r/files/" + largeMd5 +
                             "/../../../../x.vmdp\" leaves the served folder"),
            std::string::npos)
      << console.out;
  // Served at another address, neither leads into the tree.
  EXPECT_EQ(VerifyTree({"--base-url", "https://cdn.example.com/other"}), kExitFailed);
  EXPECT_NE(console.out.find("its chunk index url"), std::string::npos) << console.out;
}

TEST_F(DeltaFilesTest, ASignedManifestWithTheMemberVerifiesWithItsKey) {
  ASSERT_EQ(Run({"keygen", "--out", Utf8(scratch.Path() / "release.key")}), kExitSuccess) << console.err;
  const std::string publicKey = console.out.substr(0, console.out.find('\n'));
  ASSERT_EQ(Publish({"--key", Utf8(scratch.Path() / "release.key")}), kExitSuccess) << console.err;
  EXPECT_NE(Read(manifestPath()).find("\"delta\":{\"index\":"), std::string::npos);
  ASSERT_EQ(VerifyTree({"--public-key", publicKey}), kExitSuccess) << console.out << console.err;
  EXPECT_NE(console.out.find("matches the public key"), std::string::npos) << console.out;

  // The member is signed like the rest: changing one of its digests breaks the signature.
  std::string manifest = Read(manifestPath());
  const std::size_t at = manifest.find("\"packSha256\":\"") + 14;
  manifest[at] = manifest[at] == '0' ? '1' : '0';
  Write(manifestPath(), manifest);
  EXPECT_EQ(VerifyTree({"--public-key", publicKey}), kExitFailed);
  EXPECT_NE(console.out.find("does not match"), std::string::npos) << console.out;
}

// The number of bytes that "<label> <size text> (<N> bytes)" gives after `label` in `text`.
std::uint64_t BytesAfter(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  if (at == std::string::npos) return 0;
  const std::size_t open = text.find(" (", at + label.size());
  return std::stoull(text.substr(open + 2));
}

TEST_F(DeltaFilesTest, DiffEstimatesWhatAClientHoldingTheOldReleaseFetchesByDelta) {
  velmora::testing::TempDir old;
  std::string edited = large;
  edited.insert(90000, "a few bytes inserted");
  Write(old.Path() / "Velmora.exe", "velmora 2.0");
  Write(old.Path() / "Bin" / fs::u8path("核心 库.dll"), edited);
  Write(old.Path() / "Bin" / "edge.dat", std::string(kDeltaMinimumSize, 'e'));  // unchanged
  Write(release.Path() / "Bin" / "new.dat", RandomBytes(100000, 9));          // new: nothing held

  ASSERT_EQ(Run({"diff", Utf8(old.Path()), Utf8(release.Path()), "--quiet"}), kExitFailed) << console.err;
  const std::string& out = console.out;
  // The changed file costs the head, a few records and the chunks around the edit.
  const std::uint64_t changed = BytesAfter(out, "changed  \\Bin\\核心 库.dll  205.1 KiB (210000 bytes); by delta");
  EXPECT_GT(changed, 0u) << out;
  EXPECT_LT(changed, 40000u) << out;
  EXPECT_NE(out.find(", 3 requests\n"), std::string::npos) << out;  // head, records, pack ranges
  // A new file of random bytes holds nothing locally: the whole pack, about the file's size.
  const std::uint64_t added = BytesAfter(out, "new      \\Bin\\new.dat  97.7 KiB (100000 bytes); by delta");
  EXPECT_GT(added, 100000u) << out;
  EXPECT_LT(added, 102000u) << out;
  // Files below the threshold are fetched whole, with nothing more said.
  EXPECT_NE(out.find("new      \\Bin\\below.dat  64.0 KiB (65535 bytes)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("4 files to download, 366.7 KiB (375542 bytes); 1 unchanged; 0 only in OLD"), std::string::npos)
      << out;
  EXPECT_EQ(BytesAfter(out, "by delta: 2 files of"), 310000u) << out;
  EXPECT_EQ(BytesAfter(out, "; the update fetches"), 375542u - 310000u + changed + added) << out;

  // From a manifest no bytes are known: no estimate, and the report says so.
  const std::string manifest = Utf8(scratch.Path() / "new.txt");
  ASSERT_EQ(Run({"manifest", Utf8(release.Path()), "--base-url", "http://h", "--run", "Velmora.exe", "--out", manifest}),
            kExitSuccess);
  ASSERT_EQ(Run({"diff", Utf8(old.Path()), manifest, "--quiet"}), kExitFailed) << console.err;
  EXPECT_EQ(console.out.find("; by delta"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("by delta: not estimated (OLD and NEW must both be release folders)"), std::string::npos)
      << console.out;
}

}  // namespace
}  // namespace velmora::release
