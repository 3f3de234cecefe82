// Which way an update goes: here, through the update service, or started again elevated once;
// with a system that cannot write the product's folder.
#include "app/update_route.h"

#include <gtest/gtest.h>

#include "update/check_doubles.h"

namespace velmora::app {
namespace {

class FakeMachine : public platform::MachineServices {
 public:
  bool writable = true;
  std::string serviceFor;
  bool userAccepts = true;
  std::vector<std::string> probes;
  std::vector<std::string> elevated;
  bool CanCreateFile(const std::string& path) override {
    probes.push_back(path);
    return writable;
  }
  bool ServiceInstalledFor(const std::string& executablePath) override { return executablePath == serviceFor; }
  bool StartElevated(const std::string& file, const std::string& parameters) override {
    elevated.push_back(file + "|" + parameters);
    return userAccepts;
  }
};

TEST(UpdateRoute, TheWindowUsesTheServiceWheneverItIsThereAQuietRunOnlyWhenItCannotWrite) {
  const struct {
    bool window, canWrite, service, elevated;
    UpdateRoute route;
  } cases[] = {
      {true, true, false, false, UpdateRoute::Here},
      {true, true, true, false, UpdateRoute::ThroughService},
      {true, false, true, true, UpdateRoute::ThroughService},
      {true, false, false, false, UpdateRoute::StartedElevated},
      {true, false, false, true, UpdateRoute::NeedsElevation},  // never a second elevated start
      {false, true, true, false, UpdateRoute::Here},             // the scheduled task as SYSTEM
      {false, false, true, false, UpdateRoute::ThroughService},
      {false, false, false, false, UpdateRoute::NeedsElevation},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RouteFor({c.window, c.canWrite, c.service, c.elevated}), c.route)
        << c.window << c.canWrite << c.service << c.elevated;
  }
}

class ChooseUpdateRouteTest : public update::testing::UpdateCheckTest {
 protected:
  UpdateRoute Choose(bool withWindow, bool elevated = false) {
    return ChooseUpdateRoute(withWindow, elevated, runDirectory.Narrow(), "C:\\P\\velmora-update.exe",
                             {"--handoff", "C:\\a b\\", "say \"hi\""}, machine);
  }
  FakeMachine machine;
};

TEST_F(ChooseUpdateRouteTest, ACopyThatCannotWriteStartsItselfElevatedOnceAndADeclineEndsWithTheNotice) {
  machine.writable = false;
  EXPECT_EQ(Choose(true), UpdateRoute::StartedElevated);
  ASSERT_EQ(machine.elevated.size(), 1u);
  EXPECT_EQ(machine.elevated[0], "C:\\P\\velmora-update.exe|\"--handoff\" \"C:\\a b\\\\\" \"say \\\"hi\\\"\" --elevated");
  ASSERT_EQ(machine.probes.size(), 1u);
  EXPECT_EQ(machine.probes[0].rfind(runDirectory.Narrow() + "\\Bin\\Config\\", 0), 0u);
  EXPECT_TRUE(Notices().empty());

  machine.userAccepts = false;
  EXPECT_EQ(Choose(true), UpdateRoute::NeedsElevation);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"更新失败 / 需要管理员权限才能更新"}));

  // Quiet, or elevated already: no prompt at all.
  machine.elevated.clear();
  EXPECT_EQ(Choose(false), UpdateRoute::NeedsElevation);
  EXPECT_EQ(Choose(true, true), UpdateRoute::NeedsElevation);
  EXPECT_TRUE(machine.elevated.empty());

  machine.serviceFor = "C:\\P\\velmora-update.exe";
  EXPECT_EQ(Choose(false), UpdateRoute::ThroughService);
}

}  // namespace
}  // namespace velmora::app
