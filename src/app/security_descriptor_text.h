// A file's security descriptor as the system writes it in SDDL (Security Descriptor Definition
// Language): "O:BAD:PAI(A;OICI;FA;;;SY)(A;;0x1200a9;;;BU)". Only what decides who may change a
// file is kept: the owner and the DACL's entries. The group and the SACL are skipped.
//
// Portable and free of I/O: the Windows layer reads a path's descriptor and converts it to this
// text (platform/file_security.h); tests give the text directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::app {

// Access rights of files and folders (the bits of ACCESS_MASK this module looks at).
inline constexpr std::uint32_t kWriteData = 0x2;         // FILE_WRITE_DATA; a folder: FILE_ADD_FILE
inline constexpr std::uint32_t kAppendData = 0x4;        // FILE_APPEND_DATA; a folder: FILE_ADD_SUBDIRECTORY
inline constexpr std::uint32_t kDeleteChild = 0x40;      // FILE_DELETE_CHILD
inline constexpr std::uint32_t kDelete = 0x10000;        // DELETE
inline constexpr std::uint32_t kWriteDac = 0x40000;      // WRITE_DAC
inline constexpr std::uint32_t kWriteOwner = 0x80000;    // WRITE_OWNER
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericExecute = 0x20000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kGenericRead = 0x80000000;

// Well-known SIDs the decision names.
inline constexpr char kLocalSystemSid[] = "S-1-5-18";
inline constexpr char kAdministratorsSid[] = "S-1-5-32-544";
inline constexpr char kTrustedInstallerSid[] = "S-1-5-80-956008885-3581072358-2936306578-2249211116";
inline constexpr char kEveryoneSid[] = "S-1-1-0";
inline constexpr char kCreatorOwnerSid[] = "S-1-3-0";
inline constexpr char kCreatorGroupSid[] = "S-1-3-1";
inline constexpr char kOwnerRightsSid[] = "S-1-3-4";

enum class AceKind {
  Allow,             // A
  Deny,              // D
  ConditionalAllow,  // XA: allows when its condition holds, which this module cannot tell
  ConditionalDeny,   // XD
};

struct AccessEntry {
  AceKind kind = AceKind::Allow;
  bool inheritOnly = false;  // IO: a template for children; it grants or denies nothing here
  bool inherited = false;    // ID
  std::uint32_t rights = 0;  // as written (generic bits not yet mapped)
  std::string sid;           // "S-1-..." (abbreviations expanded; domain-relative ones kept as written)
};

struct SecurityDescriptorText {
  std::string owner;  // empty when the text has no owner
  // False when the descriptor has no DACL at all or a null one ("D:NO_ACCESS_CONTROL"): everyone
  // has every right.
  bool hasDacl = false;
  std::vector<AccessEntry> dacl;
};

struct SddlReading {
  std::optional<SecurityDescriptorText> descriptor;
  std::string error;       // why not, when `descriptor` is empty
  std::size_t position = 0;  // where in the text the fault is
};

// Reads `sddl`. Rights are hex ("0x1301bf"), decimal, or SDDL letters ("FA", "GRGX", "SDWDWO");
// SIDs are "S-1-..." or two-letter abbreviations ("SY", "BA", "BU", "WD", "CO"...). ACE types
// other than A, D, XA and XD (object, audit and label ACEs) are refused in a DACL: a descriptor
// that cannot be judged is not taken as safe. O(length).
SddlReading ReadSddl(std::string_view sddl);

// "S-1-..." for a two-letter SID abbreviation; the text itself when it is none.
std::string ExpandSidAbbreviation(std::string_view sid);

// The generic bits of `rights` replaced by the file rights they stand for (FILE_GENERIC_*).
std::uint32_t MapGenericFileRights(std::uint32_t rights);

}  // namespace velmora::app
