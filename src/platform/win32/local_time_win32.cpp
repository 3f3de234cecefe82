#include <windows.h>

#include "platform/local_time.h"

namespace velmora::platform {

LocalTime LocalTimeNow() {
  SYSTEMTIME utc{};
  GetSystemTime(&utc);
  SYSTEMTIME local{};
  // The offset comes from the same instant, so a log line never pairs one zone's time with the
  // other's offset around a daylight-saving change.
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  FILETIME utcFile{};
  FILETIME localFile{};
  SystemTimeToFileTime(&utc, &utcFile);
  SystemTimeToFileTime(&local, &localFile);
  const auto ticks = [](const FILETIME& file) {
    return static_cast<long long>((static_cast<unsigned long long>(file.dwHighDateTime) << 32) | file.dwLowDateTime);
  };
  LocalTime time;
  time.year = local.wYear;
  time.month = local.wMonth;
  time.day = local.wDay;
  time.hour = local.wHour;
  time.minute = local.wMinute;
  time.second = local.wSecond;
  time.millisecond = local.wMilliseconds;
  time.utcOffsetMinutes = static_cast<std::int32_t>((ticks(localFile) - ticks(utcFile)) / 600'000'000LL);
  return time;
}

}  // namespace velmora::platform
