// Security descriptors of files as SDDL, and the process token's user.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "platform/file_security.h"
#include "platform/win32/kernel_handle.h"
#include "text/encoding.h"

namespace velmora::platform {
namespace {

// Frees what the security functions allocate with LocalAlloc.
class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() {
    if (memory_ != nullptr) LocalFree(memory_);
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  void** out() { return &memory_; }
  void* get() const { return memory_; }

 private:
  void* memory_ = nullptr;
};

constexpr SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

}  // namespace

bool ReadPathSecurity(const std::string& path, std::string& sddl, std::string& error) {
  const std::u16string wide = text::NarrowToWide(path, text::NarrowCodePage);
  if (wide.empty()) {
    error = "the path does not convert";
    return false;
  }
  LocalMemory descriptor;
  const DWORD read = GetNamedSecurityInfoW(reinterpret_cast<LPCWSTR>(wide.c_str()),
                                           SE_FILE_OBJECT,  // ObjectType
                                           kOwnerAndDacl,   // SecurityInfo
                                           nullptr,         // ppsidOwner
                                           nullptr,         // ppsidGroup
                                           nullptr,         // ppDacl
                                           nullptr,         // ppSacl
                                           reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.out()));
  if (read != ERROR_SUCCESS) {
    error = "GetNamedSecurityInfoW failed, error " + std::to_string(read);
    return false;
  }
  LocalMemory text;
  ULONG length = 0;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1, kOwnerAndDacl,
                                                            reinterpret_cast<LPWSTR*>(text.out()), &length)) {
    error = "ConvertSecurityDescriptorToStringSecurityDescriptorW failed, error " + std::to_string(GetLastError());
    return false;
  }
  // SDDL is ASCII: the wide text narrows unchanged.
  const auto* characters = static_cast<const wchar_t*>(text.get());
  sddl.clear();
  for (ULONG i = 0; characters[i] != L'\0' && i < length; ++i) sddl.push_back(static_cast<char>(characters[i]));
  return true;
}

bool RunsAsLocalSystem() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const win32::KernelHandle owned(token);
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return false;
  return IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid) != FALSE;
}

}  // namespace velmora::platform
