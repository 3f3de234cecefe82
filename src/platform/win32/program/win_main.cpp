// The Windows program's entry point: splits the command line into arguments and hands them over,
// as GBK text, to the program's own entry.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "text/encoding.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*showCommand*/) {
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
