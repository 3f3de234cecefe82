// stand-in-product: a GUI-subsystem program without a window that stands in for the product.
//
//   stand-in-product [ARGUMENTS...]                  records the start and exits at once
//   stand-in-product --hold SECONDS                  records the start, then stays alive SECONDS
//   stand-in-product --hold-file PATH SECONDS        opens PATH for reading and writing with share
//                                                    mode 0, records the start, keeps PATH open
//                                                    for SECONDS
//
// Every start appends one line of UTF-8 JSON to "<own executable>.starts.txt":
//   {"pid":123,"path":"Z:\\...\\Velmora.exe","arguments":["--hold","30"],"held":true}
// ("held" only with --hold-file: whether PATH could be opened). The line is written after the file
// is held, so a test that sees it knows the hold is in place. Exit code 0, or 2 on a usage error.
//
// A release that should not start ships "<own executable>.crash" beside it: the stand-in then
// records its start and crashes with an access violation (exit status 0xC0000005), without Wine's
// debugger: its own unhandled-exception filter ends it with the exception's code.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr, nullptr);
  return text;
}

std::string JsonString(const std::wstring& wide) {
  std::string out = "\"";
  for (const char c : Utf8(wide)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::wstring OwnPath() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path;
}

// Appends `line` to the record file; several copies may start at once, so each write is one append.
void AppendRecord(const std::wstring& recordPath, const std::string& line) {
  const HANDLE file = CreateFileW(recordPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

DWORD Milliseconds(const std::wstring& seconds) {
  const double value = std::wcstod(seconds.c_str(), nullptr);
  return value > 0 ? static_cast<DWORD>(value * 1000.0) : 0;
}

LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* exception) {
  TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

void CrashWhenFlagged(const std::wstring& own) {
  if (GetFileAttributesW((own + L".crash").c_str()) == INVALID_FILE_ATTRIBUTES) return;
  SetUnhandledExceptionFilter(EndWithExceptionCode);
  RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments;
  for (int i = 1; argv != nullptr && i < count; ++i) arguments.emplace_back(argv[i]);
  if (argv != nullptr) LocalFree(argv);

  DWORD holdMs = 0;
  HANDLE held = INVALID_HANDLE_VALUE;
  bool holdsFile = false;
  if (arguments.size() == 2 && arguments[0] == L"--hold") {
    holdMs = Milliseconds(arguments[1]);
  } else if (arguments.size() == 3 && arguments[0] == L"--hold-file") {
    holdsFile = true;
    held = CreateFileW(arguments[1].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    holdMs = Milliseconds(arguments[2]);
  } else if (!arguments.empty() && (arguments[0] == L"--hold" || arguments[0] == L"--hold-file")) {
    return 2;
  }

  const std::wstring own = OwnPath();
  std::string line = "{\"pid\":" + std::to_string(GetCurrentProcessId()) + ",\"path\":" + JsonString(own) +
                     ",\"arguments\":[";
  for (std::size_t i = 0; i < arguments.size(); ++i) line += (i ? "," : "") + JsonString(arguments[i]);
  line += "]";
  if (holdsFile) line += std::string(",\"held\":") + (held != INVALID_HANDLE_VALUE ? "true" : "false");
  line += "}\n";
  AppendRecord(own + L".starts.txt", line);
  CrashWhenFlagged(own);

  if (holdMs > 0) Sleep(holdMs);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  return 0;
}
