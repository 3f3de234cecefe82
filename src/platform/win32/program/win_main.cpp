// The Windows program's entry point: counts the command-line arguments and hands over to the
// program's own entry.
#include <windows.h>
#include <shellapi.h>

#include "app/entry.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*showCommand*/) {
  int count = 0;
  if (LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count)) LocalFree(arguments);
  return velmora::app::Entry(count > 0 ? count - 1 : 0);
}
