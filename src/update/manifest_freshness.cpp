#include "update/manifest_freshness.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "platform/directory_walk.h"
#include "platform/file.h"
#include "state/program_state.h"
#include "text/encoding.h"

namespace velmora::update {
namespace {

std::atomic<std::int64_t (*)()> replacedClock{nullptr};

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

unsigned DaysInMonth(std::int64_t year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Reads exactly `count` digits at `at` into `value`.
bool Digits(std::string_view text, std::size_t at, std::size_t count, unsigned& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

// Each channel has its own: the channels' releases are published apart, and a serial taken from one
// must not refuse the other's manifests.
std::string SerialPath(const std::string& runDirectory) {
  const std::string& channel = state::State().channel;
  if (channel.empty()) return runDirectory + kAcceptedSerialFileName;
  return runDirectory + "\\Bin\\Config\\UP." + channel + ".serial";
}

}  // namespace

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(text, 0, 4, year) || text.size() < 19 || text[4] != '-' || !Digits(text, 5, 2, month) ||
      text[7] != '-' || !Digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != 't') ||
      !Digits(text, 11, 2, hour) || text[13] != ':' || !Digits(text, 14, 2, minute) || text[16] != ':' ||
      !Digits(text, 17, 2, second)) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  std::size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    const std::size_t first = ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    if (at == first) return std::nullopt;
  }
  std::int64_t offset = 0;
  const std::string_view zone = text.substr(at);
  if (zone == "Z" || zone == "z") {
    offset = 0;
  } else {
    unsigned offsetHours = 0, offsetMinutes = 0;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || !Digits(zone, 1, 2, offsetHours) || zone[3] != ':' ||
        !Digits(zone, 4, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59) {
      return std::nullopt;
    }
    offset = (zone[0] == '+' ? 1 : -1) * static_cast<std::int64_t>(offsetHours * 3600 + offsetMinutes * 60);
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
}

std::string FormatUtcTime(std::int64_t seconds) {
  // civil_from_days, the inverse of DaysFromCivil.
  std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const std::int64_t inDay = seconds - days * 86400;
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
  const auto hour = static_cast<unsigned>(inDay / 3600);
  const auto minute = static_cast<unsigned>(inDay / 60 % 60);
  const auto second = static_cast<unsigned>(inDay % 60);
  char text[64];
  std::snprintf(text, sizeof(text), "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(year), month, day, hour,
                minute, second);
  return text;
}

std::optional<std::int64_t> ParseSerial(std::string_view literal) {
  if (literal.empty() || literal.size() > 19) return std::nullopt;
  std::int64_t value = 0;
  for (char c : literal) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (INT64_MAX - (c - '0')) / 10) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::int64_t UtcSecondsNow() {
  if (const auto clock = replacedClock.load()) return clock();
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void ReplaceUtcSecondsNow(std::int64_t (*clock)()) { replacedClock.store(clock); }

std::int64_t ReadAcceptedSerial(const std::string& runDirectory) {
  platform::InputFile file;
  if (!file.Open(SerialPath(runDirectory))) return 0;
  char buffer[32];
  const std::int64_t got = file.Read(buffer, sizeof(buffer));
  if (got <= 0) return 0;
  std::string_view text(buffer, static_cast<std::size_t>(got));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return ParseSerial(text).value_or(0);
}

bool StoreAcceptedSerial(const std::string& runDirectory, std::int64_t serial) {
  platform::CreateDirectoryAt(runDirectory + "\\Bin");
  platform::CreateDirectoryAt(runDirectory + "\\Bin\\Config");
  const std::string path = SerialPath(runDirectory);
  const std::string fresh = path + ".new";
  const std::string text = std::to_string(serial) + "\n";
  platform::OutputFile file;
  if (!file.Open(fresh, platform::OutputFile::Mode::CreateOrTruncate, true)) return false;
  const bool written = file.Write(text.data(), text.size()) && file.Flush();
  file.Close();
  if (!written || !platform::MoveFileReplacing(fresh, path)) {
    platform::RemoveFile(fresh);
    return false;
  }
  return true;
}

bool ForgetAcceptedSerials(const std::string& runDirectory) {
  const std::string folder = runDirectory + "\\Bin\\Config";
  const platform::DirectoryWalk walk = platform::WalkDirectoryTree(folder);
  bool forgotten = true;
  for (const platform::WalkedFile& file : walk.files) {
    const std::string name = text::WideToNarrow(file.relativePath, text::NarrowCodePage);
    const bool isSerial = name.size() > 10 && name.compare(0, 3, "UP.") == 0 &&
                          name.compare(name.size() - 7, 7, ".serial") == 0 && name.find('\\') == std::string::npos;
    if (name == "UP.serial" || isSerial) forgotten = platform::RemoveFile(folder + "\\" + name) && forgotten;
  }
  return forgotten;
}

}  // namespace velmora::update
