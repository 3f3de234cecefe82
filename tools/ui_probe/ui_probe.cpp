// ui-probe: reads and drives the update window and task dialogs for the end-to-end tests.
//
//   ui-probe window|button [--title T] [--pid N] [--wait MS]         describe (JSON on stdout)
//   ui-probe grid [FIRST [COUNT]] [...]                               the grid, rows FIRST.. (all)
//   ui-probe windows [--title T] [--pid N]                            every window with the title
//   ui-probe press-button|click-button|minimise|close [...]           act on the window
//   ui-probe set-column-width COLUMN WIDTH [...]                      widen a grid column
//   ui-probe notice [--pid N] [--wait MS]                             describe a task dialog
//   ui-probe notice-press ID | notice-close | notice-check [...]      act on the task dialog
//   ui-probe code-pages                                               the ANSI and OEM code pages
//   ui-probe show-notice KIND MAIN CONTENT                            ShowNotice, prints the result
//   ui-probe task-notice KIND TITLE MAIN CONTENT [CHECK-TEXT]         TaskNotice, prints the result
//   ui-probe watch-windows STOP-FILE [--pid N] [--wait MS]            every window and task dialog
//                                                                     seen until STOP-FILE exists
//   ui-probe credential-dialog|credential-fill USER PASSWORD|credential-press ID [--pid N] [--wait MS]
//                                                                     the proxy-credential dialog
//   ui-probe pipe-send BYTES [--wait MS]                              a client of the update
//                                                                     service's pipe (BYTES: hex:...)
//   ui-probe pipe-squat STOP-FILE [--wait MS]                         makes the service's pipe first
//                                                                     and answers every client (pipe_squatter.h)
//   ui-probe serve                                                    answer requests over a
//                                                                     loopback socket (probe_server.h)
//
// Texts on the command line and in the output are UTF-8. The window is found by its title
// ("Update"; task dialogs: "Velmora - Update"), optionally of one process, waiting up to --wait
// milliseconds for it to appear. An argument "hex:E69BB4..." stands for the UTF-8 bytes it spells,
// so that Chinese texts reach the probe intact whatever the locale Wine runs in. Exit code 0 on success, 1 when the window is not found or the
// action fails, 2 on a usage error.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "automation/json_output.h"
#include "notify/task_notice.h"
#include "platform/codepage.h"
#include "automation/window_automation.h"
#include "credential_dialog.h"
#include "pipe_squatter.h"
#include "probe_answer.h"
#include "probe_server.h"
#include "service_pipe_probe.h"
#include "window_watch.h"

