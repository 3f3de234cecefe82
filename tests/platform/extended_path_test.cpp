#include "platform/extended_path.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace velmora::platform {
namespace {

TEST(ExtendedPath, AbsolutePathsTakeTheExtendedFormWithWhatWindowsWouldResolveResolved) {
  const struct {
    const char* path;
    const char* extended;  // empty: refused
  } cases[] = {
      {"C:\\Program Files\\Velmora\\x.dll", "\\\\?\\C:\\Program Files\\Velmora\\x.dll"},
      {"c:/Velmora//Bin\\.\\数据 文件.dat", "\\\\?\\c:\\Velmora\\Bin\\数据 文件.dat"},
      {"C:\\a\\b\\..\\..\\..\\c", "\\\\?\\C:\\c"},  // ".." never climbs above the drive
      {"C:\\", "\\\\?\\C:\\"},
      {"C:\\Velmora\\Bin\\", "\\\\?\\C:\\Velmora\\Bin\\"},
      {"\\\\server\\share\\a\\..\\..\\b", "\\\\?\\UNC\\server\\share\\b"},
      {"//server/share", "\\\\?\\UNC\\server\\share"},
      {"\\\\?\\C:\\a\\..\\b", "\\\\?\\C:\\a\\..\\b"},  // already extended: taken literally
      {"\\\\.\\pipe\\x", "\\\\.\\pipe\\x"},
      {"Bin\\x.dll", ""},
      {"\\Bin\\x.dll", ""},
      {"C:x.dll", ""},
      {"\\\\server", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtendedPath(text::NarrowToWide(c.path, text::Utf8CodePage)),
              text::NarrowToWide(c.extended, text::Utf8CodePage))
        << c.path;
  }
}

}  // namespace
}  // namespace velmora::platform
