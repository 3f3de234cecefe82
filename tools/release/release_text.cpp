#include "release_text.h"

#include <array>
#include <cstdio>

#include "text/encoding.h"

namespace velmora::release {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

char16_t FoldCase(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) ||  // Latin, Latin-1
      (c >= 0x0391 && c <= 0x03AB && c != 0x03A2) ||                                // Greek
      (c >= 0x0410 && c <= 0x042F) || (c >= 0xFF21 && c <= 0xFF3A)) {               // Cyrillic, full-width
    return static_cast<char16_t>(c + 0x20);
  }
  if (c >= 0x0400 && c <= 0x040F) return static_cast<char16_t>(c + 0x50);  // Cyrillic "Ё", "Ђ", ...
  return c;
}

char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c; }

// "CON", "con.txt", "Com1.dll", "LPT9" ...: Windows opens the device, whatever the extension.
bool IsDeviceName(std::u16string_view name) {
  std::u16string stem;
  for (char16_t c : name) {
    if (c == u'.') break;
    stem.push_back(AsciiLower(c));
  }
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  static constexpr std::array<std::u16string_view, 4> kPlain{u"con", u"prn", u"aux", u"nul"};
  for (std::u16string_view device : kPlain) {
    if (stem == device) return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, u"com") == 0 || stem.compare(0, 3, u"lpt") == 0) &&
         stem[3] >= u'1' && stem[3] <= u'9';
}

}  // namespace

std::string Utf8Of(const std::u16string& wide) { return text::WideToNarrow(wide, text::Utf8CodePage); }

std::u16string WideOfUtf8(const std::string& utf8) { return text::NarrowToWide(utf8, text::Utf8CodePage); }

bool GbkOf(const std::u16string& wide, std::string& gbk) {
  gbk = text::WideToNarrow(wide, text::NarrowCodePage);
  return text::NarrowToWide(gbk, text::NarrowCodePage) == wide;
}

std::string WindowsNameProblem(std::u16string_view name) {
  if (name.empty()) return "an empty name";
  if (name.size() > kLongestWindowsName) {
    return std::to_string(name.size()) + " characters, more than the " + std::to_string(kLongestWindowsName) +
           " that Windows allows in one name";
  }
  for (char16_t c : name) {
    if (c < 0x20) return "a control character, which Windows does not allow in names";
    if (std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos) {
      return "the character \"" + Utf8Of(std::u16string(1, c)) + "\", which Windows does not allow in names";
    }
  }
  if (name.back() == u'.' || name.back() == u' ') {
    return "a trailing dot or space, which Windows drops (the file would get another name)";
  }
  if (IsDeviceName(name)) return "a device name of Windows (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
  return {};
}

std::u16string SamePathKey(std::u16string_view path) {
  std::u16string key;
  key.reserve(path.size());
  for (char16_t c : path) {
    if (IsSeparator(c)) {
      if (!key.empty()) key.push_back(u'\\');
    } else {
      key.push_back(FoldCase(c));
    }
  }
  return key;
}

std::string DescribeBytes(std::uint64_t bytes) {
  if (bytes == 1) return "1 byte";
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  static constexpr std::array<const char*, 4> kUnits{"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < kUnits.size()) {
    value /= 1024.0;
    ++unit;
  }
  char shown[32];
  std::snprintf(shown, sizeof shown, "%.1f %s", value, kUnits[unit]);
  return std::string(shown) + " (" + std::to_string(bytes) + " bytes)";
}

std::string CountOf(std::uint64_t count, const std::string& singular, const std::string& plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

}  // namespace velmora::release
