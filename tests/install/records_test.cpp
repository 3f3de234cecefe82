// The journal and the kept release's record: what is written is read back whole, and anything that
// is not a whole record of the format, or that names a path outside the run directory, is refused.
#include <gtest/gtest.h>

#include "install/journal.h"
#include "install/kept_release.h"
#include "install/record_file.h"
#include "text/encoding.h"

namespace velmora::install {
namespace {

std::string Gbk(const char* utf8) { return text::Utf8ToNarrow(utf8); }

Journal SampleJournal() {
  Journal journal;
  journal.kind = CommitKind::Rollback;
  journal.changes.push_back({Gbk("\\Bin\\界面资源\\皮肤 蓝色.dat"), Gbk("\\Bin\\界面资源\\皮肤 蓝色.dat.0123.velmora-part"),
                             Gbk("\\Bin\\Config\\PreviousRelease.new\\files\\Bin\\界面资源\\皮肤 蓝色.dat"),
                             {12, "0123456789abcdef0123456789abcdef", ""}});
  journal.changes.push_back({Gbk("\\odd\tname%41\n.txt"), "", "", {-1, "", ""}});
  return journal;
}

TEST(CommitJournal, RoundTripsEveryFieldWhateverTheNames) {
  const Journal journal = SampleJournal();
  const std::optional<Journal> read = ParseJournal(FormatJournal(journal));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->kind, CommitKind::Rollback);
  ASSERT_EQ(read->changes.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(read->changes[i].target, journal.changes[i].target);
    EXPECT_EQ(read->changes[i].source, journal.changes[i].source);
    EXPECT_EQ(read->changes[i].kept, journal.changes[i].kept);
    EXPECT_EQ(read->changes[i].check.size, journal.changes[i].check.size);
    EXPECT_EQ(read->changes[i].check.md5, journal.changes[i].check.md5);
  }
  // One line per change: a tab or a line break in a name cannot add fields or lines.
  const std::string text = FormatJournal(journal);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
}

TEST(CommitJournal, RefusesWhatIsNotAWholeJournal) {
  const std::string text = FormatJournal(SampleJournal());
  EXPECT_FALSE(ParseJournal(""));
  EXPECT_FALSE(ParseJournal(text.substr(0, text.size() / 2))) << "cut short";
  EXPECT_FALSE(ParseJournal(text.substr(0, text.rfind("end\t")))) << "without its end line";
  std::string miscounted = text;
  miscounted.replace(miscounted.rfind("end\t2"), 5, "end\t3");
  EXPECT_FALSE(ParseJournal(miscounted));
  std::string otherKind = text;
  otherKind.replace(otherKind.find("rollback"), 8, "sideways");
  EXPECT_FALSE(ParseJournal(otherKind));
  for (const char* path : {"\\..\\..\\Windows\\x.dll", "C:\\x.dll", "relative.dll", "\\\\server\\share\\x"}) {
    Journal escaping = SampleJournal();
    escaping.changes[0].target = path;
    EXPECT_FALSE(ParseJournal(FormatJournal(escaping))) << path;
    escaping = SampleJournal();
    escaping.changes[0].kept = path;
    EXPECT_FALSE(ParseJournal(FormatJournal(escaping))) << path;
  }
  std::string badEscape = text;
  badEscape.replace(badEscape.find("%09"), 3, "%G9");
  EXPECT_FALSE(ParseJournal(badEscape));
}

TEST(KeptReleaseRecord, RoundTripsAndRefusesDamage) {
  KeptRelease release{Gbk("Bin\\启动.exe"), "0123456789abcdef0123456789abcdef",
                      {{Gbk("\\Bin\\核心.dll"), 42, "00112233445566778899aabbccddeeff"}}, {Gbk("\\新\\added.pak")}};
  const std::string text = FormatKeptRelease(release);
  const std::optional<KeptRelease> read = ParseKeptRelease(text);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->launchTarget, release.launchTarget);
  EXPECT_EQ(read->releaseIdentity, release.releaseIdentity);
  ASSERT_EQ(read->kept.size(), 1u);
  EXPECT_EQ(read->kept[0].path, release.kept[0].path);
  EXPECT_EQ(read->kept[0].size, 42);
  EXPECT_EQ(read->added, release.added);
  EXPECT_EQ(KeptBytes(*read), 42);

  EXPECT_FALSE(ParseKeptRelease(text.substr(0, text.size() - 7)));
  KeptRelease escaping = release;
  escaping.launchTarget = "..\\..\\evil.exe";
  EXPECT_FALSE(ParseKeptRelease(FormatKeptRelease(escaping)));
  escaping = release;
  escaping.kept[0].md5 = "not a digest";
  EXPECT_FALSE(ParseKeptRelease(FormatKeptRelease(escaping)));
  escaping = release;
  escaping.added[0] = "\\..\\x";
  EXPECT_FALSE(ParseKeptRelease(FormatKeptRelease(escaping)));
}

}  // namespace
}  // namespace velmora::install
