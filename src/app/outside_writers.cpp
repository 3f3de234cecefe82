#include "app/outside_writers.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "app/security_descriptor_text.h"

namespace velmora::app {
namespace {

struct RightName {
  std::uint32_t right;
  const char* onFile;
  const char* onFolder;
};

constexpr std::array<RightName, 6> kRightNames{{
    {kWriteData, "write", "add files"},
    {kAppendData, "append", "add folders"},
    {kDelete, "delete", "delete"},
    {kDeleteChild, "delete", "delete what it holds"},
    {kWriteDac, "change its access list", "change its access list"},
    {kWriteOwner, "take ownership", "take ownership"},
}};

constexpr std::uint32_t kChangesFile = kWriteData | kAppendData | kDelete | kWriteDac | kWriteOwner;
constexpr std::uint32_t kChangesOwnFolder = kChangesFile | kDeleteChild;
constexpr std::uint32_t kChangesFolderAbove = kChangesOwnFolder & ~kAppendData;

bool Contains(const std::vector<std::string>& sids, const std::string& sid) {
  return std::find(sids.begin(), sids.end(), sid) != sids.end();
}

// SIDs no process's token holds: in an ACE that is not inherit-only they grant nothing.
// OWNER RIGHTS stands for the owner, whom the owner check judges.
bool StandsForNoOneElse(const std::string& sid) {
  return sid == kCreatorOwnerSid || sid == kCreatorGroupSid || sid == kOwnerRightsSid;
}

// The rights `principal` holds on the object, with the ACEs applied in their order.
std::uint32_t RightsOf(const std::string& principal, const std::vector<AccessEntry>& dacl) {
  std::uint32_t granted = 0;
  std::uint32_t denied = 0;
  for (const AccessEntry& entry : dacl) {
    if (entry.inheritOnly) continue;
    const std::uint32_t rights = MapGenericFileRights(entry.rights);
    if (entry.kind == AceKind::Deny && (entry.sid == principal || entry.sid == kEveryoneSid)) {
      denied |= rights & ~granted;
    } else if ((entry.kind == AceKind::Allow || entry.kind == AceKind::ConditionalAllow) && entry.sid == principal) {
      granted |= rights & ~denied;
    }
  }
  return granted;
}

std::string NameOf(std::uint32_t rights, bool folder) {
  for (const RightName& name : kRightNames) {
    if (rights & name.right) return folder ? name.onFolder : name.onFile;
  }
  return "change";
}

std::optional<OutsideWriter> WriterOf(const PathDescriptor& element, std::uint32_t relevant, bool folder,
                                      const std::vector<std::string>& trusted) {
  const SddlReading reading = ReadSddl(element.sddl);
  if (!reading.descriptor) {
    return OutsideWriter{element.path, "",
                         "its access list cannot be judged (" + reading.error + " at " +
                             std::to_string(reading.position) + ")"};
  }
  const SecurityDescriptorText& descriptor = *reading.descriptor;
  if (descriptor.owner.empty()) return OutsideWriter{element.path, "", "its owner cannot be read"};
  if (!Contains(trusted, descriptor.owner)) return OutsideWriter{element.path, descriptor.owner, "change its access list as its owner"};
  if (!descriptor.hasDacl) return OutsideWriter{element.path, kEveryoneSid, "do anything (it has no access list)"};
  for (const AccessEntry& entry : descriptor.dacl) {
    if (entry.inheritOnly || entry.kind == AceKind::Deny || entry.kind == AceKind::ConditionalDeny) continue;
    if (Contains(trusted, entry.sid) || StandsForNoOneElse(entry.sid)) continue;
    if (const std::uint32_t rights = RightsOf(entry.sid, descriptor.dacl) & relevant) {
      return OutsideWriter{element.path, entry.sid, NameOf(rights, folder)};
    }
  }
  return std::nullopt;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The length of the root of `path` including its last separator ("C:\", "\\server\share\"), or 0.
std::size_t RootLength(const std::string& path) {
  std::size_t start = 0;
  if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
    start = 8;
  } else if (path.rfind("\\\\?\\", 0) == 0) {
    start = 4;
  } else if (path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    start = 2;
  }
  if (start == 2 || start == 8) {  // server and share
    const std::size_t server = path.find_first_of("\\/", start);
    if (server == std::string::npos || server == start) return 0;
    const std::size_t share = path.find_first_of("\\/", server + 1);
    if (share == std::string::npos || share == server + 1) return 0;
    return share + 1;
  }
  if (path.size() > start + 2 && path[start + 1] == ':' && IsSeparator(path[start + 2])) return start + 3;
  return 0;
}

}  // namespace

std::vector<std::string> TrustedWriters() {
  std::vector<std::string> trusted{kLocalSystemSid, kAdministratorsSid, kTrustedInstallerSid};
  for (std::string& sid : ExtraTrustedAccounts()) trusted.push_back(std::move(sid));
  return trusted;
}

std::optional<OutsideWriter> FindOutsideWriter(const std::vector<PathDescriptor>& chain,
                                               const std::vector<std::string>& trusted) {
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const std::uint32_t relevant = i == 0 ? kChangesFile : i == 1 ? kChangesOwnFolder : kChangesFolderAbove;
    if (std::optional<OutsideWriter> writer = WriterOf(chain[i], relevant, i > 0, trusted)) return writer;
  }
  return std::nullopt;
}

std::vector<std::string> FolderChainOf(const std::string& path) {
  const std::size_t root = RootLength(path);
  if (root == 0) return {};
  std::vector<std::string> chain;
  std::string rest = path;
  while (rest.size() > root) {
    while (rest.size() > root && IsSeparator(rest.back())) rest.pop_back();
    if (rest.size() <= root) break;
    chain.push_back(rest);
    const std::size_t separator = rest.find_last_of("\\/");
    rest.resize(separator < root ? root : separator);
  }
  chain.push_back(path.substr(0, root));
  return chain;
}

}  // namespace velmora::app
