// The update window on Windows: a modal dialog without a parent, built from an in-memory
// template; its grid (grid_win32.cpp), the strip with the button, and the timer are created when
// the dialog starts. The dialog's thread owns every control and applies the operations that other
// threads post (window_messages.h).
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <vector>

#include "platform/codepage.h"
#include "platform/win32/grid_win32.h"
#include "platform/win32/window_messages.h"
#include "platform/window.h"

namespace velmora::platform {
namespace {

using win32::Grid;

constexpr std::uint32_t kNarrowCodePage = 936;
constexpr int kButtonId = 1001;
constexpr UINT_PTR kTimerId = 1;
// Applies pending changes now and then even when no wake-up arrives (a writer killed between
// queueing a change and posting, or a full message queue).
constexpr UINT_PTR kApplyTimerId = 2;
constexpr UINT kApplyTimerMs = 250;
// A wake-up applies what is pending at most this often; one that comes sooner is answered by a
// one-shot timer at the end of the interval. Under Wine each visit of the window's thread (the
// message, the texts converted, the grid redrawn) costs about as much as a small file's whole
// transfer, and a release of 1,000 small files would otherwise redraw the grid for every file.
constexpr UINT_PTR kDeferredApplyTimerId = 3;
constexpr DWORD kApplyIntervalMs = 60;
constexpr DWORD kWindowStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME;

std::wstring Wide(const std::string& gbk) {
  const std::u16string wide = MultiByteToWide(gbk, kNarrowCodePage);
  return std::wstring(wide.begin(), wide.end());
}

struct WindowContext {
  const WindowDesign& design;
  const WindowEvents& events;
  Grid grid;
  HFONT font = nullptr;
  HWND strip = nullptr;
  HWND button = nullptr;
  DWORD lastApplyTick = 0;      // when pending changes were last applied
  bool applyDeferred = false;   // the one-shot timer of kDeferredApplyTimerId is set

  WindowContext(const WindowDesign& d, const WindowEvents& e) : design(d), events(e) {}
  ~WindowContext() {
    if (font != nullptr) DeleteObject(font);
  }
};

// The strip holds the button; it passes the button's notifications on to the window.
LRESULT CALLBACK StripProc(HWND strip, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                           DWORD_PTR /*data*/) {
  if (message == WM_COMMAND) return SendMessageW(GetParent(strip), message, wParam, lParam);
  if (message == WM_NCDESTROY) RemoveWindowSubclass(strip, StripProc, 0);
  return DefSubclassProc(strip, message, wParam, lParam);
}

HFONT CreateDesignFont(const FontSpec& fontSpec) {
  const std::wstring face = Wide(fontSpec.face);
  return CreateFontW(fontSpec.height, 0, 0, 0, fontSpec.weight,
                     FALSE, FALSE, FALSE,  // italic, underline, strike-out
                     fontSpec.charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

void SetTimerInterval(HWND window, std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    KillTimer(window, kTimerId);
  } else {
    SetTimer(window, kTimerId, milliseconds, nullptr);
  }
}

void CreateComponents(HWND window, WindowContext& context) {
  const WindowDesign& design = context.design;
  const HINSTANCE instance = GetModuleHandleW(nullptr);

  // Outer size as designed, centred on the screen.
  const Rect placed =
      CentredOnScreen(design.width, design.height, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  SetWindowPos(window, nullptr, placed.x, placed.y, placed.width, placed.height, SWP_NOZORDER | SWP_NOACTIVATE);

  context.font = CreateDesignFont(design.font);
  context.grid.Create(window, design, context.font);

  context.strip = CreateWindowExW(WS_EX_CONTROLPARENT, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                                  design.strip.x, design.strip.y, design.strip.width, design.strip.height, window,
                                  nullptr, instance, nullptr);
  SetWindowSubclass(context.strip, StripProc, 0, 0);

  const std::wstring caption = Wide(design.buttonCaption);
  // Disabled until the update check has listed the files and enables it: a click before that,
  // while the list is still empty, would start a run of nothing.
  context.button = CreateWindowExW(0, L"BUTTON", caption.c_str(),
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON,
                                   design.button.x, design.button.y, design.button.width, design.button.height,
                                   context.strip, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)), instance,
                                   nullptr);
  if (context.font != nullptr) SendMessageW(context.button, WM_SETFONT, reinterpret_cast<WPARAM>(context.font), FALSE);

  SetTimerInterval(window, design.timerInterval);
}

void ApplyPendingChanges(HWND window, WindowContext& context) {
  if (context.applyDeferred) {
    KillTimer(window, kDeferredApplyTimerId);
    context.applyDeferred = false;
  }
  context.lastApplyTick = GetTickCount();
  win32::WindowTarget target(window, context.grid, context.button, kTimerId);
  if (win32::ApplyUpdateWindowChanges(target) > 0) context.grid.ShowChanges();
}

// A wake-up. Cell changes are put off until the interval has passed; until then no writer posts
// another wake-up for cells (the pending changes remember that the window was woken), so a
// deferred one costs nothing more. Insertions, button and timer changes are applied at once, with
// whatever else is pending: the button disabled by a click, or the timer stopped before the
// release is committed, must not wait behind a timer while another click or tick comes in.
void OnApplyWake(HWND window, WindowContext& context) {
  if (win32::UpdateWindowOrderedChangesPending()) {
    ApplyPendingChanges(window, context);
    return;
  }
  if (context.applyDeferred) return;
  const DWORD since = GetTickCount() - context.lastApplyTick;
  if (since < kApplyIntervalMs && SetTimer(window, kDeferredApplyTimerId, kApplyIntervalMs - since, nullptr) != 0) {
    context.applyDeferred = true;
    return;
  }
  ApplyPendingChanges(window, context);
}

INT_PTR CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* context = reinterpret_cast<WindowContext*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
    CreateComponents(window, *context);
    win32::OpenUpdateWindowChanges(window);
    SetTimer(window, kApplyTimerId, kApplyTimerMs, nullptr);
    if (context->events.created) context->events.created(reinterpret_cast<WindowHandle>(window));
    return TRUE;
  }
  auto* context = reinterpret_cast<WindowContext*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (context == nullptr) return FALSE;

