#include <sys/time.h>
#include <time.h>

#include "platform/local_time.h"

namespace velmora::platform {

LocalTime LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  LocalTime time;
  time.year = local.tm_year + 1900;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  time.millisecond = static_cast<std::int32_t>(now.tv_nsec / 1'000'000);
  time.utcOffsetMinutes = static_cast<std::int32_t>(local.tm_gmtoff / 60);
  return time;
}

}  // namespace velmora::platform
