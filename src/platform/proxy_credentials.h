// Proxy credentials: what happens when a proxy answers a request with 407 (Proxy Authentication
// Required), provided by the platform layer.
//
// Every request of the platform's HTTP clients (platform/http_client.h, platform/streamed_request.h)
// goes through the system's proxy settings. A proxy that asks for credentials is answered with the
// system's proxy-credential dialog, owned by the update window, once that window exists and has
// allowed it (AllowProxyCredentialDialog). The credentials entered are kept in memory for the rest
// of the run and given to every later request (the manifest, its signature, the downloads on the
// worker threads, the whole-resource fallback); they are never written anywhere. One dialog at a
// time: requests that meet a 407 while it is shown wait for it and take its answer. A cancelled
// dialog ends the request, and every later one that meets a 407, with status 407.
//
// Before the call, and in runs that never make it (quiet runs, --check), no dialog is ever shown:
// a request that meets a 407 ends with status 407 (HttpResponse::status, StreamedRequest's status),
// so that its caller can report that the proxy asked for credentials.
//
// Windows: WinINet's InternetErrorDlg (ERROR_INTERNET_INCORRECT_PASSWORD). The POSIX layer has no
// HTTP client and no window: there the call does nothing.
#pragma once

#include "platform/handles.h"

namespace velmora::platform {

// From now on a proxy's 407 may be answered with the credential dialog, owned by `owner` (the
// update window). Thread-safe; called once the window exists.
void AllowProxyCredentialDialog(WindowHandle owner);

}  // namespace velmora::platform
