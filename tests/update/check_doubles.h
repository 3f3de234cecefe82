// Test doubles for the update check: the manifest request, the notices, the update window and the
// end of the process, with one fixture that installs them around a scratch run directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "state/process_control.h"
#include "state/program_state.h"
#include "platform/http_client.h"
#include "platform/task_dialog.h"
#include "platform/update_window.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "update/run_directory.h"

namespace velmora::update::testing {

// Thrown by the process-termination double, so that a test gets control back where the program
// would have ended.
struct ProgramEnded {
  std::uint32_t exitCode = 0;
};

inline bool ThrowInsteadOfTerminating(std::uint32_t /*processId*/, std::uint32_t exitCode) {
  throw ProgramEnded{exitCode};
}

// Everything the doubles saw, in order, as short lines ("get <url> <timeout>", "notice ...",
// "button off", "row 1 1", "text 1 3 0 KB/s", ...). Texts are shown as UTF-8.
using EventLog = std::vector<std::string>;

// Appends `event`: the doubles may be called from several threads at once (two download workers
// report to the window), so every append takes one lock. Tests read the log once the threads
// have ended.
inline void Append(EventLog& log, std::string event) {
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  log.push_back(std::move(event));
}

class FakeHttpClient final : public platform::HttpClient {
 public:
  explicit FakeHttpClient(EventLog& log) : log_(log) {}
  platform::HttpResponse Get(const std::string& url, std::uint32_t timeoutMs) override {
    Append(log_, "get " + url + " " + std::to_string(timeoutMs));
    const auto other = responses.find(url);
    return other != responses.end() ? other->second : response;
  }
  platform::HttpResponse response;                         // for every address not in `responses`
  std::map<std::string, platform::HttpResponse> responses;  // by address

 private:
  EventLog& log_;
};

class RecordingPresenter final : public platform::TaskDialogPresenter {
 public:
  explicit RecordingPresenter(EventLog& log) : log_(log) {}
  platform::TaskDialogResult Show(const platform::TaskDialogRequest& request) override {
    shown.push_back(request);
    Append(log_, "notice " + Utf8(request.mainInstruction) + " / " + Utf8(request.content));
    return {button, false};
  }
  static std::string Utf8(const std::u16string& wide) {
    return text::NarrowToUtf8(text::WideToNarrow(wide, text::NarrowCodePage));
  }
  std::vector<platform::TaskDialogRequest> shown;
  std::int32_t button = 1;  // the button that closes every notice

 private:
  EventLog& log_;
};

class RecordingWindow final : public platform::UpdateWindow {
 public:
  explicit RecordingWindow(EventLog& log) : log_(log) {}
  void InsertRow(int position, const std::string& firstCellText) override {
    Append(log_, "row " + std::to_string(position) + " " + text::NarrowToUtf8(firstCellText));
  }
  void SetCellText(int row, int column, const std::string& cellText) override {
    Append(log_, "text " + std::to_string(row) + " " + std::to_string(column) + " " + text::NarrowToUtf8(cellText));
  }
  void MakeProgressCell(int row, int column, const platform::ProgressCellSpec& cellSpec) override {
    Append(log_, "progress " + std::to_string(row) + " " + std::to_string(column) + " " +
                   std::to_string(cellSpec.value) + " " + std::to_string(cellSpec.minimum) + ".." +
                   std::to_string(cellSpec.maximum) + " bar " + std::to_string(cellSpec.barColour));
  }
  void SetProgressValue(int row, int column, std::int32_t value) override {
    Append(log_, "value " + std::to_string(row) + " " + std::to_string(column) + " " + std::to_string(value));
  }
  void EnableButton(bool enabled) override { Append(log_, enabled ? "button on" : "button off"); }
  void SetButtonCaption(const std::string& caption) override { Append(log_, "caption " + text::NarrowToUtf8(caption)); }
  void SetTimerInterval(std::uint32_t milliseconds) override { Append(log_, "timer " + std::to_string(milliseconds)); }

 private:
  EventLog& log_;
};

// A scratch run directory with every double installed; the program-wide state starts fresh.
class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state::ResetState();
    ReplaceRunDirectory(runDirectory.Narrow());
    platform::ReplaceHttpClient(&http);
    platform::ReplaceTaskDialogPresenter(&presenter);
    platform::ReplaceUpdateWindow(&window);
    state::ReplaceProcessTermination(&ThrowInsteadOfTerminating);
  }
  void TearDown() override {
    state::ReplaceProcessTermination(nullptr);
    platform::ReplaceUpdateWindow(nullptr);
    platform::ReplaceTaskDialogPresenter(nullptr);
    platform::ReplaceHttpClient(nullptr);
    ReplaceRunDirectory("");
    state::ResetState();
  }

  // The server answers `status` with the UTF-8 `body`.
  void ServerAnswers(const std::string& body, std::int32_t status = 200) {
    http.response.status = status;
    http.response.body = body;
  }

  // Writes a file of the product below the run directory; `relative` is a manifest path in UTF-8.
  void WriteProductFile(const std::string& relative, const std::string& bytes) {
    runDirectory.WriteFile(text::Utf8ToNarrow(relative.substr(1)), bytes);
  }

  std::vector<std::string> Notices() const {
    std::vector<std::string> notices;
    for (const std::string& event : log) {
      if (event.rfind("notice ", 0) == 0) notices.push_back(event.substr(7));
    }
    return notices;
  }

  velmora::testing::TempDir runDirectory;
  EventLog log;
  FakeHttpClient http{log};
  RecordingPresenter presenter{log};
  RecordingWindow window{log};
};

// A manifest entry as the server writes it (UTF-8); `path` is given as the program sees it ("\x").
struct ManifestFile {
  std::string name;
  std::string md5;
  std::string path;
};

// {"run":run,"data":[{"name":..,"md5":..,"url":"http://127.0.0.1/<name>","path":..}, ...]}, with the
// backslashes of the paths escaped.
inline std::string ManifestJson(const std::string& run, const std::vector<ManifestFile>& files) {
  auto quoted = [](const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
      if (c == '\\' || c == '"') out.push_back('\\');
      out.push_back(c);
    }
    return out + "\"";
  };
  std::string json = "{\"run\":" + quoted(run) + ",\"data\":[";
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (i > 0) json += ",";
    json += "{\"name\":" + quoted(files[i].name) + ",\"md5\":" + quoted(files[i].md5) +
            ",\"url\":" + quoted("http://127.0.0.1/" + files[i].name) + ",\"path\":" + quoted(files[i].path) + "}";
  }
  return json + "]}";
}

}  // namespace velmora::update::testing
