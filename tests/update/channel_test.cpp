// Which channel an installation follows, and where its manifest lies.
#include "update/channel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace velmora::update {
namespace {

class ChannelTest : public ::testing::Test {
 protected:
  std::string Remembered() const {
    std::ifstream in(directory.Path() / "Bin" / "Config" / "channel.txt", std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("<none>");
  }
  velmora::testing::TempDir directory;
};

TEST_F(ChannelTest, TheOptionIsRememberedAndDefaultForgetsIt) {
  EXPECT_EQ(ChooseChannel(std::nullopt, std::nullopt, directory.Narrow()).channel, "");
  EXPECT_EQ(ChooseChannel(std::nullopt, "beta", directory.Narrow()).channel, "beta");
  EXPECT_EQ(Remembered(), "beta\n");
  const ChannelChoice later = ChooseChannel(std::nullopt, std::nullopt, directory.Narrow());
  EXPECT_EQ(later.channel, "beta");
  EXPECT_EQ(later.source, "remembered");
  EXPECT_EQ(ChooseChannel(std::nullopt, "default", directory.Narrow()).channel, "");
  EXPECT_EQ(Remembered(), "<none>");
}

TEST_F(ChannelTest, ThePolicyComesFirstAndIsNeverRemembered) {
  ChooseChannel(std::nullopt, "beta", directory.Narrow());
  const ChannelChoice choice = ChooseChannel(std::string("pilot"), "rc1", directory.Narrow());
  EXPECT_EQ(choice.channel, "pilot");
  EXPECT_EQ(choice.source, "policy");
  EXPECT_EQ(Remembered(), "beta\n") << "the option was not taken, so it is not remembered";
  EXPECT_EQ(ChooseChannel(std::string("default"), std::nullopt, directory.Narrow()).channel, "");
}

TEST_F(ChannelTest, NamesThatAreNoChannelAreErrorsAndADamagedRememberedOneIsIgnored) {
  EXPECT_NE(ChooseChannel(std::string("../x"), std::nullopt, directory.Narrow()).error, "");
  EXPECT_NE(ChooseChannel(std::nullopt, "Beta", directory.Narrow()).error, "");
  EXPECT_EQ(Remembered(), "<none>");
  directory.WriteFile("Bin\\Config\\channel.txt", "..\\evil\n");
  const ChannelChoice choice = ChooseChannel(std::nullopt, std::nullopt, directory.Narrow());
  EXPECT_EQ(choice.channel, "");
  EXPECT_EQ(choice.error, "");
}

TEST(ChannelPath, EachNamedChannelHasItsFolderBesideTheDefaultManifest) {
  EXPECT_EQ(ManifestPathFor(""), "/download/2099/pro/up.txt");
  EXPECT_EQ(ManifestPathFor("beta"), "/download/2099/pro/beta/up.txt");
}

}  // namespace
}  // namespace velmora::update
