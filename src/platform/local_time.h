// The wall clock in the machine's own time zone, for the run log that support staff read.
#pragma once

#include <cstdint>

namespace velmora::platform {

struct LocalTime {
  std::int32_t year = 1970, month = 1, day = 1;  // month 1-12, day 1-31
  std::int32_t hour = 0, minute = 0, second = 0, millisecond = 0;
  std::int32_t utcOffsetMinutes = 0;  // local time minus UTC (+480 in China), daylight saving included
};

// Now, in local time. Thread-safe.
LocalTime LocalTimeNow();

}  // namespace velmora::platform
