#include "app/check_report.h"

#include <cstdint>
#include <cstdio>

#include "text/encoding.h"

namespace velmora::app {

std::string JsonQuoted(const std::string& utf8) {
  std::string quoted = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string CheckReportLine(const state::UpdateList& listed) {
  if (listed.empty()) return "up to date\n";
  std::int64_t bytes = 0;
  bool everySizeKnown = true;
  std::string names;
  for (const state::UpdateEntry& entry : listed) {
    if (entry.size >= 0) {
      bytes += entry.size;
    } else {
      everySizeKnown = false;
    }
    names += ' ' + JsonQuoted(text::NarrowToUtf8(entry.path));
  }
  return "update: " + std::to_string(listed.size()) + " files, " + (everySizeKnown ? "" : "at least ") +
         std::to_string(bytes) + " bytes:" + names + "\n";
}

}  // namespace velmora::app
