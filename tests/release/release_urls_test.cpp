#include "release_urls.h"

#include <gtest/gtest.h>

namespace velmora::release {
namespace {

TEST(ReleaseUrlsTest, BaseUrlsThatWork) {
  for (const char* url : {"http://127.0.0.1:8080", "https://cdn.example.com/velmora/2.1/", "HTTPS://Example.COM",
                          "http://[::1]:9000/files", "https://h/a%20b/~x_y-z.1"}) {
    EXPECT_EQ(BaseUrlProblem(url), "") << url;
  }
}

TEST(ReleaseUrlsTest, BaseUrlsThatAreRefusedWithTheirReason) {
  const struct {
    const char* url;
    const char* reason;  // part of the message
  } cases[] = {
      {"", "http:// or https://"},
      {"ftp://h/x", "http:// or https://"},
      {"cdn.example.com/x", "http:// or https://"},
      {"https://", "http:// or https://"},
      {"https:///x", "no host"},
      {"http://h:0", "port"},
      {"http://h:65536", "port"},
      {"http://h:80x", "port"},
      {"http://h:", "port"},
      {"http://user:pw@h/", "credentials"},
      {"http://h_x/", "host"},
      {"http://[::1/", "IPv6"},
      {"http://h/a b", "percent-encoded"},
      {"http://h/新", "percent-encoded"},
      {"http://h/x?y=1", "query"},
      {"http://h#top", "query"},
      {"http://h/a%2", "escape"},
      {"http://h/a%zz", "escape"},
      {"http://h/a\\b", "\"\\\""},
  };
  for (const auto& test : cases) {
    EXPECT_NE(BaseUrlProblem(test.url).find(test.reason), std::string::npos)
        << test.url << ": " << BaseUrlProblem(test.url);
  }
}

TEST(ReleaseUrlsTest, PublishedNamesAreUtf8PercentEncodedSegments) {
  EXPECT_EQ(PublishedName(u"App.exe"), "App.exe");
  EXPECT_EQ(PublishedName(u"Bin\\Plugins\\a b+c.dll"), "Bin/Plugins/a%20b%2Bc.dll");
  EXPECT_EQ(PublishedName(u"资源\\说明.txt"), "%E8%B5%84%E6%BA%90/%E8%AF%B4%E6%98%8E.txt");
  EXPECT_EQ(PublishedName(u"x%y#z?.txt"), "x%25y%23z%3F.txt");
  EXPECT_EQ(PublishedName(u"~a-b_c.d"), "~a-b_c.d");
}

TEST(ReleaseUrlsTest, ContentAddressedNamesKeepOnlyTheFilesOwnName) {
  EXPECT_EQ(ContentAddressedName(u"Bin\\新 版.dll", "0123456789abcdef0123456789abcdef"),
            "files/0123456789abcdef0123456789abcdef/%E6%96%B0%20%E7%89%88.dll");
  EXPECT_EQ(ContentAddressedName(u"App.exe", "d41d8cd98f00b204e9800998ecf8427e"),
            "files/d41d8cd98f00b204e9800998ecf8427e/App.exe");
}

TEST(ReleaseUrlsTest, ContentAddressedFilesLieUnderTheirRealNames) {
  EXPECT_EQ(ContentAddressedPath(u"Bin\\界面资源\\皮肤 蓝色.dat", "0123456789abcdef0123456789abcdef"),
            u"files\\0123456789abcdef0123456789abcdef\\皮肤 蓝色.dat");
  EXPECT_EQ(ContentAddressedPath(u"50% + 1 #2.txt", "d41d8cd98f00b204e9800998ecf8427e"),
            u"files\\d41d8cd98f00b204e9800998ecf8427e\\50% + 1 #2.txt");
}

TEST(ReleaseUrlsTest, JoiningPutsExactlyOneSlashBetween) {
  EXPECT_EQ(JoinUrl("http://h", "x.dll"), "http://h/x.dll");
  EXPECT_EQ(JoinUrl("http://h/", "x.dll"), "http://h/x.dll");
  EXPECT_EQ(JoinUrl("https://h/a/b//", "/c/x.dll"), "https://h/a/b/c/x.dll");
}

}  // namespace
}  // namespace velmora::release
