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

constexpr std::int32_t kFailureNoticeKind = 2;
constexpr std::int32_t kQuestionNoticeKind = 3;

std::string Gbk(const char* utf8) { return text::Utf8ToNarrow(utf8); }

}  // namespace

int RunRollback() {
  const std::string runDirectory = update::RunDirectory();
  const std::optional<install::KeptRelease> release = install::ReadKeptRelease(runDirectory);
  if (!release) {
    notify::ShowNotice(kFailureNoticeKind, Gbk("恢复上一版本"), Gbk("没有可恢复的版本"));
    return 0;
  }
  if (notify::ShowNotice(kQuestionNoticeKind, Gbk("恢复上一版本"), Gbk("[确定]恢复到上一版本 [取消]退出")) !=
      notify::kIdOk) {
    return 0;
  }
  const std::string product = release->launchTarget.empty() ? std::string() : runDirectory + "\\" + release->launchTarget;
  if (!product.empty()) install::ReleaseFile(release->launchTarget, product);

  const install::RollbackOutcome outcome = install::RollBackToKeptRelease(runDirectory, *release);
  if (outcome.keptReleaseDamaged) {
    notify::ShowNotice(kFailureNoticeKind, Gbk("恢复上一版本"), Gbk("上一版本的文件不完整，未能恢复"));
    return 0;
  }
  if (!outcome.commit.committed) {
    notify::ShowNotice(kFailureNoticeKind, Gbk("恢复上一版本"),
                       Gbk("有") + std::to_string(outcome.commit.failed.size()) + Gbk("个文件被占用，未能恢复上一版本"));
    return 0;
  }
  if (notify::ShowNotice(kQuestionNoticeKind, Gbk("已恢复上一版本"), Gbk("[确定]运行软件 [取消]退出")) == notify::kIdOk &&
      !product.empty()) {
    download::RunElevated(product, "");
  }
  return 0;
}

}  // namespace velmora::app
