// A download run with every outside answer replaced: the update check's doubles (run directory,
// notices, window, end of the process), a scripted streamed request, the plain HTTP client for the
// fallback, and the elevated launch. The program-wide state starts with the rows a test gives.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "download/scripted_http.h"
#include "platform/shell.h"
#include "platform/streamed_request.h"
#include "state/program_state.h"
#include "update/check_doubles.h"
#include "update/fingerprint.h"
#include "update/staging_files.h"

namespace velmora::download::testing {

inline std::vector<std::string> launches;
inline bool RecordLaunch(const std::string& file, const std::string& parameters) {
  launches.push_back(text::NarrowToUtf8(file) + "|" + parameters);
  return true;
}

class DownloadRunTest : public update::testing::UpdateCheckTest {
 protected:
  void SetUp() override {
    UpdateCheckTest::SetUp();
    platform::ReplaceStreamingHttp(&stream);
    platform::ReplaceElevatedLaunch(RecordLaunch);
    launches.clear();
  }
  void TearDown() override {
    platform::ReplaceElevatedLaunch(nullptr);
    platform::ReplaceStreamingHttp(nullptr);
    UpdateCheckTest::TearDown();
  }

  // Lists a row for the manifest path `path` (UTF-8, "\" first) whose new bytes are `newBytes`.
  void ListRow(const std::string& path, const std::string& newBytes, const std::string& url = "http://127.0.0.1/f") {
    state::UpdateEntry entry;
    entry.name = "f";
    entry.md5 = update::Md5Hex(newBytes);
    entry.url = url;
    entry.path = text::Utf8ToNarrow(path);
    state::State().updateList.push_back(entry);
    state::State().taskList.emplace_back();
    state::State().taskList.back().rowNumber = static_cast<std::int32_t>(state::State().taskList.size());
    state::State().entryCount = static_cast<std::int32_t>(state::State().taskList.size());
  }

  // The server answers every streamed request with `body` (Content-Length included).
  void Serve(const std::string& body) {
    stream.answer = Answer{};
    stream.answer.contentLength = static_cast<std::int64_t>(body.size());
    stream.answer.pieces = {body};
  }

  std::filesystem::path Product(const std::string& path) const {
    return velmora::testing::PathFromNarrow(runDirectory.Narrow() + text::Utf8ToNarrow(path));
  }
  std::string ProductBytes(const std::string& path) const {
    std::ifstream in(Product(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The bytes staged for row `row` (1-based), "<none>" when it has no staging file.
  std::string StagedBytes(int row) const {
    const state::UpdateEntry& entry = state::State().updateList[static_cast<std::size_t>(row - 1)];
    std::ifstream in(velmora::testing::PathFromNarrow(update::StagingPathOf(runDirectory.Narrow() + entry.path, entry)),
                     std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("<none>");
  }
  // Every file below the run directory but the run log, relative, "/"-separated.
  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(runDirectory.Path())) {
      const std::string name = std::filesystem::relative(item.path(), runDirectory.Path()).generic_string();
      if (item.is_regular_file() && name != "Bin/Config/update.log") files.push_back(name);
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  std::vector<std::string> Texts(int row, int column) const {
    std::vector<std::string> texts;
    const std::string prefix = "text " + std::to_string(row) + " " + std::to_string(column) + " ";
    for (const std::string& event : log) {
      if (event.rfind(prefix, 0) == 0) texts.push_back(event.substr(prefix.size()));
    }
    return texts;
  }

  ScriptedHttp stream;
};

}  // namespace velmora::download::testing
