#include "app/command_line.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace velmora::app {
namespace {

using Arguments = std::vector<std::string>;

TEST(CommandLine, OnlyReservedOptionsKeepTheirMeaningAnyOtherArgumentSelectsTheHandOffFile) {
  struct Case {
    Arguments arguments;
    bool rollback;
    bool handOff;
  };
  const Case cases[] = {
      {{}, false, false},
      {{"--rollback"}, true, false},
      {{"x"}, false, true},
      {{"--unknown"}, false, true},
      {{"--ROLLBACK"}, false, true},  // options are exact words
      {{"--Quiet"}, false, true},
      {{"--quiet=1"}, false, true},
      {{"--rollback", "handoff"}, true, true},
      {{"--handoff"}, false, true},
  };
  for (const Case& c : cases) {
    const CommandLine line = ReadCommandLine(c.arguments);
    EXPECT_EQ(line.rollback, c.rollback) << c.arguments.size();
    EXPECT_EQ(line.handOff, c.handOff) << c.arguments.size();
    EXPECT_EQ(line.usageError, "") << c.arguments.size();
    EXPECT_FALSE(line.Unattended());
  }
}

TEST(CommandLine, QuietOptionsCombineWithTheHandOffInAnyOrder) {
  const CommandLine fromServer = ReadCommandLine({"--quiet", "--run", "--close-product"});
  EXPECT_TRUE(fromServer.quiet && fromServer.run && fromServer.closeProduct && fromServer.Unattended());
  EXPECT_FALSE(fromServer.handOff);
  EXPECT_EQ(fromServer.usageError, "");

  const CommandLine handOff = ReadCommandLine({"--handoff", "--quiet"});
  EXPECT_TRUE(handOff.quiet && handOff.handOff);
  // The product's own argument, whatever it is, still means its hand-off file.
  EXPECT_TRUE(ReadCommandLine({"--quiet", "product-arg"}).handOff);

  const CommandLine check = ReadCommandLine({"product-arg", "--check"});
  EXPECT_TRUE(check.check && check.handOff && check.Unattended());
  EXPECT_EQ(check.usageError, "");
  // Scripts write "--check --quiet": it is a check, never a quiet update.
  const CommandLine quietCheck = ReadCommandLine({"--quiet", "--check"});
  EXPECT_TRUE(quietCheck.check && !quietCheck.quiet && quietCheck.usageError.empty());
}

TEST(CommandLine, OptionsThatDoNotCombineAreAUsageError) {
  for (const Arguments& arguments :
       {Arguments{"--run"}, Arguments{"--close-product"}, Arguments{"--check", "--quiet", "--run"},
        Arguments{"--check", "--run"}, Arguments{"--check", "--rollback"}, Arguments{"--rollback", "--quiet"},
        Arguments{"--rollback", "--handoff"}, Arguments{"--quiet", "--quiet"}, Arguments{"--handoff", "--handoff"}}) {
    EXPECT_NE(ReadCommandLine(arguments).usageError, "") << arguments[0] << " " << arguments.back();
  }
}

TEST(CommandLine, ChannelTakesTheNextArgumentAsItsName) {
  const CommandLine beta = ReadCommandLine({"--quiet", "--channel", "beta"});
  EXPECT_EQ(beta.channel, std::optional<std::string>("beta"));
  EXPECT_FALSE(beta.handOff) << "the name is the option's, not an argument of the product";
  EXPECT_EQ(beta.usageError, "");
  EXPECT_EQ(ReadCommandLine({"--channel", "default"}).usageError, "");
  EXPECT_FALSE(ReadCommandLine({"x"}).channel.has_value());
  for (const Arguments& arguments :
       {Arguments{"--channel"}, Arguments{"--channel", "Beta"}, Arguments{"--channel", "../x"},
        Arguments{"--channel", "--quiet"}, Arguments{"--channel", "a", "--channel", "b"},
        Arguments{"--rollback", "--channel", "beta"}}) {
    EXPECT_NE(ReadCommandLine(arguments).usageError, "") << arguments.back();
  }
}

TEST(CommandLine, ArgumentsAreQuotedForTheLogInUtf8) {
  EXPECT_EQ(ArgumentsForLog({}), "none");
  EXPECT_EQ(ArgumentsForLog({"--quiet", text::Utf8ToNarrow("中文 名")}), "\"--quiet\" \"中文 名\"");
}

TEST(CommandLine, TheInstallersCommandsStandAloneAndTheElevatedMarkerKeepsTheRest) {
  for (const char* command : {"--install-service", "--remove-service", "--schedule", "--unschedule", "--service"}) {
    const CommandLine alone = ReadCommandLine({command});
    EXPECT_EQ(alone.usageError, "") << command;
    EXPECT_TRUE(alone.Unattended() && !alone.handOff) << command;
    for (const Arguments& more : {Arguments{command, "--quiet"}, Arguments{command, "x"}, Arguments{command, "--elevated"},
                                  Arguments{"--schedule", "--install-service"}}) {
      EXPECT_NE(ReadCommandLine(more).usageError, "") << more[0] << " " << more[1];
    }
  }
  const CommandLine relaunched = ReadCommandLine({"product-arg", "--quiet", "--elevated"});
  EXPECT_TRUE(relaunched.elevated && relaunched.quiet && relaunched.handOff && relaunched.usageError.empty());
}

}  // namespace
}  // namespace velmora::app
