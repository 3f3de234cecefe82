// The extended form of a Windows path, in which the wide file functions take paths longer than
// MAX_PATH (260 characters) without the machine's long-path setting: "\\?\C:\..." for a drive
// path, "\\?\UNC\server\share\..." for a UNC path.
//
// Portable (no platform call), so that the rules are tested on any system; the Win32 file layer
// passes every absolute path through it before a file function sees it. Pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace velmora::platform {

// `path` in its extended form. The extended form is taken literally, so what Windows would
// otherwise resolve is resolved here: "/" becomes "\", repeated separators collapse, "." segments
// are dropped and ".." removes the segment before it, never climbing above the drive or the share
// ("C:\a\..\..\b" is "\\?\C:\b"). A path already extended ("\\?\...") or a device path
// ("\\.\...") is returned as it is. A path that is not absolute ("a\b", "\a", "C:a") gives the
// empty text: the caller decides what to do with it rather than this function guessing the
// current folder. "C:\Program Files\Velmora/Bin\.\x.dll" gives "\\?\C:\Program Files\Velmora\Bin\x.dll";
// "\\server\share\a" gives "\\?\UNC\server\share\a".
std::u16string ExtendedPath(std::u16string_view path);

}  // namespace velmora::platform
