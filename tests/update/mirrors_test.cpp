// Mirrors and the policy's origin: their forms, a file's addresses on each mirror, how installations
// spread, the manifest's member, and where the manifest comes from with the policy's origin.
#include "update/mirrors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "state/program_state.h"
#include "update/check_doubles.h"
#include "update/manifest.h"
#include "update/origin.h"

namespace velmora::update {
namespace {

TEST(Mirrors, BasesAndOriginsHaveOneForm) {
  for (const char* good : {"https://cdn.example/", "http://127.0.0.1:8080/rel/v2/"}) EXPECT_TRUE(IsMirrorBase(good)) << good;
  for (const char* bad : {"https://cdn.example", "ftp://cdn.example/", "https:///x/", "https://a b/", "https://a/?q/", ""}) {
    EXPECT_FALSE(IsMirrorBase(bad)) << bad;
  }
  for (const char* good : {"https://updates.corp.example", "https://10.0.0.5:8443"}) EXPECT_TRUE(IsOrigin(good)) << good;
  for (const char* bad : {"http://corp.example", "https://", "https://a/", "https://a:0", "https://a:65536", "https://u@a"}) {
    EXPECT_FALSE(IsOrigin(bad)) << bad;
  }
}

TEST(Mirrors, AFileIsFoundBelowEachMirrorFromThePreferredOneAndInstallationsSpreadEvenly) {
  const std::vector<std::string> bases = {"https://a.example/r/", "https://b.example/", "https://a.example/r/v2/"};
  const auto urls = [&bases](const std::string& url) {
    std::vector<std::string> found;
    for (const MirrorAddress& a : MirrorAddressesOf(url, bases, 1)) found.push_back(std::to_string(a.mirror) + " " + a.url);
    return found;
  };
  // The longest base that holds the url is its base: the relative path is "files/x.dll".
  EXPECT_EQ(urls("https://a.example/r/v2/files/x.dll"),
            (std::vector<std::string>{"1 https://b.example/files/x.dll", "2 https://a.example/r/v2/files/x.dll",
                                      "0 https://a.example/r/files/x.dll"}));
  EXPECT_EQ(urls("https://c.example/x.dll"), (std::vector<std::string>{std::to_string(kNoMirror) + " https://c.example/x.dll"}));

  // 9,000 installations over 3 mirrors: 3,000 each expected; 6 standard deviations (6 x 45) are
  // exceeded only by a broken rule.
  int counts[3] = {};
  for (int i = 0; i < 9000; ++i) {
    char id[33];
    std::snprintf(id, sizeof id, "%032x", i * 2654435761u);
    ++counts[PreferredMirror(id, 3) % 3];
  }
  for (const int count : counts) EXPECT_NEAR(count, 3000, 6 * 45);
}

using MirrorManifestTest = testing::UpdateCheckTest;

TEST_F(MirrorManifestTest, TheMirrorsMemberIsReadAndTheOriginOfThePolicyServesTheManifest) {
  const std::string files = testing::ManifestJson("App.exe", {{"a", std::string(32, '0'), "\\a.dll"}}).substr(1);
  for (const char* bad : {R"("mirrors":"https://b.example/",)", R"("mirrors":[],)", R"("mirrors":["https://b"],)"}) {
    ServerAnswers("{" + std::string(bad) + files);
    EXPECT_THROW(LoadManifest(), testing::ProgramEnded) << bad;
  }
  EXPECT_NE(FollowPolicyOrigin("http://updates.corp.example"), "");
  EXPECT_EQ(FollowPolicyOrigin("https://updates.corp.example:8443"), "");
  EXPECT_EQ(RootRecordUrl(3), "https://updates.corp.example:8443/download/2099/pro/root/3.json");
  ServerAnswers(R"({"mirrors":["http://127.0.0.1/","https://b.example/"],)" + files);
  EXPECT_EQ(LoadManifest(), 1);
  EXPECT_EQ(state::State().mirrors, (std::vector<std::string>{"http://127.0.0.1/", "https://b.example/"}));
  EXPECT_NE(std::find(log.begin(), log.end(), "get https://updates.corp.example:8443/download/2099/pro/up.txt 90000"),
            log.end());
}

}  // namespace
}  // namespace velmora::update
