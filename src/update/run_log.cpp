#include "update/run_log.h"

#include <cstdio>

#include "platform/file.h"
#include "update/state_paths.h"
#include "update/manifest_freshness.h"

namespace velmora::update {

std::string UtcTimeText(std::int64_t seconds) {
  const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const std::int64_t secondOfDay = seconds - days * 86400;
  // Days since 1970-01-01 to a civil date (proleptic Gregorian).
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[160];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(secondOfDay / 3600),
                static_cast<long long>(secondOfDay / 60 % 60), static_cast<long long>(secondOfDay % 60));
  return text;
}

void AppendToRunLog(const std::string& runDirectory, const std::string& utf8Text) {
  platform::OutputFile file;
  if (!file.Open(runDirectory + kRunLogPath, platform::OutputFile::Mode::Append)) return;
  const std::string line = UtcTimeText(UtcSecondsNow()) + " " + utf8Text + "\n";
  file.Write(line.data(), line.size());
}

}  // namespace velmora::update
