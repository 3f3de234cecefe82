#include "notify/task_notice.h"

#include "state/program_state.h"
#include "text/encoding.h"

namespace velmora::notify {
namespace {

struct KindLayout {
  std::uint16_t mainIcon;
  std::uint32_t commonButtons;
};

// The predefined task-dialog icons, as the 16-bit resource numbers the dialog expects.
constexpr std::uint16_t kIconMinus8 = 0xFFF8;
constexpr std::uint16_t kIconMinus7 = 0xFFF9;
constexpr std::uint16_t kInformationIcon = 0xFFFD;  // TD_INFORMATION_ICON
constexpr std::uint16_t kIconMinus6 = 0xFFFA;
constexpr std::uint16_t kIconMinus9 = 0xFFF7;
constexpr std::uint16_t kIconMinus5 = 0xFFFB;

constexpr std::int32_t kVerificationKind = 8;

std::optional<KindLayout> LayoutOf(std::int32_t kind) {
  using namespace platform;
  switch (kind) {
    case 1: return KindLayout{kIconMinus8, kTdcbfOkButton};
    case 2: return KindLayout{kIconMinus7, kTdcbfOkButton};
    case 3: return KindLayout{kInformationIcon, kTdcbfOkButton | kTdcbfCancelButton};
    case 4: return KindLayout{kInformationIcon, kTdcbfYesButton | kTdcbfNoButton | kTdcbfCancelButton};
    case 5: return KindLayout{kIconMinus6, kTdcbfOkButton};
    case 6: return KindLayout{kIconMinus9, kTdcbfOkButton};
    case 7: return KindLayout{kIconMinus5, kTdcbfOkButton};
    case kVerificationKind: return KindLayout{kInformationIcon, kTdcbfYesButton | kTdcbfNoButton};
    default: return std::nullopt;
  }
}

// GBK to UTF-16 with the program's own code page: converting with the system's code page would
// garble every Chinese text on a Windows set to another language.
std::u16string Wide(const std::string& gbk) { return text::NarrowToWide(gbk, text::NarrowCodePage); }

}  // namespace

const std::string& DefaultMainInstruction() {
  static const std::string text = text::Utf8ToNarrow("叮叮(〃'▽'〃)");
  return text;
}

std::optional<platform::TaskDialogRequest> BuildNoticeRequest(std::int32_t kind, const std::string& title,
                                                              const std::string& mainInstruction,
                                                              const std::string& content,
                                                              platform::WindowHandle owner,
                                                              const std::string& verificationText) {
  const std::optional<KindLayout> layout = LayoutOf(kind);
  if (!layout) return std::nullopt;
  platform::TaskDialogRequest request;
  request.owner = owner;
  request.flags = platform::kTdfPositionRelativeToWindow;
  request.commonButtons = layout->commonButtons;
  request.mainIcon = layout->mainIcon;
  request.windowTitle = Wide(title);
  request.mainInstruction = Wide(mainInstruction);
  request.content = Wide(content);
  if (kind == kVerificationKind) {
    request.flags |= platform::kTdfNoDefaultRadioButton;
    request.verification = true;
    request.verificationText = Wide(verificationText);
  }
  return request;
}

std::int32_t TaskNotice(std::int32_t kind, const std::string& title, const std::string& mainInstruction,
                        const std::string& content, platform::WindowHandle owner,
                        VerificationCheck* verification) {
  const std::optional<platform::TaskDialogRequest> request = BuildNoticeRequest(
      kind, title, mainInstruction, content, owner, verification != nullptr ? verification->text : std::string());
  if (!request) return kNothingShown;
  // A quiet or --check run has nobody at the screen: it reports through its exit code and log.
  const state::RunMode& mode = state::State().mode;
  if (mode.quiet || mode.checkOnly) return kNothingShown;
  const platform::TaskDialogResult result = platform::CurrentTaskDialogPresenter().Show(*request);
  if (verification != nullptr && request->verification) verification->checked = result.verificationChecked;
  return result.button;
}

std::int32_t ShowNotice(std::int32_t kind, const std::string& mainInstruction, const std::string& content,
                        platform::WindowHandle owner) {
  const std::string& instruction = mainInstruction.empty() ? DefaultMainInstruction() : mainInstruction;
  return TaskNotice(kind, kNoticeTitle, instruction, content, owner);
}

}  // namespace velmora::notify
