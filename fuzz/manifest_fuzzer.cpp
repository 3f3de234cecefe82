// Fuzz target: arbitrary bytes as the manifest server's answer, through the whole manifest loader.
//
// The bytes are the body of a 200 answer (UTF-8 text converted to GBK, then parsed). The run
// directory is an empty scratch folder, notices are swallowed and the end of the process becomes an
// exception, so every input either ends the program (no text, bad JSON, a refused path) or fills
// UpdateList. Every listed path must then stay below the run directory the way Windows resolves
// paths: no ":", not UNC-rooted, and never climbing above the root once "\" and "/" are separators,
// trailing dots and spaces are dropped from segments, "." is skipped and ".." goes up.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "state/process_control.h"
#include "state/program_state.h"
#include "platform/http_client.h"
#include "platform/processes.h"
#include "platform/task_dialog.h"
#include "text/encoding.h"
#include "update/manifest.h"
#include "update/run_directory.h"

namespace {

struct ProgramEnded {};

bool ThrowInsteadOfTerminating(std::uint32_t, std::uint32_t) { throw ProgramEnded{}; }

class Answer final : public velmora::platform::HttpClient {
 public:
  velmora::platform::HttpResponse Get(const std::string&, std::uint32_t) override { return response; }
  velmora::platform::HttpResponse response;
};

class Silent final : public velmora::platform::TaskDialogPresenter {
 public:
  velmora::platform::TaskDialogResult Show(const velmora::platform::TaskDialogRequest&) override { return {1, false}; }
};

// False when the path, appended to a run directory, would name something outside it.
bool ResolvesBelowRoot(const std::u16string& path) {
  if (path.find(u':') != std::u16string::npos) return false;
  if (path.size() >= 2 && (path[0] == u'\\' || path[0] == u'/') && (path[1] == u'\\' || path[1] == u'/')) return false;
  int depth = 0;
  std::u16string segment;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != u'\\' && path[i] != u'/') {
      segment.push_back(path[i]);
      continue;
    }
    if (segment != u"." && segment != u"..") {
      while (!segment.empty() && (segment.back() == u'.' || segment.back() == u' ')) segment.pop_back();
    }
    if (segment == u"..") {
      if (--depth < 0) return false;
    } else if (!segment.empty() && segment != u".") {
      ++depth;
    }
    segment.clear();
  }
  return true;
}

struct Setup {
  Setup() {
    runDirectory = std::filesystem::temp_directory_path() / ("velmora-manifest-fuzz-" + std::to_string(velmora::platform::CurrentProcessId()));
    std::filesystem::create_directories(runDirectory);
    velmora::update::ReplaceRunDirectory(velmora::text::Utf8ToNarrow(runDirectory.string()));
    velmora::platform::ReplaceHttpClient(&answer);
    velmora::platform::ReplaceTaskDialogPresenter(&silent);
    velmora::state::ReplaceProcessTermination(&ThrowInsteadOfTerminating);
  }
  ~Setup() {
    std::error_code ignored;
    std::filesystem::remove_all(runDirectory, ignored);
  }
  std::filesystem::path runDirectory;
  Answer answer;
  Silent silent;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Setup setup;
  velmora::state::ResetState();
  setup.answer.response.status = 200;
  setup.answer.response.body.assign(reinterpret_cast<const char*>(data), size);
  try {
    velmora::update::LoadManifest();
  } catch (const ProgramEnded&) {
    return 0;
  }
  for (const velmora::state::UpdateEntry& entry : velmora::state::State().updateList) {
    if (!ResolvesBelowRoot(velmora::text::NarrowToWide(entry.path, velmora::text::NarrowCodePage))) std::abort();
  }
  // The launch target is joined with "\": separators at its start only double that one, so they are
  // harmless; what follows must stay below.
  std::u16string run = velmora::text::NarrowToWide(velmora::state::State().launchTarget, velmora::text::NarrowCodePage);
  run.erase(0, run.find_first_not_of(u"\\/"));
  if (!run.empty() && !ResolvesBelowRoot(u"\\" + run)) std::abort();
  return 0;
}
