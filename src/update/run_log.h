// The run log: one line per event that support staff may need, appended to the run directory's
// Bin\Config\update.log (UTF-8). Each line starts with the local time, its offset from UTC and the
// run's identifier, so that one run's lines can be picked out of many:
//   2026-12-08 15:04:05.123 +08:00 3fa91c07 start: version 1.0.0, mode quiet, arguments "--quiet"
// At 1 MiB the log becomes update.log.1 (replacing the one before) and a new one starts. A log
// that cannot be written never stops an update; nothing secret is ever given to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/local_time.h"

namespace velmora::update {

// The size at which the log is set aside.
inline constexpr std::int64_t kRunLogLimit = 1024 * 1024;
// What the set-aside log is called: the log's name with this appended.
inline constexpr char kPreviousLogSuffix[] = ".1";

// Draws a new identifier for the lines this run writes from now on. Called once, at the start.
void BeginRunLog();

// The identifier of this run's lines: 8 lower-case hex digits.
std::string RunId();

// Appends "<local time> <offset> <run id> <utf8Text>" as one line to the log of the run directory
// (GBK path), setting the full log aside first. Thread-safe; failures are ignored.
void AppendToRunLog(const std::string& runDirectory, const std::string& utf8Text);

// The same for several lines at once, in one write (a list of thousands of files).
void AppendLinesToRunLog(const std::string& runDirectory, const std::vector<std::string>& utf8Lines);

// Appends like AppendToRunLog, but may keep the line in memory for a moment and write it together
// with the lines around it: each write opens, appends to and closes the log, which under Wine is
// several calls to the wineserver, as much as a small file's whole local work. The line keeps the
// time of this call. Kept lines are written, before anything else, by the next AppendToRunLog or
// AppendLinesToRunLog, by FlushRunLog, and by this call once kRunLogKeptLines lines wait or the
// oldest has waited kRunLogKeptMs: a run that crashes loses at most the lines of that moment.
// Thread-safe; failures are ignored.
void AppendToRunLogSoon(const std::string& runDirectory, const std::string& utf8Text);

// Writes the lines that AppendToRunLogSoon keeps, if any. Thread-safe; cheap when none waits.
void FlushRunLog();

inline constexpr std::size_t kRunLogKeptLines = 64;
inline constexpr std::uint32_t kRunLogKeptMs = 250;

// "2026-12-08 15:04:05.123 +08:00 3fa91c07 ": what starts each line.
std::string LogLinePrefix(const platform::LocalTime& time, const std::string& runId);

// `seconds` since 1970 as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcTimeText(std::int64_t seconds);

}  // namespace velmora::update
