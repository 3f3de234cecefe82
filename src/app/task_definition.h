// The background task "Velmora Update" as Task Scheduler XML (version 1.2 of the task schema):
// `velmora-update.exe --quiet` in the product's folder as the local system account, daily at a
// minute drawn once per installation (so that machines do not all ask at the same moment) and
// some minutes after each logon, only while a network is available, never two at once, started
// late when a start was missed, stopped after two hours.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::app {

inline constexpr char16_t kTaskName[] = u"Velmora Update";
// How long after a logon the task runs.
inline constexpr std::int32_t kMinutesAfterLogon = 10;

struct TaskSchedule {
  std::int32_t dailyMinute = 0;  // minutes after midnight, 0..1439 (local time)
  std::int32_t minutesAfterLogon = kMinutesAfterLogon;
};

// A minute of the day from `randomNumber` (any value): the daily start's minute.
std::int32_t DailyMinuteOf(std::uint32_t randomNumber);

// The task's XML for the updater at `executablePath` (GBK, "C:\Program Files\Velmora\velmora-update.exe"),
// as UTF-16; texts are escaped for XML. The working directory is the executable's folder.
std::u16string TaskDefinitionXml(const std::string& executablePath, const TaskSchedule& schedule);

}  // namespace velmora::app
