// The product's build trusts no account beside SYSTEM, Administrators and TrustedInstaller to
// change its program's folder. Alone in its file so that a test program can link its own
// definition instead (app/outside_writers.h).
#include "app/outside_writers.h"

namespace velmora::app {

std::vector<std::string> ExtraTrustedAccounts() { return {}; }

}  // namespace velmora::app