namespace {

using namespace velmora;
using namespace velmora::platform::automation;
using velmora::probe::JsonObject;

struct Options {
  std::string command;
  std::vector<std::string> positional;
  std::optional<std::string> title;
  std::uint32_t processId = 0;
  DWORD waitMs = 0;
};

std::string Utf8(const wchar_t* wide) {
  const std::wstring text(wide);
  return platform::WideToMultiByte(std::u16string(text.begin(), text.end()), 65001);
}

std::string DecodeArgument(const std::string& word) {
  if (word.rfind("hex:", 0) != 0 || word.size() % 2 != 0) return word;
  std::string bytes;
  for (std::size_t i = 4; i + 1 < word.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(word.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string Gbk(const std::string& utf8) {
  return platform::WideToMultiByte(platform::MultiByteToWide(utf8, 65001), 936);
}

int Print(const std::string& json, int exitCode) {
  probe::WriteAnswerLine(json);
  return exitCode;
}

int Usage() {
  std::fputs("usage: ui-probe COMMAND [ARGUMENTS] [--title T] [--pid N] [--wait MS]\n", stderr);
  return 2;
}

// The command line's words after the program's name, UTF-8.
std::vector<std::string> CommandLineWords() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return {};
  std::vector<std::string> words;
  for (int i = 1; i < count; ++i) words.push_back(Utf8(arguments[i]));
  LocalFree(arguments);
  return words;
}

std::optional<Options> ParseWords(const std::vector<std::string>& encodedWords) {
  std::vector<std::string> words;
  for (const std::string& word : encodedWords) words.push_back(DecodeArgument(word));
  if (words.empty()) return std::nullopt;

  Options options;
  options.command = words[0];
  for (std::size_t i = 1; i < words.size(); ++i) {
    const bool hasValue = i + 1 < words.size();
    if (words[i] == "--title" && hasValue) {
      options.title = words[++i];
    } else if (words[i] == "--pid" && hasValue) {
      options.processId = static_cast<std::uint32_t>(std::stoul(words[++i]));
    } else if (words[i] == "--wait" && hasValue) {
      options.waitMs = static_cast<DWORD>(std::stoul(words[++i]));
    } else {
      options.positional.push_back(words[i]);
    }
  }
  return options;
}

// Polls for the window every 50 ms until it appears or the wait is over.
platform::WindowHandle WaitForWindow(const std::string& title, const Options& options) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (const platform::WindowHandle window = FindTopWindow(title, options.processId)) return window;
    if (GetTickCount() - start >= options.waitMs) return 0;
    Sleep(50);
  }
}

int NotFound() { return Print(JsonObject().Add("found", false).Text(), 1); }

int Done(bool ok) { return Print(JsonObject().Add("ok", ok).Text(), ok ? 0 : 1); }

int ListWindows(const Options& options) {
  std::vector<std::string> windows;
  for (const platform::WindowHandle window : FindTopWindows(options.title.value_or("Update"), options.processId)) {
    if (const auto info = DescribeWindow(window)) windows.push_back(probe::WindowJson(*info));
  }
  return Print(JsonObject().AddRaw("windows", probe::JsonArray(windows)).Text(), 0);
}

int WindowCommand(const Options& options) {
  if (options.command == "windows") return ListWindows(options);
  const platform::WindowHandle window = WaitForWindow(options.title.value_or("Update"), options);
  if (window == 0) return NotFound();
  const std::string& command = options.command;
  if (command == "window") {
    const auto info = DescribeWindow(window);
    return info ? Print(JsonObject().Add("found", true).AddRaw("window", probe::WindowJson(*info)).Text(), 0)
                : NotFound();
  }
  if (command == "grid") {
    // grid [FIRST [COUNT]]: rows from FIRST (0-based) on, COUNT of them (all by default).
    const int first = options.positional.size() > 0 ? std::stoi(options.positional[0]) : 0;
    const int count = options.positional.size() > 1 ? std::stoi(options.positional[1]) : -1;
    const auto grid = ReadGrid(window, first, count);
    return grid ? Print(JsonObject().Add("found", true).AddRaw("grid", probe::GridJson(*grid)).Text(), 0) : NotFound();
  }
  const auto button = ReadButton(window);
  if (command == "button") {
    return button ? Print(JsonObject().Add("found", true).AddRaw("button", probe::ButtonJson(*button)).Text(), 0)
                  : NotFound();
  }
  if (command == "press-button") return Done(button && PressButton(button->handle));
  if (command == "click-button") {
    return Done(button && ClickAt(button->bounds.x + button->bounds.width / 2, button->bounds.y + button->bounds.height / 2));
  }
  if (command == "minimise") return Done(MinimiseWindow(window));
  if (command == "close") return Done(CloseWindow(window));
  if (command == "set-column-width" && options.positional.size() == 2) {
    return Done(SetGridColumnWidth(window, std::stoi(options.positional[0]), std::stoi(options.positional[1])));
  }
  return Usage();
}

// A task dialog being built or taken down can be visible without its texts or its buttons: such a
// dialog is not there yet (or any more), and is looked for again until the wait is over.
bool IsWhole(const TaskDialogInfo& dialog) {
  return !dialog.buttons.empty() && !(dialog.mainInstruction.empty() && dialog.content.empty());
}

int NoticeCommand(const Options& options) {
  const DWORD start = GetTickCount();
  platform::WindowHandle window = 0;
  std::optional<TaskDialogInfo> dialog;
  for (;;) {
    window = WaitForWindow(options.title.value_or(notify::kNoticeTitle), options);
    if (window != 0) dialog = ReadTaskDialog(window);
    if (dialog && IsWhole(*dialog)) break;
    if (GetTickCount() - start >= options.waitMs) return NotFound();
    Sleep(50);
  }
  const std::string& command = options.command;
  if (command == "notice") {
    return Print(JsonObject().Add("found", true).AddRaw("notice", probe::TaskDialogJson(*dialog)).Text(), 0);
  }
  if (command == "notice-close") return Done(CloseWindow(window));
  for (const ButtonInfo& button : dialog->buttons) {
    if (command == "notice-check" && button.checkBox) return Done(PressButton(button.handle));
    if (command == "notice-press" && options.positional.size() == 1 && !button.checkBox &&
        std::to_string(button.id) == options.positional[0]) {
      return Done(PressButton(button.handle));
    }
  }
  return Done(false);
}

int ShowNoticeCommand(const Options& options) {
  const std::vector<std::string>& words = options.positional;
  std::int32_t result = 0;
  bool checked = false;
  if (options.command == "show-notice" && words.size() == 3) {
    result = notify::ShowNotice(std::stoi(words[0]), Gbk(words[1]), Gbk(words[2]));
  } else if (options.command == "task-notice" && (words.size() == 4 || words.size() == 5)) {
    notify::VerificationCheck check;
    if (words.size() == 5) check.text = Gbk(words[4]);
    result = notify::TaskNotice(std::stoi(words[0]), Gbk(words[1]), Gbk(words[2]), Gbk(words[3]), 0, &check);
    checked = check.checked;
  } else {
    return Usage();
  }
  return Print(JsonObject().Add("result", static_cast<long long>(result)).Add("checked", checked).Text(), 0);
}

int Run(const std::vector<std::string>& words) {
  const std::optional<Options> options = ParseWords(words);
  if (!options) return Usage();
  const std::string& command = options->command;
  if (command == "code-pages") {
    return Print(JsonObject().Add("ansi", static_cast<unsigned>(GetACP())).Add("oem", static_cast<unsigned>(GetOEMCP())).Text(), 0);
  }
  if (command == "show-notice" || command == "task-notice") return ShowNoticeCommand(*options);
  if (command == "watch-windows" && options->positional.size() == 1) {
    const std::string titles[] = {options->title.value_or("Update"), notify::kNoticeTitle};
    return probe::WatchWindows(options->positional[0], titles, options->title ? 1 : 2, options->processId,
                               options->waitMs != 0 ? options->waitMs : 600'000);
  }
  if (command == "pipe-send" && options->positional.size() == 1) {
    return probe::PipeSend(options->positional[0], options->waitMs != 0 ? options->waitMs : 30'000);
  }
  if (command == "pipe-squat" && options->positional.size() == 1) {
    return probe::SquatServicePipe(options->positional[0], options->waitMs != 0 ? options->waitMs : 600'000);
  }
  if (command.rfind("notice", 0) == 0) return NoticeCommand(*options);
  if (command.rfind("credential-", 0) == 0) {
    return probe::CredentialDialogCommand(command, options->positional, options->processId, options->waitMs);
  }
  return WindowCommand(*options);
}

int RunGuarded(const std::vector<std::string>& words) {
  try {
    return Run(words);
  } catch (const std::exception&) {  // a number or hex text that does not parse
    return Usage();
  }
}

}  // namespace

int main() {
  const std::vector<std::string> words = CommandLineWords();
  if (words.size() == 1 && words[0] == "serve") return velmora::probe::Serve(RunGuarded);
  return RunGuarded(words);
}
