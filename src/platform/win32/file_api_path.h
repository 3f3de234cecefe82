// The one way a GBK path (the program's own text) reaches a wide file function of Windows.
#pragma once

#include <string>

#include "platform/extended_path.h"
#include "text/encoding.h"

namespace velmora::platform::win32 {

// `path` converted with code page 936 and, when absolute, in its extended form ("\\?\C:\...",
// platform/extended_path.h), so that a target deeper than MAX_PATH opens, renames and links like
// any other. A relative path is passed as it is (Windows resolves it against the current folder).
// Empty when the text does not convert.
inline std::u16string FileApiPath(const std::string& path) {
  const std::u16string wide = text::NarrowToWide(path, text::NarrowCodePage);
  std::u16string extended = ExtendedPath(wide);
  return extended.empty() ? wide : extended;
}

}  // namespace velmora::platform::win32
