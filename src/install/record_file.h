// The small text files the install subsystem keeps under Bin\Config (the commit's journal, the
// kept release's record): UTF-8 lines of tab-separated fields, written whole or not at all
// (update/durable_file.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::install {

// A GBK text as one field: UTF-8, with "%", tab, CR and LF written as "%25", "%09", "%0D", "%0A".
std::string EncodeField(const std::string& gbk);

// The GBK text of a field written by EncodeField; nothing for a bad escape or text that is no
// UTF-8 of a GBK text.
std::optional<std::string> DecodeField(std::string_view field);

// The decimal whole number that `text` is, whole; nothing otherwise.
std::optional<std::int64_t> ParseWholeNumber(std::string_view text);

// The path a field holds (DecodeField) when it stays below the run directory
// (update::IsSafeInstallPath); the empty text only when `mayBeEmpty`. Nothing otherwise.
std::optional<std::string> DecodeInstallPath(std::string_view field, bool mayBeEmpty = false);

// The fields of one line (split at tabs; an empty line has one empty field).
std::vector<std::string_view> SplitFields(std::string_view line);

// The lines of a text (split at "\n"; a final "\n" ends the last line and adds none).
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace velmora::install
