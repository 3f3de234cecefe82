#include "install/record_file.h"

#include <charconv>

#include "text/encoding.h"
#include "update/path_safety.h"

namespace velmora::install {
namespace {

int HexValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return -1;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

std::string EncodeField(const std::string& gbk) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string field;
  for (const char byte : text::NarrowToUtf8(gbk)) {
    if (byte == '%' || byte == '\t' || byte == '\r' || byte == '\n') {
      field += '%';
      field += kDigits[static_cast<unsigned char>(byte) >> 4];
      field += kDigits[static_cast<unsigned char>(byte) & 0xF];
    } else {
      field += byte;
    }
  }
  return field;
}

std::optional<std::string> DecodeField(std::string_view field) {
  std::string utf8;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      utf8 += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return std::nullopt;
    const int high = HexValue(field[i + 1]);
    const int low = HexValue(field[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    utf8 += static_cast<char>(high * 16 + low);
    i += 2;
  }
  std::string gbk = text::Utf8ToNarrow(utf8);
  if (text::NarrowToUtf8(gbk) != utf8) return std::nullopt;
  return gbk;
}

std::optional<std::int64_t> ParseWholeNumber(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::string> DecodeInstallPath(std::string_view field, bool mayBeEmpty) {
  std::optional<std::string> path = DecodeField(field);
  if (!path || (path->empty() ? !mayBeEmpty : !update::IsSafeInstallPath(*path))) return std::nullopt;
  return path;
}

std::vector<std::string_view> SplitFields(std::string_view line) { return Split(line, '\t'); }

std::vector<std::string_view> SplitLines(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (text.empty()) return {};
  return Split(text, '\n');
}

}  // namespace velmora::install
