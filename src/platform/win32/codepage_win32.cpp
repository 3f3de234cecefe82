// Code-page conversion with MultiByteToWideChar / WideCharToMultiByte: flags 0, one call for the
// size and one to convert, no default character given (the code page's own is used).
#include "platform/codepage.h"

#include <windows.h>

#include <climits>

namespace velmora::platform {

std::u16string MultiByteToWide(std::string_view bytes, std::uint32_t codePage) {
  if (bytes.empty() || bytes.size() > INT_MAX) return {};
  const int inputLength = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(codePage, 0, bytes.data(), inputLength, nullptr, 0);
  if (units <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  const int written = MultiByteToWideChar(codePage, 0, bytes.data(), inputLength,
                                          reinterpret_cast<wchar_t*>(wide.data()), units);
  if (written <= 0) return {};
  wide.resize(static_cast<std::size_t>(written));
  return wide;
}

std::string WideToMultiByte(std::u16string_view wide, std::uint32_t codePage) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const auto* input = reinterpret_cast<const wchar_t*>(wide.data());
  const int inputLength = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(codePage, 0, input, inputLength, nullptr, 0,
                                       nullptr,   // lpDefaultChar: the code page's own
                                       nullptr);  // lpUsedDefaultChar
  if (size <= 0) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  const int written = WideCharToMultiByte(codePage, 0, input, inputLength, narrow.data(), size, nullptr, nullptr);
  if (written <= 0) return {};
  narrow.resize(static_cast<std::size_t>(written));
  return narrow;
}

}  // namespace velmora::platform
