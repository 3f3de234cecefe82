// Who a process is. Implements platform/process_identity.h: the image through
// QueryFullProcessImageNameW, the user through the process's token or, when the token may not be
// opened (a standard user looking at a LocalSystem process), through WTSEnumerateProcessesW.
#include <windows.h>
#include <sddl.h>
#include <wtsapi32.h>

#include <vector>

#include "platform/codepage.h"
#include "platform/process_identity.h"
#include "platform/win32/kernel_handle.h"

namespace velmora::platform {
namespace {

constexpr std::uint32_t kNarrowCodePage = 936;
constexpr char kLocalSystemSid[] = "S-1-5-18";

using win32::KernelHandle;

std::string Narrow(const wchar_t* wide, std::size_t length) {
  const std::u16string text(reinterpret_cast<const char16_t*>(wide), length);
  return WideToMultiByte(text, kNarrowCodePage);
}

std::string SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return {};
  std::string result = Narrow(text, wcslen(text));
  LocalFree(text);
  return result;
}

std::string TokenUser(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  const KernelHandle owned(token);
  DWORD needed = 0;
  GetTokenInformation(token, ::TokenUser, nullptr, 0, &needed);
  if (needed == 0) return {};
  std::vector<unsigned char> buffer(needed);
  if (!GetTokenInformation(token, ::TokenUser, buffer.data(), needed, &needed)) return {};
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

// The terminal services name each process's user to any user of the machine.
std::string ListedUser(std::uint32_t processId) {
  WTS_PROCESS_INFOW* list = nullptr;
  DWORD count = 0;
  if (!WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count)) return {};
  std::string user;
  for (DWORD i = 0; i < count; ++i) {
    if (list[i].ProcessId == processId) {
      user = SidText(list[i].pUserSid);
      break;
    }
  }
  WTSFreeMemory(list);
  return user;
}

}  // namespace

ProcessIdentity DescribeProcess(std::uint32_t processId) {
  ProcessIdentity identity;
  if (processId == 0) return identity;
  const KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (process.valid()) {
    std::vector<wchar_t> path(32768);
    DWORD length = static_cast<DWORD>(path.size());
    if (QueryFullProcessImageNameW(process.get(), 0, path.data(), &length)) {
      identity.imagePath = Narrow(path.data(), length);
    }
    identity.user = TokenUser(process.get());
  }
  if (identity.user.empty()) identity.user = ListedUser(processId);
  return identity;
}

std::string ServiceAccountUser() { return kLocalSystemSid; }

}  // namespace velmora::platform
