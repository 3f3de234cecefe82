// ui-probe credential-*: the system's proxy-credential dialog (WinINet's InternetErrorDlg), found
// as a visible top-level dialog with a password field, of any title (it follows the locale).
//
//   ui-probe credential-dialog [--pid N] [--wait MS]       describe it: window, texts, fields, buttons
//   ui-probe credential-fill USER PASSWORD [...]           type the user name and the password
//   ui-probe credential-press ID [...]                     press a button (1 OK, 2 Cancel)
//
// The password field's text is never read back, only its length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::probe {

// Runs one of the commands above (`command` without its options); prints the JSON answer and
// returns the exit code (0 done, 1 not found or failed, 2 usage).
int CredentialDialogCommand(const std::string& command, const std::vector<std::string>& positional,
                            std::uint32_t processId, std::uint32_t waitMs);

}  // namespace velmora::probe
