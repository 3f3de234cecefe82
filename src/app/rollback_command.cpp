#include "app/rollback_command.h"

#include "download/completion.h"
#include "install/kept_release.h"
#include "install/locked_file_release.h"
#include "install/rollback.h"
#include "notify/task_notice.h"
#include "text/encoding.h"
#include "update/run_directory.h"

namespace velmora::app {
namespace {

std::string Gbk(const char* utf8) { return text::Utf8ToNarrow(utf8); }

std::string ProductOf(const install::KeptRelease& release) {
  return release.launchTarget.empty() ? std::string() : update::RunDirectory() + "\\" + release.launchTarget;
}

}  // namespace

RollbackResult RestoreKeptRelease(std::int32_t& heldFiles) {
  heldFiles = 0;
  const std::string runDirectory = update::RunDirectory();
  const std::optional<install::KeptRelease> release = install::ReadKeptRelease(runDirectory);
  if (!release) return RollbackResult::NothingKept;
  const std::string product = ProductOf(*release);
  if (!product.empty()) install::ReleaseFile(release->launchTarget, product);

  const install::RollbackOutcome outcome = install::RollBackToKeptRelease(runDirectory, *release);
  if (outcome.keptReleaseDamaged) return RollbackResult::KeptReleaseDamaged;
  if (!outcome.commit.committed) {
    heldFiles = static_cast<std::int32_t>(outcome.commit.failed.size());
    return RollbackResult::FilesHeld;
  }
  return RollbackResult::Restored;
}

void ShowRollbackResult(RollbackResult result, std::int32_t heldFiles, const std::string& product) {
  switch (result) {
    case RollbackResult::NothingKept:
      notify::ShowNotice(notify::kFailureNoticeKind, Gbk("恢复上一版本"), Gbk("没有可恢复的版本"));
      return;
    case RollbackResult::KeptReleaseDamaged:
      notify::ShowNotice(notify::kFailureNoticeKind, Gbk("恢复上一版本"), Gbk("上一版本的文件不完整，未能恢复"));
      return;
    case RollbackResult::FilesHeld:
      notify::ShowNotice(notify::kFailureNoticeKind, Gbk("恢复上一版本"),
                         Gbk("有") + std::to_string(heldFiles) + Gbk("个文件被占用，未能恢复上一版本"));
      return;
    case RollbackResult::Restored:
      if (notify::ShowNotice(notify::kQuestionNoticeKind, Gbk("已恢复上一版本"), Gbk("[确定]运行软件 [取消]退出")) ==
              notify::kIdOk &&
          !product.empty()) {
        download::RunElevated(product, "");
      }
      return;
  }
}

bool ConfirmRollback(std::string& product) {
  const std::optional<install::KeptRelease> release = install::ReadKeptRelease(update::RunDirectory());
  product = release ? ProductOf(*release) : std::string();
  if (!release) {
    ShowRollbackResult(RollbackResult::NothingKept, 0, product);
    return false;
  }
  return notify::ShowNotice(notify::kQuestionNoticeKind, Gbk("恢复上一版本"), Gbk("[确定]恢复到上一版本 [取消]退出")) ==
         notify::kIdOk;
}

int RunRollback() {
  std::string product;
  if (!ConfirmRollback(product)) return 0;
  std::int32_t held = 0;
  const RollbackResult result = RestoreKeptRelease(held);
  ShowRollbackResult(result, held, product);
  return 0;
}

}  // namespace velmora::app
