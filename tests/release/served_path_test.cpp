#include "served_path.h"

#include <gtest/gtest.h>

#include "release_text.h"
#include "release_urls.h"

namespace velmora::release {
namespace {

constexpr char kBase[] = "http://127.0.0.1:8080/site/";

TEST(ServedPathTest, UrlsBelowTheBaseMapToTheFileAServerWouldSend) {
  const struct {
    std::string url;
    std::u16string file;
  } cases[] = {
      {"http://127.0.0.1:8080/site/files/0a/%E7%9A%AE%E8%82%A4%20%E8%93%9D%E8%89%B2.dat", u"files\\0a\\皮肤 蓝色.dat"},
      {"http://127.0.0.1:8080/site/docs/%e8%af%b4%e6%98%8e.txt", u"docs\\说明.txt"},  // lower-case escapes
      {"http://127.0.0.1:8080/site/a%2Bb%25c%23d~e.dll", u"a+b%c#d~e.dll"},
      {"HTTP://127.0.0.1:8080/site/x.dll", u"x.dll"},             // the scheme and host in any case
      {"http://127.0.0.1:8080/site/x.dll?v=2#top", u"x.dll"},     // a query names no other file
      {"http://127.0.0.1:8080/site//Bin/./x.dll", u"Bin\\x.dll"},  // empty and "." segments
      {"http://127.0.0.1:8080/site/Bin/Old/../x.dll", u"Bin\\x.dll"},
  };
  for (const auto& test : cases) {
    const ServedPath served = ServedPathOf(test.url, kBase);
    EXPECT_EQ(served.problem, "") << test.url;
    EXPECT_EQ(Utf8Of(served.relativePath), Utf8Of(test.file)) << test.url;
  }
}

TEST(ServedPathTest, UrlsThatNoServedFileAnswersAreProblemsWithTheirReason) {
  const struct {
    std::string url;
    const char* reason;  // part of the message
  } cases[] = {
      {"http://127.0.0.1:8080/other/x.dll", "does not begin with the base URL"},
      {"http://127.0.0.1:8080/SITE/x.dll", "does not begin with the base URL"},  // the path is exact
      {"http://127.0.0.1:8080/sitex/x.dll", "does not begin with the base URL"},
      {"http://127.0.0.1:9090/site/x.dll", "does not begin with the base URL"},
      {"http://127.0.0.1:8080/site/a%2", "does not start an escape"},
      {"http://127.0.0.1:8080/site/a%zz.dll", "does not start an escape"},
      {"http://127.0.0.1:8080/site/%E8%AF.txt", "not UTF-8"},  // a character cut short
      {"http://127.0.0.1:8080/site/%FF.txt", "not UTF-8"},
      {"http://127.0.0.1:8080/site/..%C0%AFsecret.txt", "not UTF-8"},  // an overlong "/"
      {"http://127.0.0.1:8080/site/Bin%2Fx.dll", "an encoded \"/\" (%2F)"},
      {"http://127.0.0.1:8080/site/Bin%2fx.dll", "an encoded \"/\" (%2f)"},
      {"http://127.0.0.1:8080/site/Bin%5Cx.dll", "an encoded \"\\\" (%5C)"},
      {"http://127.0.0.1:8080/site/Bin\\x.dll", "a \"\\\""},
      {"http://127.0.0.1:8080/site/x.dll%00.txt", "an encoded NUL"},
      {"http://127.0.0.1:8080/site/../secret.txt", "leaves the served folder"},
      {"http://127.0.0.1:8080/site/Bin/../../secret.txt", "leaves the served folder"},
      {"http://127.0.0.1:8080/site/%2E%2E/secret.txt", "leaves the served folder"},
      {"http://127.0.0.1:8080/site/a b.dll", "must be percent-encoded"},
      {"http://127.0.0.1:8080/site/说明.txt", "must be percent-encoded"},
      {"http://127.0.0.1:8080/site/CON", "a device name"},
      {"http://127.0.0.1:8080/site/x%3F.dll", "the character \"?\""},
      {"http://127.0.0.1:8080/site/Bin/", "names a folder"},
      {"http://127.0.0.1:8080/site/Bin/x.dll/..", "names a folder"},
      {"http://127.0.0.1:8080/site/", "names a folder"},  // the served folder itself
  };
  for (const auto& test : cases) {
    const ServedPath served = ServedPathOf(test.url, kBase);
    EXPECT_NE(served.problem.find(test.reason), std::string::npos) << test.url << ": " << served.problem;
    EXPECT_EQ(served.relativePath, u"") << test.url;
  }
}

// What publish writes is what verify finds: every name a release may hold, in any base URL.
TEST(ServedPathTest, EveryContentAddressedUrlLeadsBackToItsFile) {
  const std::string md5 = "0123456789abcdef0123456789abcdef";
  for (const char* base : {"http://127.0.0.1:9", "https://cdn.example.com/velmora/2.1/", "http://[::1]:8000/a%20b"}) {
    for (const std::u16string name : {u"Bin\\界面资源\\皮肤 蓝色.dat", u"docs\\说明.txt", u"50% + 1 #2 ~x.dll", u"a&b=c;d.ini"}) {
      const ServedPath served = ServedPathOf(JoinUrl(base, ContentAddressedName(name, md5)), base);
      EXPECT_EQ(served.problem, "") << base << " " << Utf8Of(name);
      EXPECT_EQ(Utf8Of(served.relativePath), Utf8Of(ContentAddressedPath(name, md5)));
    }
  }
}

}  // namespace
}  // namespace velmora::release
