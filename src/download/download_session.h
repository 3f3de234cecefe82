// The internet session every download request opens: an agent name that changes with the tick
// count, and the system's proxy settings (with automatic proxy detection only when the connection
// goes through a proxy).
#pragma once

#include <memory>

#include "platform/streamed_request.h"

namespace velmora::download {

// A session of the current streamed requests (platform::CurrentStreamingHttp); null when none opens.
std::unique_ptr<platform::InternetSession> OpenDownloadSession();

}  // namespace velmora::download
