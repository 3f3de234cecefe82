#include "update/run_log.h"

#include <cstdio>
#include <mutex>

#include "platform/file.h"
#include "platform/random_bytes.h"
#include "platform/clock.h"
#include "update/state_paths.h"

namespace velmora::update {
namespace {

// Appends and the setting aside never interleave within this process; only one updater runs at a
// time (the single-instance guard), and a second copy writes at most a line or two.
std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& CurrentRunId() {
  static std::string id = "00000000";
  return id;
}

// The lines AppendToRunLogSoon keeps, whole and with their line ends, for the log of `directory`.
// Under LogMutex.
struct KeptLines {
  std::string directory;
  std::string text;
  std::size_t lines = 0;
  std::uint32_t firstTick = 0;  // when the oldest was kept
};

KeptLines& Kept() {
  static KeptLines kept;
  return kept;
}

// "<prefix><line>\n" for each line, each kept on one line: a text never breaks the line structure
// that readers rely on.
void AddLines(std::string& text, const std::string& prefix, const std::vector<std::string>& utf8Lines) {
  for (const std::string& line : utf8Lines) {
    const std::size_t start = text.size();
    text += prefix + line;
    for (std::size_t i = start; i < text.size(); ++i) {
      if (text[i] == '\n' || text[i] == '\r') text[i] = ' ';
    }
    text += '\n';
  }
}

// Appends whole lines to the log of `runDirectory`, setting the full log aside first. Under
// LogMutex.
void WriteLines(const std::string& runDirectory, const std::string& text) {
  if (text.empty()) return;
  const std::string path = runDirectory + kRunLogPath;
  // A log that has reached its limit is set aside whole, so that no line is ever cut in two and the
  // newest lines are always in update.log.
  if (platform::FileLength(path) >= kRunLogLimit) platform::MoveFileReplacing(path, path + kPreviousLogSuffix);
  platform::OutputFile file;
  if (!file.Open(path, platform::OutputFile::Mode::Append)) {
    // A product folder without its Bin\Config yet still gets its log.
    platform::CreateDirectoryAt(runDirectory + "\\Bin");
    platform::CreateDirectoryAt(runDirectory + "\\Bin\\Config");
    if (!file.Open(path, platform::OutputFile::Mode::Append)) return;
  }
  file.Write(text.data(), text.size());
}

// Writes the kept lines. Under LogMutex.
void WriteKeptLines() {
  KeptLines& kept = Kept();
  if (kept.lines == 0) return;
  WriteLines(kept.directory, kept.text);
  kept.text.clear();
  kept.lines = 0;
}

}  // namespace

void BeginRunLog() {
  unsigned char bytes[4] = {};
  if (!platform::FillRandomBytes(bytes, sizeof bytes)) {
    // Still different from the runs around it, if not unpredictable.
    const std::uint32_t tick = platform::TickCount();
    for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(tick >> (8 * i));
  }
  char text[9];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3]);
  const std::lock_guard lock(LogMutex());
  CurrentRunId() = text;
}

std::string RunId() {
  const std::lock_guard lock(LogMutex());
  return CurrentRunId();
}

std::string LogLinePrefix(const platform::LocalTime& time, const std::string& runId) {
  const std::int32_t offset = time.utcOffsetMinutes < 0 ? -time.utcOffsetMinutes : time.utcOffsetMinutes;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d %c%02d:%02d ", time.year, time.month, time.day,
                time.hour, time.minute, time.second, time.millisecond, time.utcOffsetMinutes < 0 ? '-' : '+',
                offset / 60, offset % 60);
  return text + runId + " ";
}

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

void AppendLinesToRunLog(const std::string& runDirectory, const std::vector<std::string>& utf8Lines) {
  if (utf8Lines.empty()) return;
  const std::lock_guard lock(LogMutex());
  WriteKeptLines();
  std::string text;
  AddLines(text, LogLinePrefix(platform::LocalTimeNow(), CurrentRunId()), utf8Lines);
  WriteLines(runDirectory, text);
}

void AppendToRunLogSoon(const std::string& runDirectory, const std::string& utf8Text) {
  const platform::LocalTime now = platform::LocalTimeNow();
  const std::uint32_t tick = platform::TickCount();
  const std::lock_guard lock(LogMutex());
  KeptLines& kept = Kept();
  if (kept.lines != 0 && kept.directory != runDirectory) WriteKeptLines();
  if (kept.lines == 0) {
    kept.directory = runDirectory;
    kept.firstTick = tick;
  }
  AddLines(kept.text, LogLinePrefix(now, CurrentRunId()), {utf8Text});
  ++kept.lines;
  if (kept.lines >= kRunLogKeptLines || tick - kept.firstTick >= kRunLogKeptMs) WriteKeptLines();
}

void FlushRunLog() {
  const std::lock_guard lock(LogMutex());
  WriteKeptLines();
}

void AppendToRunLog(const std::string& runDirectory, const std::string& utf8Text) {
  AppendLinesToRunLog(runDirectory, {utf8Text});
}

}  // namespace velmora::update
