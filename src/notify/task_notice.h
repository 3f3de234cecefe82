// Task-dialog notices: every message the updater shows is a task dialog of a numbered kind.
//
// Kinds 1-7 pick an icon and a set of standard buttons; kind 8 asks a yes/no question with a
// verification check box; any other kind shows nothing. Texts are GBK and are converted with code
// page 936 whatever the system's code page, so notices read the same on every Windows.
// Each call blocks only its own thread until the dialog is closed; calls from several threads are
// independent. Thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/handles.h"
#include "platform/task_dialog.h"

namespace velmora::notify {

// The window title of every notice the program shows.
inline constexpr char kNoticeTitle[] = "Velmora - Update";

// The kinds the program's own notices use.
inline constexpr std::int32_t kFailureNoticeKind = 2;   // OK only: something could not be done
inline constexpr std::int32_t kQuestionNoticeKind = 3;  // OK and Cancel: a question, or a success that offers the product
inline constexpr std::int32_t kPartialNoticeKind = 5;   // OK only: the run ended with rows that failed

// Identifiers of the buttons that close a notice.
inline constexpr std::int32_t kIdOk = 1;
inline constexpr std::int32_t kIdCancel = 2;
inline constexpr std::int32_t kIdYes = 6;
inline constexpr std::int32_t kIdNo = 7;
inline constexpr std::int32_t kNothingShown = -1;

// The main instruction ShowNotice uses when it is given none: "叮叮(〃'▽'〃)" in GBK.
const std::string& DefaultMainInstruction();

// The verification check box of kind 8: `text` is its label; `checked` receives its state.
struct VerificationCheck {
  std::string text;
  bool checked = false;
};

// Shows a notice of `kind` and returns the identifier of the button that closed it (kIdOk,
// kIdCancel, kIdYes, kIdNo), or kNothingShown for an unknown kind or a dialog that could not be
// shown; nothing is ever shown in a quiet or --check run (state::RunMode). Closing the dialog with
// its close box counts as Cancel. `owner` 0: no owner. For kind 8,
// `verification` supplies the check box (an empty label when null) and receives its state.
std::int32_t TaskNotice(std::int32_t kind, const std::string& title, const std::string& mainInstruction,
                        const std::string& content, platform::WindowHandle owner = 0,
                        VerificationCheck* verification = nullptr);

// TaskNotice with the title kNoticeTitle; an empty main instruction becomes DefaultMainInstruction().
std::int32_t ShowNotice(std::int32_t kind, const std::string& mainInstruction, const std::string& content,
                        platform::WindowHandle owner = 0);

// The dialog that TaskNotice shows for these arguments; nothing for an unknown kind.
std::optional<platform::TaskDialogRequest> BuildNoticeRequest(std::int32_t kind, const std::string& title,
                                                              const std::string& mainInstruction,
                                                              const std::string& content,
                                                              platform::WindowHandle owner,
                                                              const std::string& verificationText);

}  // namespace velmora::notify