  switch (message) {
    case win32::kApplyChangesMessage:
      OnApplyWake(window, *context);
      return TRUE;
    case win32::kApplyChangesNowMessage:
      ApplyPendingChanges(window, *context);
      ::UpdateWindow(window);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED) {
        if (context->events.buttonClicked) context->events.buttonClicked();
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {  // the close box, Alt+F4 and Escape
        if (context->events.closing) context->events.closing();
        EndDialog(window, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      if (context->events.closing) context->events.closing();
      EndDialog(window, 0);
      return TRUE;
    case WM_TIMER:
      if (wParam == kApplyTimerId || wParam == kDeferredApplyTimerId) {
        ApplyPendingChanges(window, *context);
      } else if (wParam == kTimerId && context->events.timerTick) {
        context->events.timerTick();
      }
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == context->grid.Handle() && header->code == LVN_GETDISPINFOW) {
        context->grid.OnGetDisplayInfo(*reinterpret_cast<NMLVDISPINFOW*>(lParam));
        return TRUE;
      }
      if (header->hwndFrom == context->grid.Handle() && header->code == NM_CUSTOMDRAW) {
        const LRESULT result = context->grid.OnCustomDraw(*reinterpret_cast<const NMLVCUSTOMDRAW*>(lParam));
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return FALSE;
    }
    case WM_DESTROY:
      // From here on other threads' operations are dropped; then the threads are stopped.
      win32::CloseUpdateWindowChanges();
      KillTimer(window, kTimerId);
      KillTimer(window, kApplyTimerId);
      KillTimer(window, kDeferredApplyTimerId);
      if (context->events.destroying) context->events.destroying();
      return TRUE;
    default:
      return FALSE;
  }
}

// An empty dialog template: style, no controls, no menu, the default class, the caption. The size
// is set in pixels when the dialog starts.
std::vector<WORD> DialogTemplate(const std::wstring& caption) {
  std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  auto* dialog = reinterpret_cast<DLGTEMPLATE*>(words.data());
  dialog->style = kWindowStyle;
  dialog->dwExtendedStyle = WS_EX_APPWINDOW;
  dialog->cdit = 0;
  words.push_back(0);  // menu: none
  words.push_back(0);  // class: the dialog class
  words.insert(words.end(), caption.begin(), caption.end());
  words.push_back(0);
  return words;
}

}  // namespace

bool ShowModalWindow(const WindowDesign& design, const WindowEvents& events) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  WindowContext context(design, events);
  const std::vector<WORD> dialog = DialogTemplate(Wide(design.caption));
  const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                                 reinterpret_cast<const DLGTEMPLATE*>(dialog.data()),
                                                 nullptr,  // hWndParent: none, the window stands alone
                                                 WindowProc, reinterpret_cast<LPARAM>(&context));
  return result != -1;
}

}  // namespace velmora::platform
