// Windows: CreateProcessW with a command line quoted as the C runtime reads it back, standard
// output through a pipe. Elsewhere: fork and execvp, standard output through a pipe.
#include "program_run.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>

#include "text/encoding.h"

namespace velmora::release {
namespace {

#ifdef _WIN32

// One argument as the C runtime's parser reads it back: quoted when it holds a space, a tab or a
// quote (or is empty); a quote is escaped with a backslash, and backslashes before a quote or
// the closing quote are doubled.
std::wstring QuotedArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

std::wstring Wide(const std::string& utf8) {
  const std::u16string wide = text::NarrowToWide(utf8, text::Utf8CodePage);
  return std::wstring(wide.begin(), wide.end());
}

#endif

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
  ProgramRun run;
#ifdef _WIN32
  std::wstring commandLine = QuotedArgument(Wide(program));
  for (const std::string& argument : arguments) commandLine += L" " + QuotedArgument(Wide(argument));
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  run.started = CreateProcessW(nullptr,             // lpApplicationName: searched from the command line
                               commandLine.data(),  // lpCommandLine
                               nullptr,             // lpProcessAttributes
                               nullptr,             // lpThreadAttributes
                               TRUE,                // bInheritHandles: the pipe's write end
                               0,                   // dwCreationFlags
                               nullptr,             // lpEnvironment
                               nullptr,             // lpCurrentDirectory
                               &startup, &process) != 0;
  CloseHandle(writeEnd);
  if (run.started) {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) run.output.append(buffer, got);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    run.exitCode = GetExitCodeProcess(process.hProcess, &code) ? static_cast<int>(code) : -1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(readEnd);
#else
  int ends[2];
  if (pipe(ends) != 0) return run;
  std::vector<std::string> texts{program};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  // Told apart from the program's own statuses: the child could not start the program.
  constexpr int kNotStarted = 127;
  const pid_t child = fork();
  if (child == 0) {
    dup2(ends[1], STDOUT_FILENO);
    close(ends[0]);
    close(ends[1]);
    execvp(argv[0], argv.data());
    _exit(kNotStarted);
  }
  close(ends[1]);
  if (child < 0) {
    close(ends[0]);
    return run;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(ends[0], buffer, sizeof buffer);
    if (got > 0) {
      run.output.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  close(ends[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.started = run.exitCode != kNotStarted;
#endif
  return run;
}

}  // namespace velmora::release
