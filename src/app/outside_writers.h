// Who, besides SYSTEM, Administrators and TrustedInstaller, can change a program that runs as
// SYSTEM: the update service's executable and the background task's. Such a program must live
// where no one else can replace it, add a DLL beside it, or remove or rename a folder on its way
// (docs/managed.md, "Where the program must live").
//
// Portable and free of I/O: the descriptors come as SDDL text (app/security_descriptor_text.h),
// read by app/program_location.h on Windows and given directly by the tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::app {

struct PathDescriptor {
  std::string path;  // GBK, for the reason only
  std::string sddl;  // its owner and DACL
};

struct OutsideWriter {
  std::string path;       // where it was found
  std::string principal;  // the SID ("S-1-5-32-545"); empty when the descriptor could not be read
  std::string what;       // the right it has: "add files", "delete", ...; or what was wrong with the text
};

// The first principal outside `trusted` (SIDs, "S-1-...") that can change an element of `chain`:
// [the executable, its folder, ..., the root]. What counts:
// - the executable: write or append data, delete, change its DACL or owner;
// - its folder: add files or folders, delete it or what it holds (FILE_DELETE_CHILD), change its
//   DACL or owner;
// - a folder above: the same, but adding folders (the drive's root lets every user make one)
//   changes nothing on the program's way;
// - an owner outside `trusted` (an owner may always change the DACL), a null DACL (everyone has
//   every right) and a descriptor that cannot be read.
// ACEs apply in their order: a deny for the principal itself or for Everyone takes away what no
// earlier allow gave it ("inherited deny" after an explicit allow takes nothing). Inherit-only
// ACEs and CREATOR OWNER / CREATOR GROUP ACEs (templates for children) grant nothing here; a
// conditional allow counts as granted, a conditional deny as not denying. Generic rights are
// mapped to the file rights. O(chain length x ACEs^2).
std::optional<OutsideWriter> FindOutsideWriter(const std::vector<PathDescriptor>& chain,
                                               const std::vector<std::string>& trusted);

// SYSTEM, Administrators, TrustedInstaller, and whatever ExtraTrustedAccounts() adds.
std::vector<std::string> TrustedWriters();

// Accounts a build trusts beside those three, both to change its program's folder and as the
// update service's account on its pipe (app/pipe_server_check.h). The product's build: none
// (app/extra_trusted_writers.cpp). Test programs for Wine link their own definition
// (tests/e2e/managed/wine_trusted_writers.cpp) that adds the one account every Wine program runs
// as (the service's too) and owns every file by.
std::vector<std::string> ExtraTrustedAccounts();

// [path, its folder, ..., its root] for a full path (GBK): "C:\a\b.exe" gives "C:\a\b.exe",
// "C:\a", "C:\"; the root of "\\server\share\x" is "\\server\share\", and "\\?\" paths keep
// their prefix. Empty for a relative path.
std::vector<std::string> FolderChainOf(const std::string& path);

}  // namespace velmora::app
