// ui-probe pipe-send: a client of the update service's pipe for the end-to-end tests.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::probe {

// Connects to the service's pipe (waiting at most `waitMs`), then tries a second connection while
// the first is open, sends `bytes` on the first and reads what comes back until the service
// closes the pipe or `waitMs` pass without a byte. Prints {"connected", "second", "closed",
// "bytes", "messages", "cells", "finished", "exitCode", "failedRows", "broken", "installed"} and returns 0 (1
// when it could not connect).
int PipeSend(const std::string& bytes, std::uint32_t waitMs);

}  // namespace velmora::probe
