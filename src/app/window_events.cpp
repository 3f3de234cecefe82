#include "app/window_events.h"

#include "download/completion.h"
#include "download/scheduler.h"
#include "platform/proxy_credentials.h"
#include "platform/thread.h"
#include "state/program_state.h"
#include "update/update_check.h"

namespace velmora::app {

void OnWindowCreated(platform::WindowHandle window) {
  platform::AllowProxyCredentialDialog(window);
  state::State().checkThread = platform::StartThread([] { update::UpdateCheck(); });
}

platform::WindowEvents UpdateWindowEvents() {
  platform::WindowEvents events;
  events.created = OnWindowCreated;
  events.closing = [] { download::RequestStop(); };
  events.destroying = [] { download::StopThreads(); };
  events.buttonClicked = [] { download::StartDownloads(); };
  events.timerTick = [] { download::CheckCompletion(); };
  return events;
}

}  // namespace velmora::app
