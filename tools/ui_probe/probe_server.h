// ui-probe serve: one probe process that answers many requests, so that the tests need not start
// a Wine process for every look at a window.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velmora::probe {

// The command a request names, run with its words; returns the command's exit code.
using RequestRunner = std::function<int(const std::vector<std::string>& words)>;

// Listens on 127.0.0.1 at a port of the system's choosing and prints {"serving":true,"port":N}.
// Each connection carries one request, a line of the command line's words separated by spaces,
// each sent as the hex digits of its UTF-8 bytes, and gets back the command's exit code on a line
// of its own, then the command's answer lines; the connection is closed then. The request "quit"
// ends the serving. Returns 0 when it ends, 1 when it could not listen.
int Serve(const RequestRunner& run);

}  // namespace velmora::probe
