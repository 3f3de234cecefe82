// The Windows program's entry point: narrows the DLL search to the system folder, splits the command
// line into arguments and hands them over, as GBK text, to the program's own entry.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "text/encoding.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

// Every DLL loaded from here on (by name, by the program or by the system on its behalf: WinINet's
// and WinVerifyTrust's helpers, COM servers, the themes) comes from the system folder only, never
// from the program's folder, which the search order would otherwise look in first. Looked up at
// run time: Windows 7 has the function only with KB2533623; without it, SetDllDirectoryW("") at
// least takes the current folder out of the search. The imports the loader resolved before this
// ran are described in docs/managed.md.
void SearchDllsInSystemFolderOnly() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDefault = kernel == nullptr ? nullptr
                                            : reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
                                                  GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*showCommand*/) {
  SearchDllsInSystemFolderOnly();
  int count = 0;
  std::vector<std::string> arguments;
  if (LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) {
      arguments.push_back(velmora::text::WideToNarrow(reinterpret_cast<const char16_t*>(split[i]), velmora::text::NarrowCodePage));
    }
    LocalFree(split);
  }
  return velmora::app::Entry(arguments);
}
