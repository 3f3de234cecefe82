#include "update/update_check.h"

#include "state/program_state.h"
#include "notify/task_notice.h"
#include "platform/update_window.h"
#include "text/encoding.h"
#include "update/manifest.h"
#include "update/program_end.h"

namespace velmora::update {
namespace {

// Grid columns the check fills besides column 0, the row number (see the update window's column table).
constexpr int kFileNameColumn = 1;
constexpr int kProgressColumn = 2;
constexpr int kSpeedColumn = 3;
constexpr int kStatusColumn = 7;

const std::string& NothingToUpdateCaption() {
  static const std::string text = text::Utf8ToNarrow("更新失败");
  return text;
}

const std::string& NothingToUpdateContent() {
  static const std::string text = text::Utf8ToNarrow("没有需要更新的文件");
  return text;
}

const std::string& ReadyStatus() {
  static const std::string text = text::Utf8ToNarrow("准备下载");
  return text;
}

}  // namespace

void UpdateCheck() {
  const platform::ProgressCellSpec progressCell{};  // 0 in 0..100, the window's bar colours
  const download::DownloadTask taskTemplate{};      // every row starts from this initial state
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  state::ProgramState& state = state::State();

  window.EnableButton(false);
  state.entryCount = LoadManifest();
  if (state.entryCount < 1) {
    // The empty list is never offered for download.
    notify::TaskNotice(notify::kFailureNoticeKind, notify::kNoticeTitle, NothingToUpdateCaption(), NothingToUpdateContent());
    EndProgram(RunOutcome::UpToDate);
  }

  for (int row = 1; row <= state.entryCount; ++row) {
    state::TaskRecord record;
    record.rowNumber = static_cast<std::int32_t>(state.taskList.size()) + 1;
    record.task = taskTemplate;
    record.workerThread = 0;
    state.taskList.push_back(std::move(record));

    window.InsertRow(row, std::to_string(row));  // column 0: the row number
    window.SetCellText(row, kFileNameColumn, state.updateList[static_cast<std::size_t>(row - 1)].path);
    window.MakeProgressCell(row, kProgressColumn, progressCell);
    window.SetCellText(row, kSpeedColumn, "0 KB/s");
    window.SetCellText(row, kStatusColumn, ReadyStatus());
  }
  window.EnableButton(true);
}

}  // namespace velmora::update
