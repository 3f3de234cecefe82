// Which way an update goes: here, through the update service, or started again elevated once;
// with a system that cannot write the product's folder.
#include "app/update_route.h"

#include <gtest/gtest.h>

#include "app/machine_doubles.h"
#include "app/pipe_server_check.h"
#include "app/service_client.h"
#include "update/check_doubles.h"

namespace velmora::app {
namespace {

using testing::FakeMachine;
using testing::FakePipe;

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

TEST(PipeServerCheck, OnlyTheServicesOwnProcessWithTheServicesUserIsTheService) {
  const struct {
    PipeServerFacts facts;
    const char* why;
  } cases[] = {
      {{42, 42, "S-1-5-18", "S-1-5-18"}, ""},
      {{77, 42, "S-1-5-21-1", "S-1-5-18"}, "it is not the update service's process"},  // made the pipe first
      {{77, 0, "S-1-5-21-1", "S-1-5-18"}, "the update service is not running"},
      {{42, 42, "S-1-5-21-1", "S-1-5-18"}, "it does not run as the service's account S-1-5-18"},  // a reused id
      {{42, 42, "", "S-1-5-18"}, "its user cannot be told"},
  };
  for (const auto& c : cases) EXPECT_EQ(WhyNotTheService(c.facts), c.why) << c.facts.serverProcessId;
}

TEST_F(ChooseUpdateRouteTest, AClientSendsNothingToAServerThatIsNotTheServiceAndStopsWhenItsPipeIsTaken) {
  machine.status.processId = 42;
  machine.processes[42] = {"C:\\P\\velmora-update.exe", "S-1-5-18"};
  machine.processes[77] = {"C:\\Users\\u\\squat.exe", "S-1-5-21-1"};
  const std::atomic<bool> stop{false};
  const std::string end = std::string("\x06\x10\0\0\0", 5) + std::string(16, '\0');  // the service's end: 0
  const std::string request = std::string("\x01\x12\0\0\0", 5) + kRequestMagic + "\x01\x01";
  for (const std::uint32_t server : {77u, 42u}) {
    machine.pipes.push_back(std::make_unique<FakePipe>(server, end));
    const std::shared_ptr<std::string> written = machine.pipes.back()->written;
    const ServiceAnswer answer = RunThroughService(ServiceRequest::Update, stop, kCloseProductRequested, machine);
    EXPECT_EQ(answer.finished, server == 42);
    EXPECT_EQ(*written, server == 77 ? "" : request);  // nothing at all to another program
    EXPECT_EQ(answer.fault.find("process 77 (C:\\Users\\u\\squat.exe, user S-1-5-21-1)") == std::string::npos,
              server == 42) << answer.fault;
  }
  // The service this client starts stops at once: another program holds the pipe's name.
  machine.status = {true, true, 0, kPipeNameTakenStop};
  const ServiceAnswer answer = RunThroughService(ServiceRequest::Update, stop, std::nullopt, machine);
  EXPECT_FALSE(answer.finished);
  EXPECT_EQ(machine.starts, 1);
  EXPECT_NE(answer.fault.find("another program holds the name"), std::string::npos) << answer.fault;
}

}  // namespace
}  // namespace velmora::app
