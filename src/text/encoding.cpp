#include "text/encoding.h"

#include <cstring>
#include <string_view>

#include "platform/codepage.h"

namespace velmora::text {
namespace {

std::string_view UpToFirstZero(const std::string& bytes) {
  return std::string_view(bytes.c_str());  // "ab\0cd" is read as "ab"
}

std::u16string_view UpToFirstZero(const std::u16string& wide) {
  return std::u16string_view(wide.c_str());
}

}  // namespace

std::u16string NarrowToWide(const std::string& bytes, std::uint32_t codePage) {
  const std::string_view input = UpToFirstZero(bytes);
  if (input.empty()) return {};
  return platform::MultiByteToWide(input, codePage);
}

std::string WideToNarrow(const std::u16string& wide, std::uint32_t codePage) {
  const std::u16string_view input = UpToFirstZero(wide);
  if (input.empty()) return {};
  std::string narrow = platform::WideToMultiByte(input, codePage);
  // A converted text ends at its first zero byte: GBK text is NUL-terminated everywhere else in
  // the program, so a U+0000 inside the input cuts it there rather than hiding a tail.
  if (const auto zero = narrow.find('\0'); zero != std::string::npos) narrow.resize(zero);
  return narrow;
}

std::string Utf8ToNarrow(const std::string& utf8) {
  return WideToNarrow(NarrowToWide(utf8, Utf8CodePage), NarrowCodePage);
}

std::string NarrowToUtf8(const std::string& narrow) {
  return WideToNarrow(NarrowToWide(narrow, NarrowCodePage), Utf8CodePage);
}

int CompareTexts(const std::string& a, const std::string& b) {
  const std::string_view left = UpToFirstZero(a);
  const std::string_view right = UpToFirstZero(b);
  const std::size_t common = left.size() < right.size() ? left.size() : right.size();
  // memcmp compares as unsigned char: bytes above 127 sort after ASCII.
  if (const int order = std::memcmp(left.data(), right.data(), common); order != 0) return order;
  if (left.size() == right.size()) return 0;
  return left.size() < right.size() ? -1 : 1;
}

}  // namespace velmora::text
