// Checks that the paths a manifest gives stay inside the run directory.
//
// The update writes every listed file to run directory + its `path` and later starts run
// directory + "\" + `run`. A manifest that was tampered with (or merely broken) could point those
// anywhere on the disk; these checks let the manifest loader refuse such a manifest as a whole.
// Paths are GBK text and are judged the way Windows will read them: as UTF-16 characters, with "\"
// and "/" both separating. All functions are pure and thread-safe.
#pragma once

#include <string>

namespace velmora::update {

// True for an install path that stays below the run directory once it is appended to it with no
// separator: it begins with one "\" (or "/"), is not "\\"-rooted (UNC), names no drive or stream
// (no ":"), and has no segment that climbs (".." , or any run of two or more dots and spaces,
// which Windows trims to ".."), and no empty segment. "\Bin\App.exe" and "\a..b\x.dll" pass;
// "Bin\x.dll" (it would be glued onto the run directory's own name: "C:\AppBin\x.dll"), "",
// "\..\x.dll", "\C:\x.dll", "\\server\share\x.dll", "\res\\x.dat" and "\Bin\" do not.
bool IsSafeInstallPath(const std::string& path);

// True for a launch target that stays below the run directory once joined to it with "\": the
// same rules, except that it need not begin with a separator. The empty text passes (nothing is
// named); "App.exe", "Bin\App.exe" pass; "..\App.exe", "C:\Windows\x.exe" and "\\server\x.exe"
// do not.
bool IsSafeLaunchTarget(const std::string& run);

// True for an install path at which the updater keeps its own state (update/state_paths.h: the
// kept release and the folders a commit fills, the journal and what is written beside it, the
// rolled-back release, the log), compared as Windows compares paths. A manifest that lists one
// would let a release overwrite the very files that make its commit safe.
bool IsUpdaterStatePath(const std::string& path);

// A key under which two paths (GBK) that Windows reads as the same file are equal: their UTF-16
// form with "/" read as "\" and the ASCII letters in lower case ("C:\App\BIN/X.dll" and
// "c:\app\bin\x.dll"). Other letters keep their case.
std::u16string PathKey(const std::string& path);

}  // namespace velmora::update
