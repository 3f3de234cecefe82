#include "app/command_line.h"

#include <gtest/gtest.h>

namespace velmora::app {
namespace {

TEST(CommandLine, OnlyReservedOptionsKeepTheirMeaningAnyOtherArgumentSelectsTheHandOffFile) {
  struct Case {
    std::vector<std::string> arguments;
    bool rollback;
    bool handOff;
  };
  const Case cases[] = {
      {{}, false, false},
      {{"--rollback"}, true, false},
      {{"x"}, false, true},
      {{"--unknown"}, false, true},
      {{"--ROLLBACK"}, false, true},  // options are exact words
      {{"--rollback", "handoff"}, true, true},
  };
  for (const Case& c : cases) {
    const CommandLine line = ReadCommandLine(c.arguments);
    EXPECT_EQ(line.rollback, c.rollback) << c.arguments.size();
    EXPECT_EQ(line.handOff, c.handOff) << c.arguments.size();
  }
}

}  // namespace
}  // namespace velmora::app
