#include "app/unattended_run.h"

#include "app/check_report.h"
#include "download/product_health.h"
#include "download/unattended_run.h"
#include "platform/standard_output.h"
#include "state/program_state.h"
#include "update/manifest.h"
#include "update/program_end.h"
#include "update/update_check.h"

namespace velmora::app {

int RunQuiet() {
  update::UpdateCheck();
  const download::RunEnd end = download::RunUnattendedDownloads();
  if (end.outcome == update::RunOutcome::Updated) update::ConsumeHandOffFile();
  if (end.outcome == update::RunOutcome::Updated && state::State().mode.runProduct) download::LaunchProduct();
  return update::FinishRun(end.outcome);
}

int RunCheckOnly() {
  // An origin of the administrator's is named first; the result line stays the last line.
  if (!state::State().origin.empty()) {
    platform::WriteStandardOutput("origin: " + state::State().origin + " (policy)\n");
  }
  const std::int32_t listed = update::LoadManifest();
  platform::WriteStandardOutput(CheckReportLine(state::State().updateList));
  return update::FinishRun(listed > 0 ? update::RunOutcome::UpdateAvailable : update::RunOutcome::UpToDate);
}

}  // namespace velmora::app
