// The background task's definition, checked where it is built (the scheduler under Wine keeps
// neither the triggers nor the principal).
#include "app/task_definition.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace velmora::app {
namespace {

TEST(TaskDefinition, QuietAsTheSystemDailyAtTheDrawnMinuteAfterLogonOnlyWithANetwork) {
  TaskSchedule schedule;
  schedule.dailyMinute = DailyMinuteOf(1440u * 7 + 3 * 60 + 7);
  const std::string xml = text::WideToNarrow(
      TaskDefinitionXml(text::Utf8ToNarrow("C:\\Program Files\\R&D <新>\\velmora-update.exe"), schedule),
      text::Utf8CodePage);
  for (const char* part : {
           "<StartBoundary>2020-01-01T03:07:00</StartBoundary>", "<DaysInterval>1</DaysInterval>",
           "<LogonTrigger>", "<Delay>PT10M</Delay>", "<UserId>S-1-5-18</UserId>",
           "<RunOnlyIfNetworkAvailable>true</RunOnlyIfNetworkAvailable>",
           "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
           "<Command>C:\\Program Files\\R&amp;D &lt;新&gt;\\velmora-update.exe</Command>",
           "<Arguments>--quiet</Arguments>", "<WorkingDirectory>C:\\Program Files\\R&amp;D &lt;新&gt;</WorkingDirectory>"}) {
    EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
  }
  EXPECT_EQ(DailyMinuteOf(0xFFFFFFFFu), static_cast<std::int32_t>(0xFFFFFFFFu % 1440u));
}

}  // namespace
}  // namespace velmora::app
