// The run log: one line per event that support staff may need, appended to the run directory's
// Bin\Config\update.log (UTF-8). A log that cannot be written never stops an update.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::update {


// Appends "<UTC time> <utf8Text>" as one line to the log of the run directory (GBK path).
// Thread-safe as far as the system's appends are; failures are ignored.
void AppendToRunLog(const std::string& runDirectory, const std::string& utf8Text);

// `seconds` since 1970 as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcTimeText(std::int64_t seconds);

}  // namespace velmora::update
