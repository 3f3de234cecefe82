#include "credential_dialog.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "automation/json_output.h"
#include "automation/window_automation.h"
#include "platform/codepage.h"
#include "probe_answer.h"

namespace velmora::probe {
namespace {

using platform::automation::ButtonInfo;

std::string Utf8(const std::wstring& wide) {
  return platform::WideToMultiByte(std::u16string(wide.begin(), wide.end()), CP_UTF8);
}

std::wstring Wide(const std::string& utf8) {
  const std::u16string wide = platform::MultiByteToWide(utf8, CP_UTF8);
  return std::wstring(wide.begin(), wide.end());
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::string TextOf(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
  const int read = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(read, 0)));
  return Utf8(text);
}

// An edit control's text: GetWindowText reads only the caption the system keeps for a window of
// another process, which an edit control does not update; WM_GETTEXT asks the control itself.
std::string EditText(HWND edit) {
  const auto length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
  const auto read = SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::max<LRESULT>(read, 0)));
  return Utf8(text);
}

platform::Rect ScreenRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return platform::Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

std::vector<HWND> Children(HWND window) {
  std::vector<HWND> found;
  EnumChildWindows(
      window,
      [](HWND child, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  // Top to bottom, then left to right, as a person reads the dialog.
  std::stable_sort(found.begin(), found.end(), [](HWND a, HWND b) {
    const platform::Rect ra = ScreenRect(a);
    const platform::Rect rb = ScreenRect(b);
    return ra.y != rb.y ? ra.y < rb.y : ra.x < rb.x;
  });
  return found;
}

bool IsEdit(HWND window) { return lstrcmpiW(ClassOf(window).c_str(), L"Edit") == 0; }
bool IsPasswordEdit(HWND window) { return IsEdit(window) && (GetWindowLongPtrW(window, GWL_STYLE) & ES_PASSWORD) != 0; }

struct Search {
  std::uint32_t processId;
  HWND found = nullptr;
};

// The first visible top-level dialog (of the process, unless 0) that holds a password field.
HWND FindCredentialDialog(std::uint32_t processId) {
  Search search{processId};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& state = *reinterpret_cast<Search*>(data);
        if (!IsWindowVisible(window) || ClassOf(window) != L"#32770") return TRUE;
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (state.processId != 0 && owner != state.processId) return TRUE;
        for (HWND child : Children(window)) {
          if (IsPasswordEdit(child)) {
            state.found = window;
            return FALSE;
          }
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForDialog(std::uint32_t processId, std::uint32_t waitMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND dialog = FindCredentialDialog(processId)) return dialog;
    if (GetTickCount() - start >= waitMs) return nullptr;
    Sleep(50);
  }
}

int Print(const std::string& json, int exitCode) {
  WriteAnswerLine(json);
  return exitCode;
}

int Done(bool ok) { return Print(JsonObject().Add("ok", ok).Text(), ok ? 0 : 1); }

std::string Describe(HWND dialog) {
  std::vector<std::string> texts;
  std::vector<std::string> fields;
  std::vector<std::string> buttons;
  for (HWND child : Children(dialog)) {
    if (!IsWindowVisible(child)) continue;
    const std::wstring className = ClassOf(child);
    if (lstrcmpiW(className.c_str(), L"Static") == 0) {
      texts.push_back(Quote(TextOf(child)));
    } else if (IsEdit(child)) {
      const bool password = IsPasswordEdit(child);
      JsonObject field;
      field.Add("id", GetDlgCtrlID(child)).Add("password", password).AddRaw("bounds", RectJson(ScreenRect(child)));
      // A password field's text stays where it is: only its length is told.
      if (password) {
        field.Add("length", static_cast<long long>(SendMessageW(child, WM_GETTEXTLENGTH, 0, 0)));
      } else {
        field.Add("text", EditText(child));
      }
      fields.push_back(field.Text());
    } else if (lstrcmpiW(className.c_str(), L"Button") == 0) {
      ButtonInfo button;
      button.handle = reinterpret_cast<platform::WindowHandle>(child);
      button.id = GetDlgCtrlID(child);
      button.caption = TextOf(child);
      button.enabled = IsWindowEnabled(child) != FALSE;
      const LONG_PTR type = GetWindowLongPtrW(child, GWL_STYLE) & BS_TYPEMASK;
      button.checkBox = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
      if (button.checkBox) button.checked = SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED;
      button.bounds = ScreenRect(child);
      buttons.push_back(ButtonJson(button));
    }
  }
  const auto window = platform::automation::DescribeWindow(reinterpret_cast<platform::WindowHandle>(dialog));
  JsonObject description;
  if (window) description.AddRaw("window", WindowJson(*window));
  description.AddRaw("texts", JsonArray(texts)).AddRaw("fields", JsonArray(fields)).AddRaw("buttons", JsonArray(buttons));
  return description.Text();
}

// Types the user name into the dialog's first plain field and the password into its password field.
bool Fill(HWND dialog, const std::string& user, const std::string& password) {
  HWND userField = nullptr;
  HWND passwordField = nullptr;
  for (HWND child : Children(dialog)) {
    if (IsPasswordEdit(child)) {
      if (passwordField == nullptr) passwordField = child;
    } else if (IsEdit(child) && userField == nullptr) {
      userField = child;
    }
  }
  if (userField == nullptr || passwordField == nullptr) return false;
  const std::wstring wideUser = Wide(user);
  std::wstring widePassword = Wide(password);
  SendMessageW(userField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wideUser.c_str()));
  SendMessageW(passwordField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(widePassword.c_str()));
  const bool typed = EditText(userField) == user &&
                     SendMessageW(passwordField, WM_GETTEXTLENGTH, 0, 0) == static_cast<LRESULT>(widePassword.size());
  SecureZeroMemory(widePassword.data(), widePassword.size() * sizeof(wchar_t));
  return typed;
}

bool Press(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  return button != nullptr && platform::automation::PressButton(reinterpret_cast<platform::WindowHandle>(button));
}

}  // namespace

int CredentialDialogCommand(const std::string& command, const std::vector<std::string>& positional,
                            std::uint32_t processId, std::uint32_t waitMs) {
  const bool usage = (command == "credential-dialog" && positional.empty()) ||
                     (command == "credential-fill" && positional.size() == 2) ||
                     (command == "credential-press" && positional.size() == 1);
  if (!usage) {
    std::fputs("usage: ui-probe credential-dialog | credential-fill USER PASSWORD | credential-press ID\n", stderr);
    return 2;
  }
  HWND dialog = WaitForDialog(processId, waitMs);
  if (dialog == nullptr) return Print(JsonObject().Add("found", false).Text(), 1);
  if (command == "credential-dialog") {
    return Print(JsonObject().Add("found", true).AddRaw("dialog", Describe(dialog)).Text(), 0);
  }
  if (command == "credential-fill") return Done(Fill(dialog, positional[0], positional[1]));
  return Done(Press(dialog, std::stoi(positional[0])));
}

}  // namespace velmora::probe
