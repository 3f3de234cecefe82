#include "app/task_definition.h"

#include <cstdio>

#include "text/encoding.h"

namespace velmora::app {
namespace {

std::string EscapedForXml(const std::string& utf8) {
  std::string out;
  for (const char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string TwoDigits(std::int32_t n) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", static_cast<int>(n));
  return text;
}

}  // namespace

std::int32_t DailyMinuteOf(std::uint32_t randomNumber) { return static_cast<std::int32_t>(randomNumber % 1440u); }

std::u16string TaskDefinitionXml(const std::string& executablePath, const TaskSchedule& schedule) {
  const std::size_t slash = executablePath.rfind('\\');
  const std::string folder = slash == std::string::npos ? std::string() : executablePath.substr(0, slash);
  const std::int32_t minute = ((schedule.dailyMinute % 1440) + 1440) % 1440;
  // A start boundary in the past: the daily trigger fires from today on at that local time.
  const std::string start = "2020-01-01T" + TwoDigits(minute / 60) + ":" + TwoDigits(minute % 60) + ":00";
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
      "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
      "  <RegistrationInfo>\n"
      "    <Author>Velmora</Author>\n"
      "    <Description>Keeps Velmora up to date in the background.</Description>\n"
      "  </RegistrationInfo>\n"
      "  <Triggers>\n"
      "    <CalendarTrigger>\n"
      "      <StartBoundary>" + start + "</StartBoundary>\n"
      "      <Enabled>true</Enabled>\n"
      "      <ScheduleByDay>\n"
      "        <DaysInterval>1</DaysInterval>\n"
      "      </ScheduleByDay>\n"
      "    </CalendarTrigger>\n"
      "    <LogonTrigger>\n"
      "      <Enabled>true</Enabled>\n"
      "      <Delay>PT" + std::to_string(schedule.minutesAfterLogon) + "M</Delay>\n"
      "    </LogonTrigger>\n"
      "  </Triggers>\n"
      "  <Principals>\n"
      "    <Principal id=\"Author\">\n"
      "      <UserId>S-1-5-18</UserId>\n"
      "      <RunLevel>HighestAvailable</RunLevel>\n"
      "    </Principal>\n"
      "  </Principals>\n"
      "  <Settings>\n"
      "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
      "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
      "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
      "    <StartWhenAvailable>true</StartWhenAvailable>\n"
      "    <RunOnlyIfNetworkAvailable>true</RunOnlyIfNetworkAvailable>\n"
      "    <ExecutionTimeLimit>PT2H</ExecutionTimeLimit>\n"
      "    <Enabled>true</Enabled>\n"
      "  </Settings>\n"
      "  <Actions Context=\"Author\">\n"
      "    <Exec>\n"
      "      <Command>" + EscapedForXml(text::NarrowToUtf8(executablePath)) + "</Command>\n"
      "      <Arguments>--quiet</Arguments>\n"
      "      <WorkingDirectory>" + EscapedForXml(text::NarrowToUtf8(folder)) + "</WorkingDirectory>\n"
      "    </Exec>\n"
      "  </Actions>\n"
      "</Task>\n";
  return text::NarrowToWide(xml, text::Utf8CodePage);
}

}  // namespace velmora::app
