// The test programs' accounts trusted to change the program's folder (app/outside_writers.h).
// Wine runs every program as one account and names it the owner of every file, so the product's
// build refuses --install-service and --schedule anywhere under Wine. The test programs trust that
// account as the product trusts Administrators; the DACL Wine makes of a file's mode (the "other"
// bits become Everyone's rights) is still judged, so a folder anyone may write is still refused.
#include "app/outside_writers.h"

namespace velmora::app {

std::vector<std::string> ExtraTrustedAccounts() { return {"S-1-5-21-0-0-0-1000"}; }

}  // namespace velmora::app
