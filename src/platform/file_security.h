// Who may change a file: its security descriptor as SDDL text, and whether this process runs as
// SYSTEM. The judgement of the text is portable (app/outside_writers.h).
//
// Windows: GetNamedSecurityInfoW (owner and DACL) and
// ConvertSecurityDescriptorToStringSecurityDescriptorW; the process token's user. The POSIX layer
// has no such descriptors: it answers "not supported" and "not SYSTEM".
#pragma once

#include <string>

namespace velmora::platform {

// The owner and DACL of the file or folder at `path` (GBK, a full path; a drive's root ends with
// its backslash) as SDDL, such as "O:BAD:PAI(A;;FA;;;SY)". False with `error` set when it cannot be
// read. Thread-safe.
bool ReadPathSecurity(const std::string& path, std::string& sddl, std::string& error);

// True when the process runs as LocalSystem (the service, the background task). Thread-safe.
bool RunsAsLocalSystem();

}  // namespace velmora::platform
